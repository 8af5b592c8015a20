#include "generation/motion_spawning.h"

#include <cstdio>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "generation/hair_shaping.h"
#include "generation/spawn_support.h"
#include "geometry/model_database.h"
#include "host/random48.h"

using namespace spawn_detail;

namespace {

// The camera's motion-blurred rasteriser, which the render layer above
// registers as the default when the library is loaded. Both start null,
// before any code runs, so the registration cannot come too early; a walk
// without a sink draws nothing.
mdldb_motion_hair_sink g_default_motion_sink = nullptr;
mdldb_motion_hair_sink g_motion_sink = nullptr;

// One model's motion-blurred hair generation: the geometry at both times,
// the hair being made and the tallies of the messages.
struct motion_walk {
    hair_model* model[2] = {nullptr, nullptr};
    hair_camera* cam[2] = {nullptr, nullptr};
    const kivPolygons* mesh[2] = {nullptr, nullptr};
    const kivNurbSurface* nurb[2] = {nullptr, nullptr};
    const hair_datapoints* points[2] = {nullptr, nullptr};
    int faces = 0;
    float uv_area = 0.0f;
    bool shadow = false;

    // The assignment being placed.
    hair_params* hp = nullptr;
    hair_params* sp = nullptr;  // spawn description
    float spawn_factor = 0.0f;
    float root_area = 0.0f;
    std::vector<clump_centre> clumps[2];  // grown on each time's model

    // The hair being made.
    hair_state hs;
    hair_poly poly[2];

    // Tallies of the model.
    int generated = 0, accepted = 0, bald = 0, spawned = 0;
    int quads = 0, nonquads = 0;
    bool faces_counted = false;
};

// The surface frame of time t at the root of the current hair (face f,
// random pair r1, r2) into hs's fields of that time.
bool root_frame(motion_walk& w, int t, int f, double r1, double r2) {
    kivVector frame[4];
    if (w.mesh[t]) {
        if (!w.poly[t].calc_posnrmdir(r1, r2, frame)) return false;
    } else if (w.nurb[t]) {
        w.nurb[t]->calc_posnrmdir(static_cast<float>(w.hs.u), static_cast<float>(w.hs.v), frame);
    } else {
        const hair_datapoints* p = w.points[t];
        if (f >= p->count) return false;
        frame[0] = kivVector(p->positions[f]);
        frame[1] = p->normals[f];
        frame[2] = p->directions[f];
    }
    hair_state& hs = w.hs;
    (t == 0 ? hs.pos : hs.pos_mb) = kivPoint(frame[0]);
    (t == 0 ? hs.normal : hs.normal_mb) = frame[1];
    (t == 0 ? hs.dir : hs.dir_mb) = frame[2];
    (t == 0 ? hs.dir2 : hs.dir2_mb) = frame[3];
    return true;
}

// Shapes the current hair at both times; false unless both exist. The
// second hair lives in the work record of sample 1, so the first stays
// valid.
bool shape_pair(motion_walk& w, control_hair*& h0, control_hair*& h1) {
    const int n0 = static_cast<int>(w.clumps[0].size());
    const int n1 = static_cast<int>(w.clumps[1].size());
    w.hs.sample = 0;
    h0 = hair_shape(&w.hs, w.clumps[0].data(), n0, w.root_area);
    w.hs.sample = 1;
    h1 = hair_shape(&w.hs, w.clumps[1].data(), n1, w.root_area);
    w.hs.sample = 0;
    ++defs.hair_id;
    return h0 != nullptr && h1 != nullptr;
}

// Hands a pair on to the sink.
void draw_pair(motion_walk& w, control_hair* h0, control_hair* h1) {
    if (g_motion_sink != nullptr) g_motion_sink(w.cam[0], w.cam[1], h0, h1, &w.hs);
}

// Shapes the current hair at both times and hands the pair on; a hair due
// a child hands on the child's pair as well, sprouting at both times from
// the same point of the parent.
void grow_pair(motion_walk& w) {
    control_hair *h0, *h1;
    if (!shape_pair(w, h0, h1)) return;
    if (!w.sp || w.spawn_factor <= 0.0f ||
        w.spawned >= safe_count(static_cast<double>(w.generated) * w.spawn_factor)) {
        draw_pair(w, h0, h1);
        return;
    }
    // Taken before the renderer moves the parents' points.
    const int k = spawn_point(w.hp, w.hs, *h0);
    if (k >= h1->count) {
        draw_pair(w, h0, h1);
        return;
    }
    const kivPoint P0 = h0->points[k], P1 = h1->points[k];
    const kivVector D0(h0->points[k - 1], h0->points[k]), D1(h1->points[k - 1], h1->points[k]);
    draw_pair(w, h0, h1);
    w.hs.pos = P0;
    w.hs.normal = D0;
    w.hs.pos_mb = P1;
    w.hs.normal_mb = D1;
    w.hs.params = w.sp;
    if (shape_pair(w, h0, h1)) {
        draw_pair(w, h0, h1);
        ++w.spawned;
    }
    w.hs.params = w.hp;
}

// Draws the hairs of face f until count are accepted (or the equalizer
// gives up on the face). Returns the number accepted.
int draw_face(motion_walk& w, int f, int count) {
    hair_state& hs = w.hs;
    int accepted = 0, rejected = 0, zeros = 0;
    while (accepted < count) {
        // Six random numbers in a row, then the root's parameters.
        double r[6];
        for (double& x : r) x = korvo_host::drand48();
        defs.hair_random = static_cast<float>(r[5]);
        if (w.mesh[0]) {
            w.poly[0].uv_at(r[0], r[1], hs.u, hs.v);
        } else {
            hs.u = r[0];
            hs.v = r[1];
        }
        for (int k = 0; k < 4; ++k) hs.rand[k] = r[k + 2];
        // The equalizer test.
        float e = 0.0f;
        if (equalizer_value(w.hp, hs, e)) {
            if (e == 0.0f && ++zeros > 2 * count) break;
            if (!(r[2] <= e)) {
                ++rejected;
                if (w.mesh[0] && rejected >= count) break;
                continue;
            }
        }
        // Accepted; a bald hair goes no further.
        hair_params_eval_vars(w.hp, &hs);
        ++accepted;
        ++w.accepted;
        if (is_bald(w.hp, hs, r[3])) {
            ++w.bald;
            continue;
        }
        // The root frame at both times, the pair of shapes, the renderer.
        ++w.generated;
        if (!root_frame(w, 0, f, r[0], r[1]) || !root_frame(w, 1, f, r[0], r[1])) continue;
        grow_pair(w);
    }
    return accepted;
}

// Fetches and prepares face f of both meshes; false (with a message) when
// either cannot give it.
bool fetch_faces(motion_walk& w, int f) {
    for (int t = 0; t < 2; ++t) {
        if (!w.poly[t].fetch(*w.mesh[t], f)) {
            std::printf("ERROR: couldn't get %d'th polygon in %s\n", f, model_label(w.model[t]));
            return false;
        }
        quad_vdir(&w.poly[t]);
    }
    return true;
}

// One pass over the faces for a wanted total. Returns the hairs accepted.
int place_pass(motion_walk& w, double total) {
    int accepted = 0;
    for (int f = 0; f < w.faces; ++f) {
        if (w.mesh[0]) {
            if (!fetch_faces(w, f)) continue;
            if (!w.faces_counted) ++(w.poly[0].nb_points == 4 ? w.quads : w.nonquads);
        }
        w.sp = spawn_description(w.hp, w.model[0]->root_scale, w.spawn_factor);
        const int count =
            w.mesh[0] ? hair_poly_count(w.poly[0], total / w.uv_area) : safe_count(total);
        accepted += draw_face(w, f, count);
    }
    w.faces_counted = true;
    return accepted;
}

// Places the hairs of one assignment.
void place_assignment(motion_walk& w, hair_params* hp) {
    w.hp = hp;
    fetch_curve_attractors(w.model[0], hp);
    w.hs = hair_state();
    w.hs.params = hp;
    if (!description_visible(hp, w.shadow)) return;

    double total = assdb_get_density_mult(w.model[0]->name, hp->name) * hp->density.eval_const();
    const int wanted = safe_count(total);
    w.root_area = clump_radius(w.model[0]);
    // The clump centres of both times come from the same draws (each
    // build starts from seed 0), so centre i is the same centre at both.
    for (int t = 0; t < 2; ++t) {
        hair_state scratch;
        build_clump_centres(w.model[t], hp, scratch, w.poly[t], w.clumps[t]);
    }
    w.hs.params = hp;

    int accepted = 0;
    while (accepted < wanted) {
        const int pass = place_pass(w, total);
        if (pass == 0) break;
        total -= pass;
        accepted += pass;
    }
    w.clumps[0].clear();
    w.clumps[1].clear();
}

// The geometry of a model for the walk: faces of the same kind at both
// times, or false.
bool set_geometry(motion_walk& w) {
    for (int t = 0; t < 2; ++t) {
        w.mesh[t] = w.model[t]->polygons();
        w.nurb[t] = w.model[t]->nurbs();
        w.points[t] = w.model[t]->datapoints();
    }
    if ((w.mesh[0] == nullptr) != (w.mesh[1] == nullptr) ||
        (w.nurb[0] == nullptr) != (w.nurb[1] == nullptr) ||
        (w.points[0] == nullptr) != (w.points[1] == nullptr))
        return false;
    if (w.mesh[0]) {
        w.faces = w.mesh[0]->get_nb_polys();
        w.uv_area = w.mesh[0]->get_uv_area();
    } else {
        w.faces = w.points[0] ? w.points[0]->count : 1;
    }
    return true;
}

}  // namespace

mdldb_motion_hair_sink mdldb_set_motion_hair_sink(mdldb_motion_hair_sink sink) {
    const mdldb_motion_hair_sink previous = g_motion_sink;
    g_motion_sink = sink ? sink : g_default_motion_sink;
    return previous;
}

bool mdldb_register_default_motion_hair_sink(mdldb_motion_hair_sink sink) {
    if (g_motion_sink == g_default_motion_sink) g_motion_sink = sink;
    g_default_motion_sink = sink;
    return true;
}

int mdldb_motion_blur_hair_model(hair_model* model0, hair_model* model1, hair_camera* cam0,
                                 hair_camera* cam1, int n, hair_params** list) {
    if (n == 0 || !model0 || model0->type == MODEL_NULL) return 0;
    if (!model1) model1 = model0;
    if (opt_progress()) std::printf("doing model %s...\n", model_label(model0));
    defs.model_name = model0->name_text();
    defs.root_scale = model0->root_scale;
    fetch_model_attractors(model0);

    motion_walk w;
    w.model[0] = model0;
    w.model[1] = model1;
    w.cam[0] = cam0;
    w.cam[1] = cam1;
    w.shadow = defs.shadows.shadow_pass != 0;
    if (!set_geometry(w)) {
        std::printf("WARNING: dis-similar geometries for model %s\n", model_label(model0));
        defs.model_name = nullptr;
        return 0;
    }
    korvo_host::srand48(0);
    for (int i = 0; i < n; ++i)
        if (list[i]) place_assignment(w, list[i]);

    const char* name = model_label(model0);
    if (w.mesh[0]) {
        std::printf("%d assignments created %d hairs from polygons %s (%d, %d)\n", n, w.generated,
                    name, w.nonquads, w.quads);
    } else if (w.nurb[0]) {
        std::printf("%d assignments created %d hairs from nurb %s\n", n, w.generated, name);
    } else {
        std::printf("%d assignments created %d hairs from datapoints %s\n", n, w.generated, name);
    }
    if (w.spawned > 0) std::printf("%d number of hairs spawned\n", w.spawned);
    std::fflush(stdout);
    defs.model_name = nullptr;
    hair_shape_set_attractors(nullptr, 0);
    hair_shape_set_curve_attractors(nullptr, 0);
    return w.generated;
}

int mdldb_motion_blur_hair(hair_camera* cam0, hair_camera* cam1) {
    const bool shadow = defs.shadows.shadow_pass != 0;
    int total = 0;
    hair_pass_scope pass(cam0);
    for (int i = 0; i < mdldb_capacity(0); ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        if (!m) continue;
        hair_model* m1 = m->name ? mdldb_get_model(m->name, 1) : nullptr;
        if (!assdb_get_exclude(m->name, shadow ? 1 : 0)) {
            int n = 0;
            hair_params** list = nullptr;
            model_descriptions(m, shadow, n, list);
            if (n > 0) total += mdldb_motion_blur_hair_model(m, m1, cam0, cam1, n, list);
        }
        mdldb_release_geometry(m);
        if (m1) mdldb_release_geometry(m1);
    }
    pass.finish();
    std::printf("--- rendered %d total hairs\n", total);
    std::fflush(stdout);
    return total;
}
