// furrender: the command-line renderer. It drives the library through the
// run of a host's renderer: the tables and caches once, the hair
// description and assignment files once, then for every frame the scene
// file, the transformations, the geometry z-buffer, hair generation and
// rasterisation, and the images the user asked for.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "bands.h"
#include "korvofur/korvofur.h"
#include "options.h"
#include "picture_rows.h"
#include "progress.h"
#include "shadow_passes.h"
#include "tool_options.h"
#include "work_estimate.h"

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
    const std::string error = korvo_tools::unreadable_input(path, what);
    if (!error.empty()) throw run_error{error};
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
        if (!left_to_exit) korvo_tables_done();
    }
    // Set once every frame is written: the tables (and the last frame's
    // scene) are left to the process's exit.
    bool left_to_exit = false;
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
    defs.motion_blur = o.motion_blur ? 1 : 0;
    defs.shutter = o.shutter;
    defs.motion_step = o.motion_step;
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

// The windows of an OpenEXR file: the whole image, and as data window the
// crop (whose corner is the z-buffer's first output pixel) or the render
// region, or their overlap.
exr_frame exr_frame_of(const options& o) {
    exr_frame fr;
    fr.windows = exr_windows::whole(o.width, o.height);
    exr_box& d = fr.windows.data;
    if (o.crop.on) {
        d = {o.crop.x0, o.crop.y0, o.crop.x1, o.crop.y1};
        fr.origin_x = o.crop.x0;
        fr.origin_y = o.crop.y0;
    }
    if (o.region.on) {
        d.x0 = std::max(d.x0, o.region.x0);
        d.y0 = std::max(d.y0, o.region.y0);
        d.x1 = std::min(d.x1, o.region.x1);
        d.y1 = std::min(d.y1, o.region.y1);
        if (!fr.windows.valid()) throw run_error{"--region does not overlap --crop"};
    }
    return fr;
}

// The pictures resolved pixel by pixel come from picture (the rows the
// workers resolved, the others resolved here); the other passes read the
// z-buffer.
void write_outputs(const options& o, hair_camera& cam, const surface_layer* surfaces,
                   picture_rows& picture, const exr_frame& fr, int frame) {
    if (o.crop.on) {
        defs.image_cols = o.crop.x1 - o.crop.x0 + 1;
        defs.image_lines = o.crop.y1 - o.crop.y0 + 1;
    }
    if (!picture.finish(cam, surfaces)) throw run_error{"cannot resolve the hair image"};
    auto written = [](int ok, const std::string& path) {
        if (!ok) throw run_error{"could not write \"" + path + "\""};
    };
    if (!o.out.empty()) {
        const std::string path = frame_file_name(o.out, frame);
        if (o.out_kind == image_kind::png) {
            if (!picture.write_png(path)) throw run_error{"could not write \"" + path + "\""};
        } else if (o.out_kind == image_kind::exr) {
            exr_flat_image image;
            image.windows = fr.windows;
            image.rgba = picture.rgba().data();
            if (o.has_depth_range) image.z = picture.depth().data();
            written(exr_write_flat(path.c_str(), image), path);
        } else {
            std::remove(path.c_str());
            cam.render(path.c_str());
            require_written(path);
        }
    }
    if (!o.depth.empty() && is_exr(o.depth)) {
        const std::string path = frame_file_name(o.depth, frame);
        exr_flat_image image;
        image.windows = fr.windows;
        image.z = picture.depth().data();
        written(exr_write_flat(path.c_str(), image), path);
    }
    if (!o.deep.empty()) {
        const std::string path = frame_file_name(o.deep, frame);
        written(render_deep_exr(cam, path.c_str(), fr, surfaces), path);
    }
    const struct {
        const std::string& name;
        void (hair_camera::*pass)(const char*);
    } passes[] = {{is_exr(o.depth) ? std::string() : o.depth, &hair_camera::render_z},
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

// The hairs shaped in one pass of the frame are replayed in its later
// passes while this lives, however the frame ends.
struct kept_hairs {
    explicit kept_hairs(bool on) { mdldb_keep_shaped_hairs(on); }
    ~kept_hairs() { mdldb_keep_shaped_hairs(false); }
    kept_hairs(const kept_hairs&) = delete;
    kept_hairs& operator=(const kept_hairs&) = delete;
};

// While it lives, and on is set, the frame's shadow maps are released as
// the hair pass's walk ends: its hair is lit, and without surfaces to shade
// nothing lights again, so the maps need not be held while the pass draws
// its queued polygons, when the frame's memory peaks.
class shadows_until_walk_end {
  public:
    explicit shadows_until_walk_end(bool on)
        : on_(on), before_(on ? mdldb_set_walk_end(release) : nullptr) {}
    ~shadows_until_walk_end() {
        if (on_) mdldb_set_walk_end(before_);
    }
    shadows_until_walk_end(const shadows_until_walk_end&) = delete;
    shadows_until_walk_end& operator=(const shadows_until_walk_end&) = delete;

  private:
    // The maps' planes come from the heap, whose freed pages the allocator
    // keeps unless asked to give them back.
    static void release() {
        end_shadows();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }

    bool on_;
    mdldb_walk_end_fn before_;
};

// The frame's shadow maps are released however the frame ends.
struct frame_shadows {
    ~frame_shadows() { end_shadows(); }
};

// The shutter-close scene of a frame: the frame's file of --close-scene,
// else the next frame's file of the scene.
std::string close_scene_file(const options& o, int frame) {
    return o.close_scene.empty() ? scndb_frame_name(o.scene.c_str(), frame + 1)
                                 : scndb_frame_name(o.close_scene.c_str(), frame);
}

// Reads the shutter-close scene into the second slot and moves its models
// into world space and its guides into the second attractor lists.
void read_close_scene(const options& o, int frame) {
    const std::string base = o.close_scene.empty() ? o.scene : o.close_scene;
    const int close_frame = o.close_scene.empty() ? frame + 1 : frame;
    g_unopened.clear();
    if (!scndb_init(base.c_str(), close_frame, 1))
        library_failed("cannot read the shutter-close scene of frame " + std::to_string(frame));
    mdldb_xform(1);
    if (!attractdb_frame_init(1))
        std::printf("WARNING: attractors differ between the two scenes of frame %d\n", frame);
}

// The z-buffer rows of the frame's hair: all of them, or with --tile the
// samples of the band's rows of the output image.
row_band hair_rows(const options& o, const hair_camera& cam) {
    if (o.tiles <= 1) return {0, cam.zbuffer()->lines()};
    const int lines = o.crop.on ? o.crop.y1 - o.crop.y0 + 1 : o.height;
    const row_band b = band_of(0, lines, o.tile, o.tiles);
    return {b.row0 * o.subpixel, b.row1 * o.subpixel};
}

// The hair pass on --threads processes (one per processor by default).
void draw_hair(const options& o, hair_camera& cam, const std::function<void(bool)>& draw) {
    const int workers = o.threads > 0 ? o.threads : processor_count();
    const std::string error = draw_in_bands(cam, hair_rows(o, cam), workers, o.quiet, draw);
    if (!error.empty()) throw run_error{error};
}

// While it lives, the geometry z-buffer and the hair pass keep the models'
// geometry (as the shadow maps' passes do), so that the surfaces can be
// shaded after the hair; then the current list's geometry is released, as
// those passes would have done.
class geometry_kept {
  public:
    geometry_kept() : tiles_{defs.tiles[0], defs.tiles[1]} {
        defs.tiles[0] = 1;
        defs.tiles[1] = 2;
    }
    ~geometry_kept() {
        defs.tiles[0] = tiles_[0];
        defs.tiles[1] = tiles_[1];
        for (int i = 0; i < mdldb_capacity(0); ++i) mdldb_release_geometry(mdldb_get_index(i, 0));
    }
    geometry_kept(const geometry_kept&) = delete;
    geometry_kept& operator=(const geometry_kept&) = delete;

  private:
    std::int32_t tiles_[2];
};

// The drawing of a frame, step by step; with --threads every process runs
// the steps of its band (first: in this process).
struct frame_pass {
    const options& o;
    hair_camera& cam;
    surface_layer& surfaces;
    const std::vector<surface_color>& colors;
    progress_display& progress;
    std::unique_ptr<curve_writer> curves;  // --export-curves of a still frame
    // Done ahead, in this process's band of a shadow map's pass (prework):
    // the geometry z-buffer, and the estimate of where the hair lies.
    bool geometry_drawn = false;
    bool estimated = false;
    std::vector<double> hair_work, surface_work;

    // The surfaces need the models' geometry: shaded before the geometry
    // z-buffer, which releases that of models without hair, or after the
    // hair under a geometry_kept, skipping the samples the hair hides. With
    // picture, the surfaces are shaded a band of rows at a time and each
    // band's pixels resolved into it at once, so that the layer holds one
    // band only.
    void shade_surfaces(bool first, bool skip_hidden = false, picture_rows* picture = nullptr) {
        if (!o.surfaces) return;
        if (first) progress.stage("shading the surfaces");
        const bool ok =
            picture == nullptr
                ? surfaces.build(cam, 0, colors, skip_hidden, o.subpixel)
                : surfaces.build_rows(
                      cam, 0, colors, skip_hidden, o.subpixel, [this, picture](int row0, int row1) {
                          return picture->resolve_rows(cam, &surfaces, {row0, row1});
                      });
        if (!ok) throw run_error{"cannot shade the surfaces"};
    }

    void draw_geometry(bool first) {
        if (first) progress.stage("z-buffering the geometry");
        if (o.motion_blur) {
            mdldb_motion_blur_zbuffer(&cam, camdb_get(1));
            cam.post_mb_zbuffer();
        } else {
            mdldb_zbuffer(&cam, 0);
        }
    }

    // The hair; its curves are written by this process only, which then
    // shapes every hair. Otherwise only the hairs that can reach the
    // process's band (or the window and region) are shaped. No later pass
    // grows hair: the hairs kept since the shadow maps are let go.
    void draw_hair(bool first) {
        if (o.motion_blur) {
            if (first) progress.stage("growing and drawing the blurred hair");
            mdldb_motion_blur_hair(&cam, camdb_get(1));
        } else if (!first || !curves) {
            hairs_in_reach reach(cam);
            shadows_until_walk_end shadows(!o.surfaces);
            mdldb_keep_until_walk_end();
            mdldb_hair(cam);
        } else {
            curve_recording recording(*curves);
            shadows_until_walk_end shadows(!o.surfaces);
            mdldb_keep_until_walk_end();
            mdldb_hair(cam);
        }
        mdldb_keep_shaped_hairs(false);
    }

    // A still frame's geometry (whole), its hair, then its surfaces where
    // the hair does not hide them completely (with picture, band by band,
    // resolving each band's pixels).
    void draw_all(bool first, picture_rows* picture) {
        geometry_kept keep;
        if (!geometry_drawn) {
            whole_frame whole;
            draw_geometry(first);
        }
        draw_hair(first);
        finish_shared_band([&] { shade_surfaces(first, true, picture); });
        // Shaded band by band, the layer kept its blocks from one band to
        // the next; once every band is resolved they go.
        if (picture != nullptr) surfaces.clear();
    }

    // The estimate of where the hair lies, by z-buffer row, unless done.
    std::vector<double> estimate_hair() {
        if (estimated) return std::move(hair_work);
        return hair_work_by_row(cam);
    }

    // The estimate of where the surfaces lie (none with a crop), unless done.
    std::vector<double> estimate_surfaces() {
        if (estimated) return std::move(surface_work);
        if (o.crop.on) return {};
        return surface_work_by_row(cam, o.height, o.width, o.subpixel, colors);
    }

    // The curves of a blurred frame are its hairs at shutter open.
    void export_blurred_curves(int frame) {
        if (!o.motion_blur || o.export_curves.empty()) return;
        const std::string path = frame_file_name(o.export_curves, frame);
        if (!mdldb_export_curves(path.c_str(), cam))
            throw run_error{"could not write \"" + path + "\""};
    }
};

// The banded hair pass: each process draws its band's hair and, when every
// image is resolved pixel by pixel, resolves its band's pixel rows (the
// bands then cut on whole pixels), which a worker hands back instead of its
// z-buffer rows. row_work cuts the bands.
band_work hair_band_work(const options& o, frame_pass& pass, picture_rows& picture,
                         std::vector<double> row_work) {
    band_work work;
    work.draw = [&pass](bool first) { pass.draw_hair(first); };
    work.row_work = std::move(row_work);
    // The bands share the rows around their cuts, which go to whichever
    // process gets there first; one that finishes its band before the
    // process above has walked the zone waits for it rather than leave
    // the zone to it.
    work.shared_zones = true;
    work.zones_wait = true;
    // Surfaces are shaded by whole pixels: no band cuts through one.
    if (o.surfaces) work.row_unit = o.subpixel;
    if (!picture_in_rows(o)) return work;
    hair_camera& cam = pass.cam;
    const surface_layer* surfaces = o.surfaces ? &pass.surfaces : nullptr;
    // A band's own pixel rows are resolved before it takes shared rows.
    work.draw = [&pass, &picture, &cam, surfaces](bool first) {
        pass.draw_hair(first);
        finish_shared_band([&] {
            if (!picture.resolve_rows(cam, surfaces, {defs.region[1], defs.region[3] + 1}))
                throw run_error{"cannot resolve the rows of a band"};
        });
    };
    work.zbuffer_rows = false;
    work.row_unit = o.subpixel;
    work.save = [&picture, &cam, surfaces](std::FILE* f, const row_band& b) {
        return picture.save(f, cam, surfaces, b);
    };
    work.load = [&picture](std::FILE* f, const row_band& b) { return picture.load(f, b); };
    work.finish_first = [&picture, &cam, surfaces](const row_band& b) {
        return picture.resolve(cam, surfaces, b);
    };
    return work;
}

// The surfaces and the hair of a still frame on one process, or on several
// when its images are all resolved pixel by pixel, with one fork: each
// process draws the whole geometry (0.05 s on the demo, cheaper than handing
// shaded rows over), then its band's hair, shades the surfaces of its band
// that the hair leaves visible, and resolves its pixel rows from its own
// surfaces, band of rows by band of rows (the layer holds one band). The
// bands share the sum of both estimates.
void draw_surfaces_and_hair(const options& o, frame_pass& pass, picture_rows& picture,
                            int workers) {
    hair_camera& cam = pass.cam;
    std::vector<double> row_work, surface_work;
    if (workers > 1) row_work = pass.estimate_hair();
    if (workers > 1) surface_work = pass.estimate_surfaces();
    // The surfaces' share of the rows' work, fitted on the demo's two bands'
    // instructions: 7.21 / 7.23 G for the camera pass's bands (0.32 before
    // the surfaces were lit once a pixel, which left the second band 1.9 G
    // longer; 0.26 before the hair's scan conversion took a quarter less).
    constexpr double kSurfaceShare = 0.10;
    double surface_total = 0.0;
    for (double w : surface_work) surface_total += w;
    if (surface_total > 0.0 && row_work.size() == surface_work.size())
        for (std::size_t r = 0; r < row_work.size(); ++r)
            row_work[r] = (1.0 - kSurfaceShare) * row_work[r] +
                          kSurfaceShare * surface_work[r] / surface_total;
    band_work work = hair_band_work(o, pass, picture, std::move(row_work));
    // When every image is resolved pixel by pixel, each process resolves
    // its pixels as its surfaces are shaded, a band of rows at a time.
    picture_rows* in_rows = picture_in_rows(o) ? &picture : nullptr;
    work.draw = [&pass, in_rows](bool first) { pass.draw_all(first, in_rows); };
    const std::string error =
        draw_in_bands(cam, {0, cam.zbuffer()->lines()}, workers, o.quiet, work);
    if (!error.empty()) throw run_error{error};
}

// The frame's surfaces, geometry and hair on --threads processes. A still
// frame with surfaces on one process, or whose images are resolved pixel by
// pixel, takes at most one fork (draw_surfaces_and_hair). Otherwise (motion
// blur, passes that read the fragment lists) the surfaces are shaded first,
// in bands of rows cut by where the surfaces are (from a shading at one
// sample for 4 x 4 pixels); after its own band this process draws the
// geometry and estimates where the hair is while the workers shade theirs,
// and each worker hands back its rows of the surfaces. Then the hair is
// drawn in bands cut by that estimate.
void draw_frame_in_bands(const options& o, frame_pass& pass, picture_rows& picture) {
    hair_camera& cam = pass.cam;
    const int workers = o.threads > 0 ? o.threads : processor_count();
    const row_band all{0, cam.zbuffer()->lines()};
    const bool estimate = workers > 1 && !o.motion_blur;
    if (o.surfaces && !o.motion_blur && (workers == 1 || picture_in_rows(o)))
        return draw_surfaces_and_hair(o, pass, picture, workers);
    std::vector<double> hair_work;
    if (o.surfaces) {
        band_work work;
        work.draw = [&pass, &cam, &hair_work, estimate](bool first) {
            pass.shade_surfaces(first);
            if (!first) return;
            whole_frame whole;
            pass.draw_geometry(true);
            if (estimate) hair_work = hair_work_by_row(cam);
        };
        work.save = [&pass](std::FILE* f, const row_band& b) {
            return pass.surfaces.save_rows(f, b.row0, b.row1);
        };
        work.load = [&pass](std::FILE* f, const row_band& b) {
            return pass.surfaces.load_rows(f, b.row0, b.row1);
        };
        work.zbuffer_rows = false;
        work.row_unit = o.subpixel;  // surfaces are shaded by whole pixels
        if (workers > 1 && !o.crop.on)
            work.row_work = surface_work_by_row(cam, o.height, o.width, o.subpixel, pass.colors);
        // This process also draws the geometry and estimates the hair in
        // its band: on the demo 0.05 s and 0.02 s against 0.6 s of shading.
        constexpr double kFirstShare = 0.12;
        double surface_total = 0.0;
        for (double w : work.row_work) surface_total += w;
        work.first_extra = kFirstShare * surface_total;
        const std::string error = draw_in_bands(cam, all, workers, o.quiet, work);
        if (!error.empty()) throw run_error{error};
    } else {
        if (!pass.geometry_drawn) pass.draw_geometry(true);
        if (estimate) hair_work = pass.estimate_hair();
    }
    const std::string error =
        draw_in_bands(cam, all, workers, o.quiet, hair_band_work(o, pass, picture, hair_work));
    if (!error.empty()) throw run_error{error};
}

// The hair fragments the frame's samples keep, as the colour resolve
// composites them (list entries and overflows): a walk over the z-buffer
// once the images are written, for benchmarks.
long long count_fragments(const hair_camera& cam) {
    hair_zbuffer& zb = *cam.zbuffer();
    std::vector<fragment_contribution> parts(static_cast<std::size_t>(zb.list_size()) + 2);
    long long n = 0;
    float front = 0.0f;
    for (int r = 0; r < zb.lines(); ++r)
        for (int c = 0; c < zb.cols(); ++c)
            if (pixel_slot* rec = zb.record(r, c))
                n += zb.resolve_contributions(rec, parts.data(), static_cast<int>(parts.size()),
                                              front);
    return n;
}

// With several processes, a still frame drawn in bands (not a --tile,
// whose bands are other runs) has its geometry z-buffer drawn and its hair
// estimated while a shadow map's bands are drawn: every worker of the final
// render then starts from that geometry instead of drawing it again. Not
// when the surfaces are shaded in bands before the geometry (images that
// read the fragment lists), which needs the geometry later.
camera_prework final_render_prework(const options& o, frame_pass& pass) {
    camera_prework prework;
    const int workers = o.threads > 0 ? o.threads : processor_count();
    if (workers < 2 || o.motion_blur || o.tiles > 1 || (o.surfaces && !picture_in_rows(o)))
        return prework;
    // The surfaces' estimate counts the samples that show a surface: shaded
    // before the maps are set up, they are lit without shadows, which
    // changes no count.
    prework.run = [&pass] {
        pass.draw_geometry(false);
        pass.hair_work = hair_work_by_row(pass.cam);
        if (pass.o.surfaces) pass.surface_work = pass.estimate_surfaces();
    };
    // Its share of the map pass: the geometry's grows with the camera's
    // samples over the hairs the map pass draws. The hair estimate grows
    // with the hairs as the map pass does, and takes about as long as the
    // worker's keeping of the hairs it hands back; the surfaces' estimate
    // adds 0.01. On the demo at 640 x 480 x 16 samples, before the hairs
    // were handed back, 0.10 left the first band 0.0024 s longer (0.09 by
    // 0.011 s, the medians of four sets of 30 runs); at 4 samples a pixel it
    // was then 0.06 s shorter, at 1280 x 720 x 4 0.02 s shorter. Now, in
    // the medians of 20 runs, the hair alone's first band is 0.0015 s
    // shorter (0.015 s at 0.092), with surfaces 0.006 s shorter (0.008 s
    // longer at 0.08, 0.003 … 0.013 s shorter at 0.092).
    constexpr double kGeometry = 0.08, kSurfaceEstimate = 0.01;
    constexpr double kDemoSamples = 640.0 * 480.0 * 16.0, kDemoHairs = 118002.0;
    const hair_zbuffer* zb = pass.cam.zbuffer();
    const double samples = zb != nullptr ? double(zb->lines()) * zb->cols() : 0.0;
    const double hairs = hairs_asked(true);
    const double geometry =
        hairs > 0.0 ? kGeometry * samples / kDemoSamples * kDemoHairs / hairs : 0.0;
    prework.share = std::min(
        0.5, (std::isfinite(geometry) ? geometry : 0.0) + (o.surfaces ? kSurfaceEstimate : 0.0));
    return prework;
}

// One frame, from its scene file to its images. False after --dump.
bool render_frame(const options& o, int frame, shadow_folder& folder, progress_display& progress) {
    defs.frame = frame;
    progress.begin_frame(frame);
    reset_band_times();
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
    if (o.motion_blur) read_close_scene(o, frame);

    // A still frame's passes grow the same hairs: each is shaped once.
    kept_hairs kept(!o.motion_blur);

    // The final render's camera, set up before the shadow maps so that its
    // prework can run in a map's band.
    cam->set_image_params(o.height, o.width, crop_window(o), depth_range(o, *cam));
    if (!cam->init_zbuffer())
        throw run_error{"frame " + std::to_string(frame) +
                        ": the scene camera cannot render (see the message above)"};
    std::vector<surface_color> colors;
    for (const auto& c : o.surface_colors)
        colors.push_back({c.first, kivColor(c.second[0], c.second[1], c.second[2], 1.0f)});
    surface_layer surfaces;
    frame_pass pass{o, *cam, surfaces, colors, progress, nullptr, false, false, {}, {}};

    // Shadow maps from the lights, then set up for the final render.
    frame_shadows shadows;
    camera_prework prework = final_render_prework(o, pass);
    const std::string shadow_error =
        prepare_shadows(o, folder, *cam, frame, progress, prework.run ? &prework : nullptr);
    if (!shadow_error.empty()) throw run_error{shadow_error};
    pass.geometry_drawn = pass.estimated = prework.done;

    const auto start = std::chrono::steady_clock::now();
    const exr_frame fr = exr_frame_of(o);
    picture_rows picture(o, fr);
    std::string curves_path;
    if (!o.motion_blur && !o.export_curves.empty()) {
        curves_path = frame_file_name(o.export_curves, frame);
        pass.curves.reset(new curve_writer);
        if (!pass.curves->open(curves_path.c_str()))
            throw run_error{"cannot create \"" + curves_path + "\""};
    }
    if (o.tiles > 1 && o.surfaces && !o.motion_blur) {
        // A band of the picture: the geometry whole, as in a single run, the
        // band's hair, then the surfaces whole where the hair leaves them
        // visible.
        geometry_kept keep;
        pass.draw_geometry(true);
        draw_hair(o, *cam, [&pass](bool first) { pass.draw_hair(first); });
        pass.shade_surfaces(true, true);
    } else if (o.tiles > 1) {
        pass.shade_surfaces(true);
        pass.draw_geometry(true);
        draw_hair(o, *cam, [&pass](bool first) { pass.draw_hair(first); });
    } else {
        draw_frame_in_bands(o, pass, picture);
    }
    pass.export_blurred_curves(frame);
    if (pass.curves && !pass.curves->close())
        throw run_error{"could not write \"" + curves_path + "\""};
    progress.stage("writing the images");
    write_outputs(o, *cam, o.surfaces ? &surfaces : nullptr, picture, fr, frame);
    progress.end_frame();
    if (o.count_fragments)
        std::fprintf(stderr, "furrender: frame %d: %lld covered sample-fragments\n", frame,
                     count_fragments(*cam));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (o.verbose) {
        std::fprintf(stderr, "furrender: frame %d: final render in %.3f s\n", frame, took.count());
        // Each banded pass of the frame: its bands' processor seconds.
        std::string bands;
        for (const std::vector<double>& pass_bands : band_processor_times().bands) {
            bands += " [";
            for (double t : pass_bands) {
                char text[32];
                std::snprintf(text, sizeof text, " %.3f", t);
                bands += text;
            }
            bands += " ]";
        }
        std::fprintf(stderr, "furrender: frame %d: processor seconds of its banded passes:%s\n",
                     frame, bands.c_str());
        // And the hairs each band left unshaped, out of its reach.
        std::string unshaped;
        for (const std::vector<long long>& pass_bands : band_processor_times().unshaped) {
            unshaped += " [";
            for (long long n : pass_bands) unshaped += " " + std::to_string(n);
            unshaped += " ]";
        }
        std::fprintf(stderr, "furrender: frame %d: hairs its banded passes left unshaped:%s\n",
                     frame, unshaped.c_str());
        // And the z-buffer rows each band drew.
        std::string rows;
        for (const std::vector<row_band>& pass_bands : band_processor_times().rows) {
            rows += " [";
            for (const row_band& b : pass_bands)
                rows += " " + std::to_string(b.row0) + "-" + std::to_string(b.row1 - 1);
            rows += " ]";
        }
        std::fprintf(stderr, "furrender: frame %d: z-buffer rows its banded passes drew:%s\n",
                     frame, rows.c_str());
    }
    // The last frame's scene and z-buffer go with the process, whose exit
    // releases its memory at once, faster than freeing it piece by piece.
    if (frame != o.last_frame) scndb_cleanup();
    return true;
}

void check_files(const options& o) {
    require_readable(o.hair, "the hair description file");
    require_readable(o.assign, "the assignment file");
    for (int f = o.first_frame; f <= o.last_frame; ++f) {
        require_readable(scndb_frame_name(o.scene.c_str(), f), "the scene file");
        if (o.motion_blur && !o.dump)
            require_readable(close_scene_file(o, f), "the shutter-close scene file");
    }
    if (o.dump) return;
    for (const std::string* name :
         {&o.out, &o.depth, &o.zbuff, &o.atmos, &o.deep, &o.export_curves})
        if (!name->empty()) require_writable_dir(frame_file_name(*name, o.first_frame));
}

int run(const options& o) {
    check_files(o);
    progress_display progress(!o.quiet && !o.dump);
    apply_settings(o);
    library_run lib(o.hash);

    std::string curveError;
    if (!korvo_tools::load_guide_curves(o.curves, curveError)) throw run_error{curveError};
    g_unopened.clear();
    if (!hair_params_init(o.hair.c_str())) library_failed("cannot read \"" + o.hair + "\"");
    if (!assdb_readfile(o.assign.c_str())) library_failed("cannot read \"" + o.assign + "\"");
    if (!o.atmos.empty() && !atmosdb_is_defined())
        throw run_error{"--atmos: the hair description file defines no fog"};

    shadow_folder folder(o);
    for (int f = o.first_frame; f <= o.last_frame; ++f)
        if (!render_frame(o, f, folder, progress)) break;
    if (o.verbose && !o.dump) {
        // The run's longest path: this process's serial work and, for every
        // banded hair pass, its longest band.
        const band_times t = band_processor_times();
        const double self = processor_seconds();
        std::fprintf(stderr,
                     "furrender: processor time %.3f s in this process, %.3f s of it in its "
                     "bands; longest path %.3f s (%d banded passes)\n",
                     self, t.own, self - t.own + t.longest, t.passes);
    }
    if (!o.quiet && !o.dump && !o.out.empty())
        std::fprintf(stderr, "furrender: wrote %s\n",
                     o.first_frame == o.last_frame ? frame_file_name(o.out, o.first_frame).c_str()
                                                   : o.out.c_str());
    lib.left_to_exit = !o.dump;
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

// Ends a run whose files are all written and closed. What the library still
// holds (the last frame's z-buffer, its tables) goes with the process at
// once: its exit hands the memory back faster than the destructors of the
// library's tables, which free it block by block. Under the address
// sanitizer the exit runs as usual, for its leak check, and so it does
// with a library that writes its profile counts at exit.
[[noreturn]] void leave(int status) {
#if defined(__SANITIZE_ADDRESS__) || defined(KORVO_COUNTS_AT_EXIT)
    std::exit(status);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    std::exit(status);
#endif
#endif
    std::fflush(nullptr);
    ::_exit(status);
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
        leave(run(opts));
    } catch (const run_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: %s\n", e.message.c_str());
    } catch (const FurException& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: %s\n", e.message().asChar());
    } catch (const std::runtime_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "furrender: out of memory\n");
    }
    return 1;
}
