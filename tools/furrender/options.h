// furrender's command line: the options, their checks and the usage text.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace furrender {

// The hair image formats, from the extension of --out.
enum class image_kind { none, png, iff, rla, exr };

// A rectangle of output pixels, inclusive, row 0 at the bottom.
struct pixel_box {
    bool on = false;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct options {
    // Input files.
    std::string hair, assign, scene;
    std::vector<std::string> curves;  // guide-curve files, loaded in order
    int first_frame = 1, last_frame = 1;

    // Outputs (names may hold a frame pattern, see frame_file_name).
    std::string out, depth, zbuff, atmos;
    image_kind out_kind = image_kind::none;
    std::string deep;           // deep OpenEXR image
    std::string export_curves;  // the rendered hairs as curves (.usda, .obj)

    // Shaded surfaces under the hair, and their colours by model name.
    bool surfaces = false;
    std::vector<std::pair<std::string, std::vector<float>>> surface_colors;

    // Render settings.
    int width = 720, height = 486;
    int subpixel = 1;
    float gamma = 1.7f;
    int list_size = 5;
    int merge_mode = 0;
    float merge_exponent = 1.0f;
    int tess = 4;
    bool backface = false;
    // Motion blur: the shutter-close scene is close_scene's file of the
    // frame, or the next frame's file of scene when close_scene is empty.
    bool motion_blur = false;
    std::string close_scene;
    float shutter = 1.0f;
    float motion_step = 1.0f;
    pixel_box crop, region;
    bool has_background = false;
    float background[3] = {0.0f, 0.0f, 0.0f};
    bool has_depth_range = false;
    float near_z = 0.0f, far_z = 0.0f;

    // Shadow passes.
    std::string shadow_dir;      // where the maps go; empty: a temporary folder
    bool reuse_shadows = false;  // read the maps in shadow_dir instead of rendering them
    bool no_shadows = false;     // no shadow multipliers in the final render
    bool shadow_debug = false;   // also write each map's debug picture

    // Processes that draw the hair (0: one per processor), and the band of
    // rows this run draws: band tile of tiles (one band: the whole image).
    int threads = 0;
    int tile = 0, tiles = 1;

    // Run control.
    int verbose = 0;
    bool quiet = false;
    bool dump = false;
    bool count_fragments = false;  // print the fragments kept (benchmarks)
    int hash = 10007;
    bool help = false;
};

// Reads the command line into opts. Returns true when it is usable; false
// with the reason in error otherwise (the caller prints the usage and exits
// with status 2). --help sets opts.help and stops the checks.
bool parse_options(int argc, char** argv, options& opts, std::string& error);

// The usage text: the synopsis and one line per option.
std::string usage_text();

// An output name for a frame: each run of '#' becomes the frame number
// zero-padded to the run's length, a printf conversion %d or %0Nd the
// number as printf writes it; other text is kept ("%%" is one '%').
std::string frame_file_name(const std::string& pattern, int frame);

// Whether a name holds a frame pattern that frame_file_name replaces.
bool has_frame_pattern(const std::string& pattern);

}  // namespace furrender
