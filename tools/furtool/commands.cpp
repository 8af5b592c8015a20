// The jobs of furtool's commands.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "furtool.h"

namespace furtool {

namespace {

void require_readable(const std::string& path, const char* what) {
    const std::string error = korvo_tools::unreadable_input(path, what);
    if (!error.empty()) throw job_error{error};
}

void require_writable_dir(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(dir.c_str(), W_OK) != 0)
        throw job_error{"cannot write into the directory \"" + dir + "\""};
}

// The identity of a file's inode: a file rewritten through a copy gets a new one.
ino_t inode_of(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Counts the library's error messages on their way to standard output.
int g_library_errors = 0;
void count_errors(const char* command) {
    if (std::strstr(command, "Error, ")) ++g_library_errors;
    KorvoGlobal::defaultCommandSink(command);
}

// One frame of a scene, loaded as a host's tool finds it: the tables, the
// guide curves, the hair description and assignment files, then the frame's
// scene with its models in world space and its guides gathered. The
// destructor ends everything in the order of a host.
class scene_session {
  public:
    explicit scene_session(const options& o) {
        require_readable(o.hair, "the hair description file");
        require_readable(o.assign, "the assignment file");
        require_readable(scndb_frame_name(o.scene.c_str(), o.frame), "the scene file");
        opt_flags = o.verbose;
        defs.frame = o.frame;
        KorvoGlobal::setCommandSink(count_errors);
        if (!names_init(o.hash))
            throw job_error{"cannot create a name table of size " + std::to_string(o.hash)};
        tmap_init(64);
        crvdata_init(64);
        attractdb_init();
        curveAttractdb_init();
        if (!assdb_init(o.hash)) throw job_error{"cannot create the assignment table"};
        std::string error;
        if (!korvo_tools::load_guide_curves(o.curves, error)) throw job_error{error};
        if (!hair_params_init(o.hair.c_str())) throw job_error{"cannot read \"" + o.hair + "\""};
        if (!assdb_readfile(o.assign.c_str())) throw job_error{"cannot read \"" + o.assign + "\""};
        hair_params_init_visibility();
        if (!scndb_init(o.scene.c_str(), o.frame, 0))
            throw job_error{"cannot read the scene of frame " + std::to_string(o.frame)};
        mdldb_xform(0);
        attractdb_frame_init(0);
        curveAttractdb_frame_init();
    }
    ~scene_session() {
        korvo_tables_done();
        korvo_curve_registry_clear();
        KorvoGlobal::setCommandSink(nullptr);
    }
    scene_session(const scene_session&) = delete;
    scene_session& operator=(const scene_session&) = delete;
};

// Ends the job when the library reported errors.
int status_after(const char* what) {
    std::fflush(stdout);
    if (g_library_errors == 0) return 0;
    std::fprintf(stderr, "furtool: %s failed (see the messages above)\n", what);
    return 1;
}

}  // namespace

int run_equalize(const options& o) {
    if (!o.no_maps) require_writable_dir(o.out_dir);
    scene_session session(o);
    const ino_t assign = inode_of(o.assign), hair = inode_of(o.hair);
    mdldb_area_norm(o.out_dir.c_str(), o.has_prefix ? o.prefix.c_str() : nullptr, o.map_width,
                    o.map_height, o.area_mode, o.assign.c_str(), o.update_hair, o.hair.c_str(),
                    !o.no_maps, o.suffix.c_str(), o.fill);
    // A file rewritten through its copy is a new file; one that is not was
    // left as it was after a failure.
    if (o.area_mode != 0 && inode_of(o.assign) == assign) ++g_library_errors;
    if (o.update_hair && inode_of(o.hair) == hair) ++g_library_errors;
    return status_after("equalize");
}

int run_direction(const options& o) {
    scene_session session(o);
    const int two = o.one_file ? 0 : 1;
    const std::string prefix = o.has_prefix ? o.prefix : "dir";
    if (o.model_directions.empty()) {
        mdldb_calc_dir_map(prefix.c_str(), o.default_direction, o.map_height, o.map_width, two);
    } else {
        std::vector<DirectionMapStruct> maps = o.model_directions;
        if (o.has_default_direction) {
            DirectionMapStruct d{};
            std::strcpy(d.name, "default");
            std::memcpy(d.direction, o.default_direction, sizeof d.direction);
            maps.push_back(d);
        }
        for (DirectionMapStruct& m : maps) m.width = o.map_width, m.height = o.map_height;
        mdldb_calc_dir_map(prefix.c_str(), maps.data(), static_cast<int>(maps.size()), two);
    }
    return status_after("direction");
}

int run_obj(const options& o) {
    require_writable_dir(o.out_dir);
    scene_session session(o);
    const char* saved = defs.output_dir;
    defs.output_dir = o.out_dir.c_str();
    mdldb_output_obj(camdb_get(0), 0);
    defs.output_dir = saved;
    return status_after("obj");
}

int run_roots(const options& o) {
    require_writable_dir(o.out_dir);
    scene_session session(o);
    int total = 0;
    for (int i = 0; i < mdldb_capacity(0); ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        if (m == nullptr || m->name == nullptr || assdb_get_exclude(m->name, 0)) continue;
        int n = 0;
        hair_params** list = nullptr;
        assdb_get_model_hair(m->name, &n, &list);
        if (n == 0) continue;
        const std::string file =
            o.out_dir + "/" + m->name_text() + "." + std::to_string(o.frame) + ".roots";
        const int roots = mdldb_kestrel_model(file.c_str(), m, nullptr, n, list);
        std::printf("%s: %d roots\n", file.c_str(), roots);
        total += roots;
    }
    std::printf("--- %d roots in all\n", total);
    return status_after("roots");
}

int run_curves(const options& o) {
    if (o.out.empty()) throw job_error{"curves: give the curve file with --out"};
    if (curve_format_of(o.out.c_str()) == curve_format::none)
        throw job_error{"curves: the curve file must end in .usda or .obj: \"" + o.out + "\""};
    scene_session session(o);
    if (!mdldb_export_curves(o.out.c_str(), *camdb_get(0)))
        throw job_error{"cannot write the curve file \"" + o.out + "\""};
    return status_after("curves");
}

int run_curves_check(const options& o) {
    for (const std::string& file : o.files) {
        std::vector<guide_curve> curves;
        std::string error;
        if (!guide_curves_read(file.c_str(), curves, error)) throw job_error{error};
        std::printf("%s: %zu curve%s\n", file.c_str(), curves.size(),
                    curves.size() == 1 ? "" : "s");
        for (const guide_curve& c : curves) {
            const KorvoPoint& root = c.points.front();
            std::printf("  %-20s %6zu points  length %-10g root %g %g %g\n", c.name.c_str(),
                        c.points.size(), guide_curve_length(c), root.x, root.y, root.z);
        }
    }
    return 0;
}

}  // namespace furtool
