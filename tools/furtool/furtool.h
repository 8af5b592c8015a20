// furtool's commands, their options and the jobs that run them.
#pragma once

#include <string>
#include <vector>

#include "korvofur/korvofur.h"
#include "tool_options.h"

namespace furtool {

// A failure that ends the job with status 1 after its message.
struct job_error {
    std::string message;
};

// The options of every command (each reads its own).
struct options {
    // The scene.
    std::string hair, assign, scene;
    int frame = 1;
    std::vector<std::string> curves;
    int verbose = 0;
    int hash = 10007;

    // Maps and exports.
    int area_mode = 1;
    int map_width = 256, map_height = 256;
    bool no_maps = false, fill = false, update_hair = false, one_file = false;
    std::string out_dir = ".";
    std::string out;  // the curve file of curves, the picture of assemble
    std::string prefix, suffix;
    bool has_prefix = false;
    bool has_default_direction = false;
    float default_direction[3] = {0.0f, 0.0f, 0.0f};
    std::vector<DirectionMapStruct> model_directions;

    // Arguments that are not options (the files of curves-check).
    std::vector<std::string> files;
    bool help = false;
};

// One command: its name, what it does, its own options and its job (which
// returns the exit status or throws job_error).
struct command {
    const char* name;
    const char* purpose;
    const korvo_tools::option_entry* option_table;
    int option_count;
    bool reads_scene;  // takes the scene options and loads one frame
    int (*run)(const options&);
};

int run_equalize(const options& o);
int run_direction(const options& o);
int run_obj(const options& o);
int run_roots(const options& o);
int run_curves(const options& o);
int run_curves_check(const options& o);
int run_assemble(const options& o);

// "X,Y,Z" (every model) or "NAME=X,Y,Z" (one model) into the options.
bool read_direction(const std::string& value, options& o);

// Reads the arguments after the command name. False with the reason in
// error for a bad command line; --help sets o.help and stops.
bool parse_options(const command& c, int argc, char** argv, options& o, std::string& error);

// The usage of a command, or of furtool itself for null.
std::string usage_text(const command* c);

}  // namespace furtool
