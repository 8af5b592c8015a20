#include "shadow_passes.h"

#include "bands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "korvofur/korvofur.h"
#include "progress.h"
#include "shadow_rows.h"
#include "work_estimate.h"

namespace furrender {

namespace {

// The scene's light of that name, or null.
hair_light* scene_light(const char* name) {
    for (int i = 0; i < lgtdb_count(); ++i) {
        hair_light* l = lgtdb_get_index(i, 0);
        if (l && l->name && l->name->name && std::strcmp(l->name->name, name) == 0) return l;
    }
    return nullptr;
}

// Every light that the hair description file shadows must be in the scene,
// and a mapped light must be a spot light.
std::string check_lights(int frame) {
    for (int pass = 0; pass < 2; ++pass) {
        const int n = assdb_get_nb_shadow_lights(pass);
        std::vector<hair_name*> names(static_cast<std::size_t>(n > 0 ? n : 0));
        const int got = n > 0 ? assdb_get_shadow_lights_list(n, names.data(), pass) : 0;
        for (int i = 0; i < got; ++i) {
            const char* name = names[i]->name;
            const hair_light* l = scene_light(name);
            if (l == nullptr)
                return "the hair description file shadows light \"" + std::string(name) +
                       "\", which the scene of frame " + std::to_string(frame) + " lacks";
            if (assdb_has_shadow_map(names[i]) && l->type != LIGHT_SPOT)
                return "light \"" + std::string(name) +
                       "\" has a shadow map, but only spot lights can cast them";
        }
    }
    return std::string();
}

// While it lives, defs holds the final render's settings (those of before
// the map passes) where a map pass changes them.
class final_render_settings {
  public:
    explicit final_render_settings(const defaults& before) : during_(defs) {
        defs.subpixel_factor = before.subpixel_factor;
        defs.region_on = before.region_on;
        std::copy(before.region, before.region + 4, defs.region);
        defs.shadows.shadow_pass = 0;
    }
    ~final_render_settings() {
        defs.subpixel_factor = during_.subpixel_factor;
        defs.region_on = during_.region_on;
        std::copy(during_.region, during_.region + 4, defs.region);
        defs.shadows.shadow_pass = during_.shadows.shadow_pass;
    }
    final_render_settings(const final_render_settings&) = delete;
    final_render_settings& operator=(const final_render_settings&) = delete;

  private:
    const defaults during_;
};

// The share of a band's work that each zone of a map's pass with the final
// render's prework takes on either side of a cut: the prework's time
// varies from machine to machine and from run to run far more than the
// hair's (much of it first touches the geometry z-buffer's pages).
constexpr double kPreworkZoneShare = 0.2;
// The rows of their units: the map's hair gathers in few rows, where 16 of
// them can take 30 ms to draw.
constexpr int kPreworkZoneUnitRows = 4;

// The final render's prework, as the first band of a map's pass runs it
// once its own rows are resolved.
std::function<void()> prework_step(camera_prework* prework, const defaults& before) {
    return [prework, &before] {
        if (prework->done) return;
        final_render_settings final_settings(before);
        prework->run();
        prework->done = true;
    };
}

// The map of entry k of defs.shadows, rendered by a square camera at its
// light into path. before holds the settings of the final render.
std::string render_map(int k, const options& o, const hair_camera& view, const std::string& path,
                       bool file, const defaults& before, camera_prework* prework) {
    ShadowMapInfo& e = defs.shadows.entries[k];
    defs.shadows.current = k;
    const int n = e.params.map.lines;
    if (n < 1 || n > kSmapMaxSide || static_cast<long long>(n) * n > kSmapMaxPixels)
        return "light \"" + std::string(e.name) + "\": map_size " + std::to_string(n) +
               " is out of range (1 ... 4096)";
    kivMatrix view_matrix = const_cast<hair_camera&>(view).get_matrix();
    const kivMatrix to_light = lgtdb_get_new_shadow_matrix(e.name, k, 0, view_matrix);
    if (!(e.params.angle > 0.0f && e.params.angle < 90.0f))
        return "light \"" + std::string(e.name) + "\": its shadow view angle of " +
               std::to_string(e.params.angle) + " degrees must lie between 0 and 90";

    hair_camera cam;
    cam.set_shadow_params(e.params.angle);
    cam.set_matrix(to_light);
    cam.set_image_params(n, n, cam_window(), zcalc());
    if (!cam.init_zbuffer())
        return "light \"" + std::string(e.name) + "\": cannot make its shadow camera";
    mdldb_zbuffer(&cam, 0);
    // The hair of the map is drawn in bands on --threads processes, each
    // shaping only the hairs that can reach its band and resolving its rows
    // (the debug picture needs the whole map).
    shadow_map_rows rows(cam, file);
    const auto hair = [&cam](bool) {
        hairs_in_reach reach(cam);
        mdldb_hair(cam);
    };
    // With several processes, the first band also runs the final render's
    // prework, when one is left to do, once its own rows are resolved: its
    // band gets that much less of the map's work, and the bands share
    // zones of rows at their cuts, whose units the others take while it
    // runs the prework, however long that takes on the machine.
    const int workers = o.threads > 0 ? o.threads : processor_count();
    camera_prework* const pre =
        workers > 1 && !o.shadow_debug && prework != nullptr && !prework->done && prework->run
            ? prework
            : nullptr;
    band_work work =
        o.shadow_debug ? band_work{} : rows.work(hair, pre ? prework_step(pre, before) : nullptr);
    if (o.shadow_debug) work.draw = hair;
    if (pre != nullptr) {
        work.first_extra = pre->share;
        work.shared_zones = true;
        work.zone_share = kPreworkZoneShare;
        work.zone_unit_rows = kPreworkZoneUnitRows;
        work.zones_wait = true;
    }
    // The hairs a worker shapes in its band come back to this process, so
    // that the final render's processes, forked from it, need not shape
    // them again.
    work.kept_hairs = true;
    // The bands are cut by where the models with hair lie on the map.
    if (workers > 1) work.row_work = hair_models_by_row(cam);
    const std::string drawn =
        draw_in_bands(cam, {0, cam.zbuffer()->lines()}, workers, o.quiet, work);
    if (!drawn.empty()) return "light \"" + std::string(e.name) + "\": " + drawn;
    std::remove(path.c_str());
    if (o.shadow_debug)
        cam.render_shadow_map(path.c_str(), 1);
    else if (!rows.write(path, e.params.map.cone))
        std::remove(path.c_str());
    else if (!rows.writes_file())
        return std::string();
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return std::string();
    }
    return "could not write the shadow map \"" + path + "\"";
}

// The creation passes of every shadow-mapped light of the frame.
std::string make_maps(const options& o, shadow_folder& folder, const hair_camera& view, int frame,
                      progress_display& progress, camera_prework* prework) {
    ShadowMapList& list = defs.shadows;
    list.shadow_pass = 1;
    list.use_shadows = 0;
    // The geometry must outlive the passes, and a map pixel is a sample.
    const defaults saved = defs;
    defs.tiles[0] = 1;
    defs.tiles[1] = 2;
    defs.subpixel_factor = 1;
    defs.region_on = 0;
    std::string error;
    if (smSetUpToCreate(&list) == 0) {
        const std::string base = folder.base(o.scene);
        for (int k = 0; k < list.count && error.empty(); ++k) {
            const std::string path = smSmapFileName(base.c_str(), list.entries[k].name, frame);
            progress.stage(std::string("shadow map of ") + list.entries[k].name);
            const auto start = std::chrono::steady_clock::now();
            folder.written(path);
            error = render_map(k, o, view, path, !folder.temporary(), saved, prework);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (error.empty() && o.verbose)
                std::fprintf(stderr, "furrender: frame %d: shadow map of light \"%s\" in %.3f s\n",
                             frame, list.entries[k].name, took.count());
        }
        smFreeAfterCreate(&list);
    }
    defs.tiles[0] = saved.tiles[0];
    defs.tiles[1] = saved.tiles[1];
    defs.subpixel_factor = saved.subpixel_factor;
    defs.region_on = saved.region_on;
    list.shadow_pass = 0;
    list.current = 0;
    return error;
}

}  // namespace

shadow_folder::shadow_folder(const options& o) {
    if (o.no_shadows) return;
    if (!o.shadow_dir.empty()) {
        // The folder is made when missing (its parent must exist).
        dir_ = o.shadow_dir;
        if (!o.reuse_shadows && ::mkdir(dir_.c_str(), 0777) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot make the shadow folder \"" + dir_ +
                                     "\": " + std::strerror(errno));
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/furrender-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder for the shadow maps: " +
                                 std::string(std::strerror(errno)));
    dir_ = buf.data();
    temporary_ = true;
}

shadow_folder::~shadow_folder() {
    if (!temporary_) return;
    for (const std::string& path : written_) std::remove(path.c_str());
    ::rmdir(dir_.c_str());
}

std::string shadow_folder::base(const std::string& scene) const {
    const std::size_t slash = scene.rfind('/');
    return dir_ + "/" + (slash == std::string::npos ? scene : scene.substr(slash + 1));
}

std::string prepare_shadows(const options& o, shadow_folder& folder, hair_camera& camera, int frame,
                            progress_display& progress, camera_prework* prework) {
    if (o.no_shadows) return std::string();
    std::string error = check_lights(frame);
    if (error.empty() && !o.reuse_shadows)
        error = make_maps(o, folder, camera, frame, progress, prework);
    if (!error.empty()) {
        smForgetProvidedMaps();
        return error;
    }

    // The final render reads the maps; lights without one are auto-shaded.
    // The use-shadows flag is set first: it makes the entries' matrices
    // start from camera space, where lighting looks points up.
    const std::string base = folder.base(o.scene);
    // The maps just made are taken from memory, not read back.
    defs.shadows.use_shadows = 1;
    const bool set_up = smSetUpToUse(&defs.shadows, base.c_str(), frame, camera);
    smForgetProvidedMaps();
    if (!set_up) {
        // The entry that failed is the map entry left unopened.
        std::string what = "cannot set up the shadow maps of frame " + std::to_string(frame);
        for (int i = 0; i < defs.shadows.count; ++i) {
            const ShadowMapInfo& e = defs.shadows.entries[i];
            if (e.kind == SHADOW_MAP && e.name && e.params.map.encoding == -1) {
                what = "cannot open the shadow map \"" +
                       smSmapFileName(base.c_str(), e.name, frame) + "\"";
                break;
            }
        }
        end_shadows();
        return what;
    }
    return std::string();
}

void end_shadows() {
    smFreeAfterUse(&defs.shadows);
    defs.shadows.use_shadows = 0;
    defs.shadows.shadow_pass = 0;
}

}  // namespace furrender
