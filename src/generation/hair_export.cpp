// The hair-root export: the roots of every hair a model would grow, written
// as text instead of rendered.
//
// File format: one line per root, nine numbers printed with "%f" and
// separated by single blanks:
//
//   px py pz nx ny nz mx my mz
//
// the root position, the surface normal there and the motion vector (the
// root on the model of the same name in the second list minus this root;
// zeros without a second list). A hair that spawns a child is followed by
// the child's line: the parent's point k where the child sprouts, the
// parent's last step to it (point k minus point k - 1) and the motion of
// point k between the two lists' shaped parents.
//
// Faces are the outer loop and each face reseeds the generator with its
// own index, so a face's roots do not depend on the other faces.
#include <cstdio>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "generation/spawn_support.h"
#include "geometry/model_database.h"
#include "host/random48.h"

using namespace spawn_detail;

namespace {

// One model's export: both models' geometry and faces, the file and the
// tallies of the messages.
struct export_walk {
    FILE* out = nullptr;
    hair_model* model = nullptr;
    const kivPolygons* mesh = nullptr;
    const kivNurbSurface* nurb = nullptr;
    const kivPolygons* mesh2 = nullptr;  // the second list's model, if any
    const kivNurbSurface* nurb2 = nullptr;
    bool second = false;
    hair_poly poly, poly2;
    float root_area = 0.0f;

    // The assignment being exported.
    hair_params* hp = nullptr;
    float spawn_factor = 0.0f;
    const std::vector<clump_centre>* clumps = nullptr;

    hair_state hs;
    int hairs = 0, accepted = 0, bald = 0, spawned = 0;
};

void write_line(FILE* out, const kivPoint& p, const kivVector& n, const kivVector& m) {
    if (!out) return;
    std::fprintf(out, "%f %f %f ", p.x, p.y, p.z);
    std::fprintf(out, "%f %f %f ", n.x, n.y, n.z);
    std::fprintf(out, "%f %f %f\n", m.x, m.y, m.z);
}

// The frames at the root on both models; false when a polygon frame fails.
bool root_frames(export_walk& w, double r1, double r2, kivVector* frame, kivVector* frame2) {
    const float u = static_cast<float>(w.hs.u), v = static_cast<float>(w.hs.v);
    if (w.mesh) {
        if (!w.poly.calc_posnrmdir(r1, r2, frame)) return false;
        if (w.second && !w.poly2.calc_posnrmdir(r1, r2, frame2)) return false;
    } else {
        w.nurb->calc_posnrmdir(u, v, frame);
        if (w.second) w.nurb2->calc_posnrmdir(u, v, frame2);
    }
    return true;
}

// The line of a spawned root: the parent is shaped on both models and the
// child sprouts from its point k.
void export_spawned(export_walk& w) {
    const int n = static_cast<int>(w.clumps->size());
    const control_hair* h0 = hair_shape(&w.hs, w.clumps->data(), n, w.root_area);
    if (!h0) return;
    const int k = spawn_point(w.hp, w.hs, *h0);
    const kivPoint P = h0->points[k];
    const kivVector D(h0->points[k - 1], P);
    kivVector motion;
    if (w.second) {
        w.hs.sample = 1;
        const control_hair* h1 = hair_shape(&w.hs, w.clumps->data(), n, w.root_area);
        w.hs.sample = 0;
        if (!h1) return;
        if (k < h1->count) motion = kivVector(P, h1->points[k]);
    }
    write_line(w.out, P, D, motion);
    ++w.spawned;
}

// One draw of face f: the equalizer, baldness, the root's line and the
// line of a spawned child.
void export_draw(export_walk& w) {
    hair_state& hs = w.hs;
    const double r1 = korvo_host::drand48(), r2 = korvo_host::drand48(), r3 = korvo_host::drand48();
    if (w.mesh) {
        w.poly.uv_at(r1, r2, hs.u, hs.v);
    } else {
        hs.u = r1;
        hs.v = r2;
    }
    hs.rand[0] = r3;
    float e = 0.0f;
    if (equalizer_value(w.hp, hs, e) && !(r3 <= e)) return;
    const double r4 = korvo_host::drand48(), r5 = korvo_host::drand48(), r6 = korvo_host::drand48();
    hs.rand[1] = r4;
    hs.rand[2] = r5;
    hs.rand[3] = r6;
    defs.hair_random = static_cast<float>(r6);
    hair_params_eval_vars(w.hp, &hs);
    ++w.accepted;
    if (is_bald(w.hp, hs, r4)) {
        ++w.bald;
        return;
    }
    ++w.hairs;
    kivVector frame[4], frame2[4];
    if (!root_frames(w, r1, r2, frame, frame2)) return;
    ++defs.hair_id;
    hs.pos = kivPoint(frame[0]);
    hs.normal = frame[1];
    hs.dir = frame[2];
    hs.dir2 = frame[3];
    hs.pos_mb = kivPoint(frame2[0]);
    hs.normal_mb = frame2[1];
    hs.dir_mb = frame2[2];
    hs.dir2_mb = frame2[3];
    const kivVector motion = w.second ? kivVector(hs.pos, hs.pos_mb) : kivVector();
    write_line(w.out, hs.pos, hs.normal, motion);
    if (w.spawned < safe_count(static_cast<double>(w.hairs) * w.spawn_factor)) export_spawned(w);
}

// Fetches and prepares face f of both models; false (with a message) when
// either cannot give it.
bool fetch_face(export_walk& w, hair_model* model2, int f) {
    if (!w.poly.fetch(*w.mesh, f)) {
        std::printf("ERROR: couldn't get %d'th polygon in %s\n", f, model_label(w.model));
        return false;
    }
    if (w.second && !w.poly2.fetch(*w.mesh2, f)) {
        std::printf("ERROR: couldn't get %d'th polygon in %s\n", f, model_label(model2));
        return false;
    }
    quad_vdir(&w.poly);
    if (w.second) quad_vdir(&w.poly2);
    return true;
}

}  // namespace

int mdldb_kestrel_model(const char* file, hair_model* model, hair_model* model2, int n,
                        hair_params** list) {
    if (!model || (model->type != MODEL_POLY && model->type != MODEL_NURB)) return 0;
    export_walk w;
    if (file) {
        w.out = std::fopen(file, "w");
        if (!w.out) {
            std::printf("ERROR: could not open file %s\n", file);
            return 0;
        }
    }
    w.model = model;
    w.mesh = model->polygons();
    w.nurb = model->nurbs();
    if (model2 && model2->type == model->type) {
        w.mesh2 = model2->polygons();
        w.nurb2 = model2->nurbs();
        w.second = true;
    }
    defs.model_name = model->name_text();
    defs.root_scale = model->root_scale;
    fetch_model_attractors(model);
    w.root_area = clump_radius(model);

    // 1. The clump centres of every assignment that is drawn.
    std::vector<std::vector<clump_centre>> clumps(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (list[i] && description_visible(list[i], false))
            build_clump_centres(model, list[i], w.hs, w.poly, clumps[i]);
    }
    // 2-5. Faces outside, assignments inside; every face has its own seed.
    const int faces = w.mesh ? w.mesh->get_nb_polys() : 1;
    for (int f = 0; f < faces; ++f) {
        korvo_host::srand48(f);
        if (w.mesh && !fetch_face(w, model2, f)) continue;
        for (int i = 0; i < n; ++i) {
            hair_params* hp = list[i];
            if (!hp || !description_visible(hp, false)) continue;
            w.hp = hp;
            w.clumps = &clumps[i];
            w.hs.params = hp;
            w.hs.sample = 0;
            fetch_curve_attractors(model, hp);
            spawn_description(hp, model->root_scale, w.spawn_factor);
            const double d =
                hp->density.eval_const() * assdb_get_density_mult(model->name, hp->name);
            const int count = w.mesh ? hair_poly_count(w.poly, d) : safe_count(d);
            for (int h = 0; h < count; ++h) export_draw(w);
        }
    }

    // 6. Messages.
    std::printf("%d assignments created %d hairs for %s\n", n, w.hairs, model_label(model));
    if (w.spawned > 0) std::printf("%d number of hairs spawned\n", w.spawned);
    if (w.accepted > 0) {
        std::printf("totals: %d hairs generated, %d bald hairs, %f baldness\n\n", w.accepted,
                    w.bald, static_cast<double>(w.bald) / w.accepted);
    }
    std::fflush(stdout);
    if (w.out) std::fclose(w.out);
    defs.model_name = nullptr;
    hair_shape_set_attractors(nullptr, 0);
    hair_shape_set_curve_attractors(nullptr, 0);
    return w.hairs;
}

int mdldb_kestrel(const char* file, int use_second_list) {
    int total = 0;
    const int capacity = mdldb_capacity(0);
    for (int i = 0; i < capacity; ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        if (!m || assdb_get_exclude(m->name, 0)) continue;
        int n = 0;
        hair_params** list = nullptr;
        model_descriptions(m, false, n, list);
        if (n > 0) {
            hair_model* m2 = use_second_list ? mdldb_get_model(m->name, 1) : nullptr;
            total += mdldb_kestrel_model(file, m, m2, n, list);
        } else if (opt_warnings() && m->name) {
            std::printf("INFO: model %s has no hair.\n", m->name_text());
        }
    }
    std::printf("--- rendered %d total hairs\n", total);
    std::fflush(stdout);
    return total;
}
