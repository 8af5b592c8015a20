// furtool: the jobs around a render, one sub-command each. The table of
// commands below names each job, its options and the function that runs it;
// the commands that read a scene share the scene options and the loading of
// one frame (commands.cpp).
#include "furtool.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "korvofur/korvofur.h"

namespace furtool {

namespace {

using korvo_tools::option_entry;

// The options of every command that reads a scene.
const option_entry kSceneOptions[] = {
    {"hair", "FILE", "hair description file (required)"},
    {"assign", "FILE", "assignment file (required)"},
    {"scene", "BASE", "scene files: BASE.0001.kiv for frame 1 (required)"},
    {"frame", "N", "use frame N (default 1)"},
    korvo_tools::kCurvesOption,
    {"verbose", "N", "library messages: 3 warnings, 7 progress (default 0)"},
    {"hash", "N", "name and assignment table size (default 10007)"},
};

const option_entry kEqualizeOptions[] = {
    {"area-mode", "M",
     "area values into the assignment file: 0 none, 1 one block for all\n"
     "                        models, 2 one block per hair description (default 1)"},
    {"map-size", "WxH", "size of the equalizer maps (default 256x256)"},
    {"no-maps", nullptr, "write no equalizer maps"},
    {"out-dir", "DIR", "directory of the maps (default .)"},
    {"prefix", "P", "first part of the map names (default equal; tmp: one map per model)"},
    {"suffix", "S", "text after eqMap in the map names, e.g. a frame tag (default none)"},
    {"fill", nullptr, "fill the empty map cells from their neighbours"},
    {"update-hair", nullptr, "rewrite the hair description file to read the maps"},
};

const option_entry kDirectionOptions[] = {
    {"direction", "[NAME=]X,Y,Z",
     "world direction of the fur: for every model, or for model NAME\n"
     "                        (repeatable; required)"},
    {"map-size", "WxH", "size of the maps (default 256x256)"},
    {"prefix", "P", "map names: PE_<model>.rla and PP_<model>.rla (default dir)"},
    {"one-file", nullptr, "one map P_<model>.rla: lean in red, polar angle in green"},
};

const option_entry kObjOptions[] = {
    {"out-dir", "DIR", "directory of the OBJ files <model>.<frame>.obj (default .)"},
};

const option_entry kCurvesOptions[] = {
    {"out", "FILE", "the shaped hairs of the frame as curves: .usda or .obj (required)"},
};

const option_entry kRootsOptions[] = {
    {"out-dir", "DIR", "directory of the root files <model>.<frame>.roots (default .)"},
};

const option_entry kAssembleOptions[] = {
    {"out", "FILE", "the assembled picture, of the bands' kind (required)"},
};

// The commands.
const command kCommands[] = {
    {"equalize", "area values, equalizer maps and the hair file that reads them", kEqualizeOptions,
     sizeof kEqualizeOptions / sizeof kEqualizeOptions[0], true, run_equalize},
    {"direction", "direction maps that comb the fur in one world direction", kDirectionOptions,
     sizeof kDirectionOptions / sizeof kDirectionOptions[0], true, run_direction},
    {"obj", "the scene's models as OBJ files, in camera space", kObjOptions,
     sizeof kObjOptions / sizeof kObjOptions[0], true, run_obj},
    {"roots", "the hair roots every model spawns, as text", kRootsOptions,
     sizeof kRootsOptions / sizeof kRootsOptions[0], true, run_roots},
    {"curves", "every shaped hair as a curve, as the renderer draws it", kCurvesOptions,
     sizeof kCurvesOptions / sizeof kCurvesOptions[0], true, run_curves},
    {"curves-check", "reads guide-curve files (FILE ...) and lists their curves", nullptr, 0, false,
     run_curves_check},
    {"assemble", "joins the bands of furrender --tile (FILE ..., band 0 first)", kAssembleOptions,
     sizeof kAssembleOptions / sizeof kAssembleOptions[0], false, run_assemble},
};

const command* find_command(const char* name) {
    for (const command& c : kCommands)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

const option_entry* find_in(const option_entry* table, int n, const std::string& name) {
    for (int i = 0; i < n; ++i)
        if (name == table[i].name) return &table[i];
    return nullptr;
}

// Stores the value of one option; false with the reason when it is unusable.
bool apply(const std::string& name, const std::string& v, options& o, std::string& error) {
    using namespace korvo_tools;
    bool ok = true;
    if (name == "hair")
        o.hair = v;
    else if (name == "assign")
        o.assign = v;
    else if (name == "scene")
        o.scene = v;
    else if (name == "frame")
        ok = read_int(v, 0, 9999999, o.frame);
    else if (name == "curves")
        o.curves.push_back(v);
    else if (name == "verbose")
        ok = read_int(v, 0, 1L << 30, o.verbose);
    else if (name == "hash")
        ok = read_int(v, 2, 1L << 30, o.hash);
    else if (name == "area-mode")
        ok = read_int(v, 0, 2, o.area_mode);
    else if (name == "map-size")
        ok = read_size(v, kEqualizerMaxSide, o.map_width, o.map_height);
    else if (name == "out")
        ok = !(o.out = v).empty();
    else if (name == "out-dir")
        ok = !(o.out_dir = v).empty();
    else if (name == "prefix")
        o.prefix = v, o.has_prefix = true;
    else if (name == "suffix")
        o.suffix = v;
    else if (name == "direction")
        ok = read_direction(v, o);
    if (!ok) error = "--" + name + ": bad value \"" + v + "\"";
    return ok;
}

void set_flag(const std::string& name, options& o) {
    if (name == "no-maps") o.no_maps = true;
    if (name == "fill") o.fill = true;
    if (name == "update-hair") o.update_hair = true;
    if (name == "one-file") o.one_file = true;
}

bool check(const command& c, const options& o, std::string& error) {
    if (c.reads_scene && (o.hair.empty() || o.assign.empty() || o.scene.empty())) {
        error = "--hair, --assign and --scene are required";
        return false;
    }
    if (c.run == run_equalize && o.area_mode == 0 && o.no_maps && !o.update_hair) {
        error = "nothing to write: --area-mode 0 with --no-maps and no --update-hair";
        return false;
    }
    if (c.run == run_direction && !o.has_default_direction && o.model_directions.empty()) {
        error = "--direction is required";
        return false;
    }
    if (c.run == run_curves_check && o.files.empty()) {
        error = "name at least one guide-curve file";
        return false;
    }
    if (c.run == run_assemble && (o.files.empty() || o.out.empty())) {
        error = "--out and at least one band are required";
        return false;
    }
    if (c.run != run_curves_check && c.run != run_assemble && !o.files.empty()) {
        error = "unexpected argument \"" + o.files[0] + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool read_direction(const std::string& v, options& o) {
    const std::size_t eq = v.find('=');
    float d[3];
    if (!korvo_tools::read_vector(eq == std::string::npos ? v : v.substr(eq + 1), d)) return false;
    if (eq == std::string::npos) {
        std::memcpy(o.default_direction, d, sizeof d);
        o.has_default_direction = true;
        return true;
    }
    DirectionMapStruct r{};
    const std::string name = v.substr(0, eq);
    if (name.empty() || name.size() >= sizeof r.name) return false;
    std::memcpy(r.name, name.c_str(), name.size());
    std::memcpy(r.direction, d, sizeof d);
    o.model_directions.push_back(r);
    return true;
}

bool parse_options(const command& c, int argc, char** argv, options& o, std::string& error) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            o.files.push_back(arg);
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name =
            arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        if (name == "help") {
            o.help = true;
            return true;
        }
        const option_entry* entry = find_in(c.option_table, c.option_count, name);
        if (!entry && c.reads_scene)
            entry = find_in(kSceneOptions, sizeof kSceneOptions / sizeof kSceneOptions[0], name);
        if (entry == nullptr) {
            error = "unknown option --" + name + " for " + c.name;
            return false;
        }
        if (entry->value == nullptr) {
            if (eq != std::string::npos) {
                error = "--" + name + " takes no value";
                return false;
            }
            set_flag(name, o);
            continue;
        }
        std::string value;
        if (!korvo_tools::option_value(*entry, arg, i, argc, argv, value, error)) return false;
        if (!apply(name, value, o, error)) return false;
    }
    return check(c, o, error);
}

std::string usage_text(const command* c) {
    if (c == nullptr) {
        std::string text =
            "usage: furtool COMMAND [options]\n"
            "The jobs around a render: measuring surfaces, combing maps, exports and checks.\n\n"
            "Commands:\n";
        for (const command& k : kCommands) {
            std::string head = std::string("  ") + k.name;
            head.resize(16, ' ');
            text += head + k.purpose + "\n";
        }
        return text +
               "\n'furtool COMMAND --help' lists the options of a command.\n"
               "Exit status: 0 success, 1 a failed job (unreadable input, library error),\n"
               "2 a bad command line.\n";
    }
    std::string text =
        std::string("usage: furtool ") + c->name +
        (c->reads_scene ? " --hair FILE --assign FILE --scene BASE [options]\n" : " FILE ...\n");
    text += std::string(c->name) + ": " + c->purpose + ".\n\n";
    if (c->reads_scene)
        text += korvo_tools::option_lines(kSceneOptions,
                                          sizeof kSceneOptions / sizeof kSceneOptions[0]);
    text += korvo_tools::option_lines(c->option_table, c->option_count);
    return text + "  --help                print this help and exit\n";
}

}  // namespace furtool

int main(int argc, char** argv) {
    using namespace furtool;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        std::fputs(usage_text(nullptr).c_str(), argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const command* c = find_command(argv[1]);
    if (c == nullptr) {
        std::fprintf(stderr, "furtool: unknown command \"%s\"\n\n%s", argv[1],
                     usage_text(nullptr).c_str());
        return 2;
    }
    options opts;
    std::string error;
    if (!parse_options(*c, argc - 2, argv + 2, opts, error)) {
        std::fprintf(stderr, "furtool %s: %s\n\n%s", c->name, error.c_str(), usage_text(c).c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(usage_text(c).c_str(), stdout);
        return 0;
    }
    try {
        return c->run(opts);
    } catch (const job_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furtool %s: %s\n", c->name, e.message.c_str());
    } catch (const FurException& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furtool %s: %s\n", c->name, e.message().asChar());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "furtool %s: out of memory\n", c->name);
    }
    return 1;
}
