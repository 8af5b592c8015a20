// What the command-line tools share: option value readers, the options that
// name a scene (hair description, assignment and scene files, frame, guide
// curves) and the loading of guide-curve files.
#pragma once

#include <string>
#include <vector>

namespace korvo_tools {

// --- Option values: each reader takes the whole text or fails. ----------------

// An integer within [lo, hi].
bool read_int(const std::string& s, long lo, long hi, int& out);
// A finite float.
bool read_float(const std::string& s, float& out);
// Splits s at each separator.
std::vector<std::string> split(const std::string& s, char sep);
// "WxH" with both sides within [1, max].
bool read_size(const std::string& s, int max, int& width, int& height);
// "X,Y,Z".
bool read_vector(const std::string& s, float out[3]);

// --- Bands of rows ---------------------------------------------------------------

// Rows row0 ... row1 - 1.
struct row_band {
    int row0 = 0, row1 = 0;
};

// Band `band` of `bands` equal bands of the rows first ... last - 1; the
// first bands take one row more when the rows do not divide evenly. The
// bands of furrender --tile and of furtool assemble.
row_band band_of(int first, int last, int band, int bands);

// --- Scene options -------------------------------------------------------------

// One option of a command: its name, the placeholder of its value (null for
// a flag) and its line of help.
struct option_entry {
    const char* name;
    const char* value;
    const char* help;
};

// The guide-curve option, in the tables of every command that grows hair.
extern const option_entry kCurvesOption;

// Loads every guide-curve file into the host curve registry, in order.
// False with "<file>:<line>: <reason>" in error at the first bad file.
bool load_guide_curves(const std::vector<std::string>& files, std::string& error);

// Every input must be a readable regular file: the text readers' scanners
// end the process on a directory or a device. Empty when path is one, else
// "cannot read <what> "<path>": <reason>".
std::string unreadable_input(const std::string& path, const char* what);

// The value of the option entry that arg ("--name" or "--name=value") names:
// the text after '=', else the next argument, which i then moves on to.
// False with "--<name> needs a value <placeholder>" in error when there is
// none.
bool option_value(const option_entry& entry, const std::string& arg, int& i, int argc, char** argv,
                  std::string& value, std::string& error);

// The usage lines of a table of options.
std::string option_lines(const option_entry* options, int count);

}  // namespace korvo_tools
