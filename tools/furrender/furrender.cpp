// furrender: the command-line renderer. It drives the library through the
// run of a host's renderer: the tables and caches once, the hair
// description and assignment files once, then for every frame the scene
// file, the transformations, the geometry z-buffer, hair generation and
// rasterisation, and the images the user asked for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "korvofur/korvofur.h"
#include "options.h"
#include "progress.h"

namespace furrender {

namespace {

// A failure that ends the run with status 1 after its message.
struct run_error {
    std::string message;
};

// --- The library's own messages -----------------------------------------------------

// The file named by the library's last "Can't open data file" message.
std::string g_unopened;

// Passes host print commands to standard output and remembers which file the
// library could not open, so that the error names it.
void watch_commands(const char* command) {
    static const char kCannotOpen[] = "Can't open data file ";
    if (const char* at = std::strstr(command, kCannotOpen)) {
        std::string name = at + sizeof kCannotOpen - 1;
        const std::size_t end = name.rfind("\\n\"");
        g_unopened = name.substr(0, end);
    }
    KorvoGlobal::defaultCommandSink(command);
}

// --- Checks before the work ---------------------------------------------------------

// Every input must be a readable regular file: the text readers' scanners
// end the process (with the status of a bad command line) when they cannot
// read what they were given, a directory for instance.
void require_readable(const std::string& path, const char* what) {
    const std::string name = std::string("cannot read ") + what + " \"" + path + "\": ";
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) throw run_error{name + std::strerror(errno)};
    if (!S_ISREG(info.st_mode)) throw run_error{name + "not a regular file"};
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) throw run_error{name + std::strerror(errno)};
    std::fclose(f);
}

void require_writable_dir(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (::access(dir.c_str(), W_OK) != 0)
        throw run_error{"cannot write \"" + path + "\": " + std::strerror(errno)};
}

// An image the library wrote must be there afterwards.
void require_written(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw run_error{"could not write \"" + path + "\""};
    std::fclose(f);
}

// A 0 result of the library: the file it could not open, or what failed.
[[noreturn]] void library_failed(const std::string& what) {
    if (!g_unopened.empty()) throw run_error{"cannot open \"" + g_unopened + "\""};
    throw run_error{what};
}

// --- The run ----------------------------------------------------------------------

// The library's tables for one run; the destructor ends them in the order
// of a host's renderer, whatever happened in between.
struct library_run {
    explicit library_run(int hash) {
        if (!names_init(hash))
            throw run_error{"cannot create a name table of size " + std::to_string(hash)};
        tmap_init(64);
        crvdata_init(64);
        attractdb_init();
        curveAttractdb_init();
        if (!assdb_init(hash)) throw run_error{"cannot create the assignment table"};
    }
    ~library_run() {
        scndb_cleanup();
        assdb_done();
        hair_params_done();
        attractdb_done();
        curveAttractdb_done();
        tmap_done();
        crvdata_done();
        names_done();
    }
    library_run(const library_run&) = delete;
    library_run& operator=(const library_run&) = delete;
};

void apply_settings(const options& o) {
    defs.image_lines = o.height;
    defs.image_cols = o.width;
    defs.gamma = o.gamma;
    defs.subpixel_factor = o.subpixel;
    defs.list_size = o.list_size;
    defs.merge_mode = o.merge_mode;
    defs.merge_exponent = o.merge_exponent;
    defs.tess_factor = o.tess;
    defs.backface = o.backface;
    defs.motion_blur = 0;
    opt_flags = o.verbose;
    // The region in window-relative z-buffer samples.
    defs.region_on = o.region.on ? 1 : 0;
    if (o.region.on) {
        const int f = o.subpixel;
        const int cx = o.crop.on ? o.crop.x0 : 0, cy = o.crop.on ? o.crop.y0 : 0;
        auto low = [f](int v) { return v < 0 ? 0 : v * f; };
        defs.region[0] = low(o.region.x0 - cx);
        defs.region[1] = low(o.region.y0 - cy);
        defs.region[2] = (o.region.x1 - cx) * f + f - 1;
        defs.region[3] = (o.region.y1 - cy) * f + f - 1;
    }
}

void dump_databases() {
    for (int b = 0; b < HAIR_PARAMS_BUCKETS; ++b)
        if (hair_params* hp = hair_params_list_bucket(b)) hair_params_dump(hp, 1);
    attractdb_dump();
    assdb_dump();
    camdb_get(0)->dump();
    lgtdb_dump(0);
    mdldb_dump(0);
    std::fflush(stdout);
}

// The depth range of the camera: the options', the scene camera's clip for
// an .rla hair image, else none.
zcalc depth_range(const options& o, const hair_camera& cam) {
    if (o.out_kind != image_kind::rla) return zcalc();
    if (o.has_depth_range) return zcalc(o.near_z, o.far_z);
    const float* clip = cam.get_clip();
    if ((cam.get_flags() & hair_camera::kClip) && clip[0] < clip[1]) return zcalc(clip[0], clip[1]);
    throw run_error{
        "an .rla hair image needs a depth range: give --near and --far, or a clip "
        "in the scene camera"};
}

// The crop window handed to the camera. Its corners are multiplied by the
// sub-pixel factor, so the last pixel of the crop would get only one column
// and row of samples: above factor 1 the window reaches one pixel further
// (the output passes read from its first sample and leave the extra one).
cam_window crop_window(const options& o) {
    if (!o.crop.on) return cam_window();
    const int more = o.subpixel > 1 ? 1 : 0;
    return cam_window(o.crop.x0, o.crop.y0, o.crop.x1 + more, o.crop.y1 + more);
}

// The hair image as an 8-bit PNG: straight alpha, or flattened over the
// background colour.
void write_png(const options& o, hair_camera& cam, const std::string& path) {
    std::vector<unsigned char> rgba;
    if (!cam.render_rgba(rgba)) throw run_error{"cannot resolve the hair image"};
    const std::size_t pixels = rgba.size() / 4;
    for (std::size_t i = 0; i < pixels; ++i) {
        unsigned char* p = &rgba[i * 4];
        const int a = p[3];
        for (int c = 0; c < 3; ++c) {
            int v;
            if (o.has_background)
                v = p[c] + static_cast<int>((255 - a) * o.background[c] + 0.5f);
            else
                v = a == 0 ? 0 : (p[c] * 255 + a / 2) / a;
            p[c] = static_cast<unsigned char>(v > 255 ? 255 : v);
        }
        if (o.has_background) p[3] = 255;
    }
    if (!png_write_rgba(path.c_str(), defs.image_cols, defs.image_lines, rgba.data()))
        throw run_error{"could not write \"" + path + "\""};
}

void write_outputs(const options& o, hair_camera& cam, int frame) {
    if (o.crop.on) {
        defs.image_cols = o.crop.x1 - o.crop.x0 + 1;
        defs.image_lines = o.crop.y1 - o.crop.y0 + 1;
    }
    if (!o.out.empty()) {
        const std::string path = frame_file_name(o.out, frame);
        if (o.out_kind == image_kind::png) {
            write_png(o, cam, path);
        } else {
            std::remove(path.c_str());
            cam.render(path.c_str());
            require_written(path);
        }
    }
    const struct {
        const std::string& name;
        void (hair_camera::*pass)(const char*);
    } passes[] = {{o.depth, &hair_camera::render_z},
                  {o.zbuff, &hair_camera::render_zbuff},
                  {o.atmos, &hair_camera::render_atm}};
    for (const auto& p : passes) {
        if (p.name.empty()) continue;
        const std::string path = frame_file_name(p.name, frame);
        std::remove(path.c_str());
        (cam.*p.pass)(path.c_str());
        require_written(path);
    }
    defs.image_cols = o.width;
    defs.image_lines = o.height;
}

// One frame, from its scene file to its images. False after --dump.
bool render_frame(const options& o, int frame, progress_display& progress) {
    defs.frame = frame;
    progress.begin_frame(frame);
    hair_params_init_visibility();
    g_unopened.clear();
    if (!scndb_init(o.scene.c_str(), frame, 0))
        library_failed("cannot read the scene of frame " + std::to_string(frame));
    if (o.dump) {
        progress.end_frame();
        dump_databases();
        return false;
    }

    // Models into world space, lights into camera space, guides gathered.
    hair_camera* cam = camdb_get(0);
    mdldb_xform(0);
    lgtdb_xform(cam->get_matrix(), 0);
    attractdb_frame_init(0);
    curveAttractdb_frame_init();
    lgtdb_check_exclude(0);
    lgtdb_check_defs(0);
    lgtdb_calc_simple_area_lights(0);

    cam->set_image_params(o.height, o.width, crop_window(o), depth_range(o, *cam));
    if (!cam->init_zbuffer())
        throw run_error{"frame " + std::to_string(frame) +
                        ": the scene camera cannot render (see the message above)"};
    progress.stage("z-buffering the geometry");
    mdldb_zbuffer(cam, 0);
    mdldb_hair(*cam);
    progress.stage("writing the images");
    write_outputs(o, *cam, frame);
    progress.end_frame();
    scndb_cleanup();
    return true;
}

void check_files(const options& o) {
    require_readable(o.hair, "the hair description file");
    require_readable(o.assign, "the assignment file");
    for (int f = o.first_frame; f <= o.last_frame; ++f)
        require_readable(scndb_frame_name(o.scene.c_str(), f), "the scene file");
    if (o.dump) return;
    for (const std::string* name : {&o.out, &o.depth, &o.zbuff, &o.atmos})
        if (!name->empty()) require_writable_dir(frame_file_name(*name, o.first_frame));
}

int run(const options& o) {
    check_files(o);
    progress_display progress(!o.quiet && !o.dump);
    apply_settings(o);
    library_run lib(o.hash);

    g_unopened.clear();
    if (!hair_params_init(o.hair.c_str())) library_failed("cannot read \"" + o.hair + "\"");
    if (!assdb_readfile(o.assign.c_str())) library_failed("cannot read \"" + o.assign + "\"");
    if (!o.atmos.empty() && !atmosdb_is_defined())
        throw run_error{"--atmos: the hair description file defines no fog"};

    for (int f = o.first_frame; f <= o.last_frame; ++f)
        if (!render_frame(o, f, progress)) break;
    if (!o.quiet && !o.dump && !o.out.empty())
        std::fprintf(stderr, "furrender: wrote %s\n",
                     o.first_frame == o.last_frame ? frame_file_name(o.out, o.first_frame).c_str()
                                                   : o.out.c_str());
    return 0;
}

// --quiet: the library's console lines go nowhere.
void silence_stdout() {
    std::fflush(stdout);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd < 0) return;
    ::dup2(null_fd, STDOUT_FILENO);
    ::close(null_fd);
}

}  // namespace

}  // namespace furrender

int main(int argc, char** argv) {
    using namespace furrender;
    options opts;
    std::string error;
    if (!parse_options(argc, argv, opts, error)) {
        std::fprintf(stderr, "furrender: %s\n\n%s", error.c_str(), usage_text().c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    if (opts.quiet && !opts.dump) silence_stdout();
    KorvoGlobal::setCommandSink(watch_commands);
    try {
        return run(opts);
    } catch (const run_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: %s\n", e.message.c_str());
    } catch (const FurException& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: %s\n", e.message().asChar());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: out of memory\n");
    }
    return 1;
}
