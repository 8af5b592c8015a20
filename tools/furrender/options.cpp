#include "options.h"

#include "tool_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvofur/korvofur.h"

namespace furrender {

namespace {

using korvo_tools::option_entry;
using korvo_tools::read_float;
using korvo_tools::read_int;
using korvo_tools::split;

const option_entry kOptions[] = {
    {"hair", "FILE", "hair description file (required)"},
    {"assign", "FILE", "assignment file (required)"},
    {"scene", "BASE", "scene files: BASE.0001.kiv for frame 1 (required)"},
    {"frame", "N", "render frame N (default 1)"},
    {"frames", "A-B", "render frames A to B"},
    korvo_tools::kCurvesOption,
    {"out", "FILE", "hair image: .png (straight alpha), .iff, .rla or .exr"},
    {"size", "WxH", "image size in pixels (default 720x486)"},
    {"subpixel", "N", "N x N samples per pixel (default 1)"},
    {"gamma", "G", "gamma written into RLA image headers (default 1.7)"},
    {"list-size", "N", "hair fragments kept per sample (default 5)"},
    {"merge-mode", "M", "merging of one hair's pieces: 0, 1 or 2 (default 0)"},
    {"merge-exponent", "E", "exponent of merge mode 2 (default 1)"},
    {"tess", "N", "NURBS tessellation of the geometry z-buffer (default 4)"},
    {"backface", nullptr, "spot lights skip hair whose surface turns away"},
    {"motion-blur", nullptr, "blur the motion from the frame's scene to the next one's"},
    {"close-scene", "BASE", "shutter-close scenes: BASE's file of each frame"},
    {"shutter", "S", "shutter close, 0 to 1 of the way there (default 1)"},
    {"motion-step", "Q", "step between drawn motion copies, 1/32 to 32 (default 1)"},
    {"crop", "X0,Y0,X1,Y1", "render only these pixels (inclusive, row 0 at bottom)"},
    {"region", "X0,Y0,X1,Y1", "draw only these pixels; the image keeps its size"},
    {"background", "R,G,B", "flatten the PNG over this colour (0 to 1 each)"},
    {"depth", "FILE", "depth image of hair and geometry (IFF, -1/distance; .exr: Z)"},
    {"deep", "FILE", "deep OpenEXR image from the fragment lists (.exr)"},
    {"surfaces", nullptr, "shade the scene's surfaces under the hair (.png, .exr)"},
    {"surface-color", "MODEL=R,G,B", "colour of one model's surfaces (default grey)"},
    {"export-curves", "FILE", "the rendered hairs as curves: .usda or .obj"},
    {"zbuff", "FILE", "grey picture of the geometry depth (RLA)"},
    {"atmos", "FILE", "atmosphere image (RLA; needs a fog in the hair file)"},
    {"near", "Z", "near end of the depth range of an .rla image; with .exr adds Z"},
    {"far", "Z", "far end of it (default: the scene camera's clip)"},
    {"shadow-dir", "DIR", "shadow map files go to DIR (default: maps kept in memory)"},
    {"reuse-shadows", nullptr, "use the maps already in --shadow-dir"},
    {"no-shadows", nullptr, "render without shadow maps and auto-shading"},
    {"shadow-debug", nullptr, "also write each map's picture (shadowmap_LIGHT.N.rla)"},
    {"threads", "N", "draw the hair on N processes (default: every processor)"},
    {"tile", "I/N", "draw only band I of N equal bands of rows (0 at the bottom)"},
    {"verbose", "N", "library messages: 3 warnings, 7 progress (default 0)"},
    {"quiet", nullptr, "print nothing but errors; no progress display"},
    {"dump", nullptr, "print the databases of the first frame and exit"},
    {"count-fragments", nullptr, "print each frame's hair fragments kept in samples"},
    {"hash", "N", "name and assignment table size (default 10007)"},
    {"help", nullptr, "print this help and exit"},
};

const option_entry* find_option(const std::string& name) {
    for (const option_entry& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

bool read_box(const std::string& s, pixel_box& box) {
    const std::vector<std::string> p = split(s, ',');
    constexpr long kMax = 1 << 20;
    if (p.size() != 4 || !read_int(p[0], 0, kMax, box.x0) || !read_int(p[1], 0, kMax, box.y0) ||
        !read_int(p[2], 0, kMax, box.x1) || !read_int(p[3], 0, kMax, box.y1))
        return false;
    box.on = true;
    return true;
}

bool read_frames(const std::string& s, int& first, int& last) {
    const std::size_t dash = s.find('-', 1);
    if (dash == std::string::npos) return false;
    return read_int(s.substr(0, dash), 0, 9999999, first) &&
           read_int(s.substr(dash + 1), 0, 9999999, last) && first <= last;
}

image_kind kind_of(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return image_kind::none;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png") return image_kind::png;
    if (ext == "iff") return image_kind::iff;
    if (ext == "rla") return image_kind::rla;
    if (ext == "exr") return image_kind::exr;
    return image_kind::none;
}

// Stores the value of one option; false with the reason when it is unusable.
bool apply(const std::string& name, const std::string& v, options& o, std::string& error) {
    constexpr long kBig = 1L << 30;
    bool ok = true;
    if (name == "hair") {
        o.hair = v;
    } else if (name == "assign") {
        o.assign = v;
    } else if (name == "scene") {
        o.scene = v;
    } else if (name == "frame") {
        ok = read_int(v, 0, 9999999, o.first_frame);
        o.last_frame = o.first_frame;
    } else if (name == "frames") {
        ok = read_frames(v, o.first_frame, o.last_frame);
    } else if (name == "threads") {
        ok = read_int(v, 1, 1024, o.threads);
    } else if (name == "tile") {
        const std::size_t slash = v.find('/');
        ok = slash != std::string::npos && read_int(v.substr(0, slash), 0, 65535, o.tile) &&
             read_int(v.substr(slash + 1), 1, 65536, o.tiles) && o.tile < o.tiles;
    } else if (name == "curves") {
        o.curves.push_back(v);
    } else if (name == "out") {
        o.out = v;
        o.out_kind = kind_of(v);
        if (o.out_kind == image_kind::none) {
            error = "--out: the hair image must end in .png, .iff, .rla or .exr: " + v;
            return false;
        }
    } else if (name == "depth") {
        o.depth = v;
    } else if (name == "deep") {
        o.deep = v;
        if (kind_of(v) != image_kind::exr) {
            error = "--deep: the deep image must end in .exr: " + v;
            return false;
        }
    } else if (name == "export-curves") {
        o.export_curves = v;
        if (curve_format_of(v.c_str()) == curve_format::none) {
            error = "--export-curves: the curve file must end in .usda or .obj: " + v;
            return false;
        }
    } else if (name == "surface-color") {
        const std::size_t eq = v.rfind('=');
        const std::vector<std::string> p =
            split(eq == std::string::npos ? std::string() : v.substr(eq + 1), ',');
        std::vector<float> rgb(3, 0.0f);
        ok = eq != std::string::npos && eq > 0 && p.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            ok = read_float(p[i], rgb[i]) && rgb[i] >= 0.0f && rgb[i] <= 1.0f;
        if (ok) o.surface_colors.emplace_back(v.substr(0, eq), rgb);
    } else if (name == "zbuff") {
        o.zbuff = v;
    } else if (name == "atmos") {
        o.atmos = v;
    } else if (name == "shadow-dir") {
        o.shadow_dir = v;
        ok = !v.empty();
    } else if (name == "size") {
        const std::vector<std::string> p = split(v, 'x');
        ok = p.size() == 2 && read_int(p[0], 1, 65535, o.width) &&
             read_int(p[1], 1, 65535, o.height);
    } else if (name == "subpixel") {
        ok = read_int(v, 1, 16, o.subpixel);
    } else if (name == "gamma") {
        ok = read_float(v, o.gamma) && o.gamma > 0.0f;
    } else if (name == "list-size") {
        ok = read_int(v, 1, 1000, o.list_size);
    } else if (name == "merge-mode") {
        ok = read_int(v, 0, 2, o.merge_mode);
    } else if (name == "merge-exponent") {
        ok = read_float(v, o.merge_exponent) && o.merge_exponent > 0.0f;
    } else if (name == "tess") {
        ok = read_int(v, 1, 64, o.tess);
    } else if (name == "close-scene") {
        o.close_scene = v;
    } else if (name == "shutter") {
        ok = read_float(v, o.shutter) && o.shutter >= 0.0f && o.shutter <= 1.0f;
    } else if (name == "motion-step") {
        ok = read_float(v, o.motion_step) && o.motion_step >= 1.0f / 32 && o.motion_step <= 32.0f;
    } else if (name == "crop") {
        ok = read_box(v, o.crop);
    } else if (name == "region") {
        ok = read_box(v, o.region);
    } else if (name == "background") {
        const std::vector<std::string> p = split(v, ',');
        ok = p.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            ok = read_float(p[i], o.background[i]) && o.background[i] >= 0.0f &&
                 o.background[i] <= 1.0f;
        o.has_background = ok;
    } else if (name == "near") {
        ok = read_float(v, o.near_z);
        o.has_depth_range = true;
    } else if (name == "far") {
        ok = read_float(v, o.far_z);
        o.has_depth_range = true;
    } else if (name == "verbose") {
        ok = read_int(v, 0, kBig, o.verbose);
    } else if (name == "hash") {
        ok = read_int(v, 2, kBig, o.hash);
    }
    if (!ok) error = "--" + name + ": bad value \"" + v + "\"";
    return ok;
}

bool inside(const pixel_box& b, int w, int h) {
    return b.x0 < b.x1 && b.y0 < b.y1 && b.x1 < w && b.y1 < h;
}

// The checks that need several options.
bool check(const options& o, const std::vector<std::string>& seen, std::string& error) {
    auto given = [&seen](const char* n) {
        for (const std::string& s : seen)
            if (s == n) return true;
        return false;
    };
    if (o.hair.empty() || o.assign.empty() || o.scene.empty()) {
        error = "--hair, --assign and --scene are required";
        return false;
    }
    if (given("frame") && given("frames")) {
        error = "give --frame or --frames, not both";
        return false;
    }
    if (!o.dump && o.out.empty() && o.depth.empty() && o.zbuff.empty() && o.atmos.empty() &&
        o.deep.empty() && o.export_curves.empty()) {
        error =
            "nothing to write: give --out, --depth, --zbuff, --atmos, --deep or --export-curves";
        return false;
    }
    if (o.surfaces && !o.out.empty() && o.out_kind != image_kind::png &&
        o.out_kind != image_kind::exr) {
        error = "--surfaces shades a .png or .exr hair image only";
        return false;
    }
    if (!o.surface_colors.empty() && !o.surfaces) {
        error = "--surface-color needs --surfaces";
        return false;
    }
    if (o.reuse_shadows && o.shadow_dir.empty()) {
        error = "--reuse-shadows needs --shadow-dir";
        return false;
    }
    if (o.no_shadows && (o.reuse_shadows || o.shadow_debug)) {
        error = "--no-shadows leaves no shadow maps to reuse or show";
        return false;
    }
    if (given("near") != given("far")) {
        error = "--near and --far go together";
        return false;
    }
    if (o.has_depth_range && !(o.near_z < o.far_z)) {
        error = "--near must be below --far";
        return false;
    }
    if (o.has_background && o.out_kind != image_kind::png) {
        error = "--background flattens a .png hair image only";
        return false;
    }
    if (o.crop.on && !inside(o.crop, o.width, o.height)) {
        error = "--crop must lie inside the image, at least two pixels wide and high";
        return false;
    }
    if (o.crop.on && o.subpixel > 1 && (o.crop.x1 + 1 >= o.width || o.crop.y1 + 1 >= o.height)) {
        // The camera multiplies the crop corners by the factor: the last
        // crop pixel needs the samples of the pixel after it.
        error = "--crop with --subpixel above 1 must leave the image's last column and row out";
        return false;
    }
    if (o.region.on && !inside(o.region, o.width, o.height)) {
        error = "--region must lie inside the image, at least two pixels wide and high";
        return false;
    }
    if (!o.motion_blur && (given("close-scene") || given("shutter") || given("motion-step"))) {
        error = "--close-scene, --shutter and --motion-step need --motion-blur";
        return false;
    }
    if (o.tiles > 1 && o.tiles > (o.crop.on ? o.crop.y1 - o.crop.y0 + 1 : o.height)) {
        error = "--tile: more bands than rows of pixels";
        return false;
    }
    if (o.tiles > 1 && o.region.on) {
        // The bands cut the rows of the stored picture, which for an OpenEXR
        // file are those of the region.
        error = "--tile and --region do not go together";
        return false;
    }
    if (o.tiles > 1 && !o.export_curves.empty()) {
        error = "--tile draws part of the hair: --export-curves needs the whole frame";
        return false;
    }
    if (o.first_frame != o.last_frame) {
        for (const std::string* name :
             {&o.out, &o.depth, &o.zbuff, &o.atmos, &o.deep, &o.export_curves}) {
            if (!name->empty() && !has_frame_pattern(*name)) {
                error =
                    "several frames need a frame number in every output name (# or %04d): " + *name;
                return false;
            }
        }
    }
    return true;
}

// A printf conversion of an int at s[i] ('%', optional zero flag and width,
// 'd'): its length, or 0 when there is none.
std::size_t int_conversion(const std::string& s, std::size_t i) {
    std::size_t j = i + 1;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
    return j < s.size() && s[j] == 'd' && j - i <= 4 ? j - i + 1 : 0;
}

}  // namespace

bool has_frame_pattern(const std::string& pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '#') return true;
        if (pattern[i] == '%') {
            if (int_conversion(pattern, i)) return true;
            if (i + 1 < pattern.size() && pattern[i + 1] == '%') ++i;
        }
    }
    return false;
}

std::string frame_file_name(const std::string& pattern, int frame) {
    std::string out;
    char number[32];
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '#') {
            std::size_t n = 0;
            while (i + n < pattern.size() && pattern[i + n] == '#') ++n;
            std::snprintf(number, sizeof number, "%0*d", static_cast<int>(n), frame);
            out += number;
            i += n;
        } else if (c == '%' && int_conversion(pattern, i)) {
            const std::size_t n = int_conversion(pattern, i);
            std::snprintf(number, sizeof number, pattern.substr(i, n).c_str(), frame);
            out += number;
            i += n;
        } else if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            i += 2;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string usage_text() {
    std::string text =
        "usage: furrender --hair FILE --assign FILE --scene BASE\n"
        "                 [--frame N | --frames A-B] [--out FILE] [options]\n"
        "Renders the hair that the hair description and assignment files grow on the\n"
        "models of the scene files.\n"
        "With several frames every output name needs a frame number: '#' (one per digit,\n"
        "zero padded) or %04d.\n\n";
    text += korvo_tools::option_lines(kOptions, sizeof kOptions / sizeof kOptions[0]);
    text +=
        "\nExit status: 0 success, 1 a failed render (unreadable input, library error),\n"
        "2 a bad command line.\n";
    return text;
}

bool parse_options(int argc, char** argv, options& opts, std::string& error) {
    std::vector<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
        const std::size_t eq = arg.find('=');
        const std::string name =
            arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const option_entry* entry = find_option(name);
        if (entry == nullptr) {
            error = "unknown option --" + name;
            return false;
        }
        if (name == "help") {
            opts.help = true;
            return true;
        }
        seen.push_back(name);
        if (entry->value == nullptr) {
            if (eq != std::string::npos) {
                error = "--" + name + " takes no value";
                return false;
            }
            if (name == "quiet") opts.quiet = true;
            if (name == "backface") opts.backface = true;
            if (name == "motion-blur") opts.motion_blur = true;
            if (name == "dump") opts.dump = true;
            if (name == "count-fragments") opts.count_fragments = true;
            if (name == "reuse-shadows") opts.reuse_shadows = true;
            if (name == "no-shadows") opts.no_shadows = true;
            if (name == "shadow-debug") opts.shadow_debug = true;
            if (name == "surfaces") opts.surfaces = true;
            continue;
        }
        std::string value;
        if (!korvo_tools::option_value(*entry, arg, i, argc, argv, value, error)) return false;
        if (!apply(name, value, opts, error)) return false;
    }
    return check(opts, seen, error);
}

}  // namespace furrender
