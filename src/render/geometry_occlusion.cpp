#include "render/geometry_occlusion.h"
#include "render/geometry_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "descriptions/assign_db.h"
#include "foundation/render_settings.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/scan_convert.h"

using geom_raster::geom_vertex;
using geom_raster::kNear;

namespace {

kivVector position(const geom_vertex& v) {
    return kivVector(v.v[0], v.v[1], v.v[2]);
}

// The point of edge v → n on the near plane.
kivPoint to_near_plane(const kivPoint& v, const kivPoint& n) {
    const float s = std::fabs((v.z - kNear) / (n.z - v.z));
    kivPoint p = v + (n - v) * s;
    p.z = kNear;  // exactly on the plane despite rounding
    return p;
}

}  // namespace

namespace geom_raster {

int facing(int& n, geom_vertex* v, bool flag1, bool flag2) {
    // Edges at the first vertex; a quad drops a repeated vertex.
    kivVector e1 = position(v[1]) - position(v[0]);
    kivVector e2 = position(v[2]) - position(v[1]);
    if (e1.norm() == 0.0f || e2.norm() == 0.0f) {
        if (n == 3) return 2;
        v[1] = v[2];
        v[2] = v[3];
        n = 3;
        e1 = position(v[1]) - position(v[0]);
        if (e1.norm() == 0.0f) return 2;
    }
    kivVector e3 = position(v[n - 1]) - position(v[0]);
    if (e3.norm() == 0.0f) {
        if (n == 3) return 2;
        n = 3;
        e3 = position(v[2]) - position(v[0]);
        if (e3.norm() == 0.0f) return 2;
    }

    // Normal against the view direction.
    kivVector normal = e3 ^ e1;
    normal.norm();
    if (flag2) normal = -normal;
    kivVector view = position(v[0]);
    view.norm();
    if (normal * view > 0.0f) {
        if (!flag1) return 1;
        std::reverse(v, v + n);
        return 0;
    }
    if (flag2) std::reverse(v, v + n);
    return 0;
}

int clip_near(int n, const kivPoint* in, kivPoint* out) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const kivPoint& p = in[i];
        if (p.z <= kNear) {
            out[m++] = p;
            continue;
        }
        const kivPoint& prev = in[(i + n - 1) % n];
        const kivPoint& next = in[(i + 1) % n];
        if (prev.z <= kNear) out[m++] = to_near_plane(p, prev);
        if (next.z <= kNear) out[m++] = to_near_plane(p, next);
    }
    return m;
}

}  // namespace geom_raster

namespace {

using geom_raster::clip_near;
using geom_raster::facing;

// The polygons of a model for the z-buffer: its own mesh, or a new
// tessellation of its surface (owned by keep); null when it is hidden or
// has no surface. tess_warning is printed, in verbose mode, when a
// tessellation fails.
kivPolygons* model_polygons(hair_model& model, std::unique_ptr<kivPolygons>& keep,
                            const char* tess_warning) {
    if (kivPolygons* p = model.polygons()) {
        if (!p->get_visibility() || !p->get_prim_visibility()) return nullptr;
        return p;
    }
    kivNurbSurface* s = model.nurbs();
    if (s == nullptr || !s->get_visibility() || !s->get_prim_visibility()) return nullptr;
    keep.reset(mdldb_tessellate(&model));
    if (!keep && tess_warning != nullptr && opt_warnings())
        std::printf(tess_warning, model.name_text() != nullptr ? model.name_text() : "");
    return keep.get();
}

// Z-buffers one model without motion blur.
void zbuffer_model(hair_model& model, hair_camera& cam) {
    ++defs.geometry_id;
    const char* name = model.name_text() != nullptr ? model.name_text() : "";
    if (opt_progress()) std::printf("doing model %s...\n", name);

    // The polygons: the mesh itself, or a tessellation of the surface.
    std::unique_ptr<kivPolygons> tessellation;
    kivPolygons* mesh = model_polygons(model, tessellation, nullptr);
    if (mesh == nullptr) return;

    defs.model_name = name;
    const bool flag1 = model.zbuffer_flag1;
    const bool flag2 = model.zbuffer_flag2 && !model.zbuffer_flag1;
    kivPoint points[4];
    int nb = 0;
    for (int i = 0; i < mesh->get_nb_polys(); ++i) {
        if (mesh->get_poly(i, nb, points, nullptr, nullptr))
            cam.zbuff_poly(nb, points, flag1, flag2);
    }
    defs.model_name = nullptr;
}

// Z-buffers a model of list 0 moving to its namesake of list 1: polygon i
// of one moves to polygon i of the other.
void zbuffer_moving_model(hair_model& model, hair_camera& cam0, hair_camera& cam1,
                          hair_model& model1) {
    ++defs.geometry_id;
    const char* name = model.name_text() != nullptr ? model.name_text() : "";
    if (opt_progress()) std::printf("doing model %s...\n", name);

    static const char kTessFailed[] = "WARNING: nurb tessellation failed for %s, skipping...\n";
    std::unique_ptr<kivPolygons> tess0, tess1;
    kivPolygons* mesh0 = model_polygons(model, tess0, kTessFailed);
    if (mesh0 == nullptr) return;
    kivPolygons* mesh1 = model1.polygons();
    if (model1.nurbs() != nullptr) mesh1 = model_polygons(model1, tess1, kTessFailed);
    if (mesh1 == nullptr) return;

    int count = mesh0->get_nb_polys();
    if (mesh1->get_nb_polys() != count) {
        std::printf("WARNING: dis-similar geometries for model %s\n", name);
        count = std::min(count, mesh1->get_nb_polys());
    }
    defs.model_name = name;
    const bool flag1 = model.zbuffer_flag1;
    const bool flag2 = model.zbuffer_flag2 && !model.zbuffer_flag1;
    kivPoint p0[4], p1[4];
    int n0 = 0, n1 = 0;
    for (int i = 0; i < count; ++i) {
        if (!mesh0->get_poly(i, n0, p0, nullptr, nullptr) ||
            !mesh1->get_poly(i, n1, p1, nullptr, nullptr))
            continue;
        if (n0 == n1)
            cam0.zbuff_motion_blur_poly(n0, p0, p1, &cam1, flag1, flag2, 0);
        else
            std::printf("WARNING: dis-similar polygons for model %s\n", name);
    }
    defs.model_name = nullptr;
}

// Walks the models of list which. draw(model) z-buffers a model that this
// pass draws; release(model) gives back the geometry of a model that needs
// it no longer.
template <class Draw, class Release>
void walk_models(int which, Draw draw, Release release) {
    const int count = mdldb_capacity(which);
    int named = 0;
    for (int i = 0; i < count; ++i) {
        const hair_model* m = mdldb_get_index(i, which);
        if (m != nullptr && m->name != nullptr) ++named;
    }
    if (named == 0 && opt_warnings()) std::printf("WARNING: there are no models\n");

    const int shadow_pass = defs.shadows.shadow_pass;
    const bool old_behavior = std::getenv("KORVO_FUR_OLD_BEHAVIOR") != nullptr;
    for (int i = 0; i < count; ++i) {
        hair_model* model = mdldb_get_index(i, which);
        if (model == nullptr || model->name == nullptr) continue;
        if (assdb_get_exclude(model->name, shadow_pass)) {
            if (opt_warnings())
                std::printf("INFO: model %s excluded from computation.\n", model->name_text());
            release(model);
            continue;
        }

        // Seen by this pass: casting shadows in a shadow pass, seen by the
        // camera otherwise. Models without polygons or a surface count as seen.
        bool pass = true;
        if (const kivPolygons* p = model->polygons()) {
            pass = shadow_pass ? p->get_casts_shadows() : p->get_prim_visibility();
        } else if (const kivNurbSurface* s = model->nurbs()) {
            pass = shadow_pass ? s->get_casts_shadows() : s->get_prim_visibility();
        }
        const bool has_hair = assdb_has_model_hair(model->name);
        if (pass || (!old_behavior && has_hair)) draw(model);
        if (!has_hair) release(model);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The model walks

void mdldb_zbuffer(hair_camera* cam, int which) {
    if (cam == nullptr) return;
    walk_models(
        which, [cam](hair_model* m) { zbuffer_model(*m, *cam); },
        [](hair_model* m) { mdldb_release_geometry(m); });
}

void mdldb_motion_blur_zbuffer(hair_camera* cam0, hair_camera* cam1) {
    if (cam0 == nullptr || cam1 == nullptr) return;
    // A model without a namesake at shutter close stands still.
    walk_models(
        0,
        [cam0, cam1](hair_model* m) {
            if (hair_model* m1 = mdldb_get_model(m->name, 1))
                zbuffer_moving_model(*m, *cam0, *cam1, *m1);
            else
                zbuffer_model(*m, *cam0);
        },
        [](hair_model* m) {
            mdldb_release_geometry(m);
            mdldb_release_geometry(mdldb_get_model(m->name, 1));
        });
}

// ---------------------------------------------------------------------------
// One polygon

void hair_camera::zbuff_poly(int n, kivPoint* points, bool flag1, bool flag2) {
    if (arr == nullptr || points == nullptr || n < 3 || n > 4) return;

    // Camera space, and the near plane.
    kivPoint cam_pts[4];
    int behind = 0;
    for (int i = 0; i < n; ++i) {
        cam_pts[i] = points[i] * matrix;
        if (cam_pts[i].z > kNear) ++behind;
    }
    if (behind == n) return;
    kivPoint clipped[8];
    const kivPoint* poly = cam_pts;
    int m = n;
    if (behind > 0) {
        m = clip_near(n, cam_pts, clipped);
        poly = clipped;
        if (m > 5) {
            std::printf("FATAL: poly clipping error\n");
            m = 4;
        }
    }

    // Projection, box, facing test and drawing of up to four points.
    const float lx = static_cast<float>(window.lowx), ly = static_cast<float>(window.lowy);
    auto draw = [&](int k, const kivPoint* p) {
        geom_vertex v[4];
        int box[4];
        for (int j = 0; j < k; ++j) {
            float px = 0.0f, py = 0.0f;
            project(p[j], px, py);
            v[j] = {px - lx, py - ly, {p[j].x, p[j].y, p[j].z}};
            if (!scan::finite_xy(v[j].x, v[j].y)) return;
            const int bx = scan::pixel_floor(v[j].x), by = scan::pixel_floor(v[j].y);
            if (j == 0 || bx < box[0]) box[0] = bx;
            if (j == 0 || by < box[1]) box[1] = by;
            if (j == 0 || bx > box[2]) box[2] = bx;
            if (j == 0 || by > box[3]) box[3] = by;
        }
        if (box[2] < 0 || box[0] > window.Cols() - 1 || box[3] < 0 || box[1] > window.Lines() - 1)
            return;
        const int status = facing(k, v, flag1, flag2);
        if (status == 0) {
            ysort_and_draw(k, v, box, 0xFFFFFFFFu);
        } else if (status == 2 && opt_warnings()) {
            std::printf("WARNING: skipping invalid poly (%d %d) (%d %d)\n", box[0], box[1], box[2],
                        box[3]);
        }
    };
    // A quad with one corner behind the plane becomes a pentagon: drawn as
    // a quad and a triangle that share a diagonal.
    if (m == 5) {
        const kivPoint rest[3] = {poly[0], poly[3], poly[4]};
        draw(4, poly);
        draw(3, rest);
    } else if (m >= 3) {
        draw(m, poly);
    }
}

void hair_camera::ysort_and_draw(int n, void* vertices, int* box, unsigned int timeslices) {
    if (vertices == nullptr || n < 3 || n > 4) return;
    const geom_vertex* v = static_cast<const geom_vertex*>(vertices);
    int order[4];
    scan::sort_by_y(n, v, order);
    if (n == 4 && order[1] == (order[0] + 2) % 4) {
        std::printf("BUG: model %s has an invalid (concave) polygon, ignoring...\n",
                    defs.model_name != nullptr ? defs.model_name : "");
        return;
    }
    geom_vertex left[4], right[4];
    int nl, nr;
    if (!scan::split_chains(n, v, order, false, left, nl, right, nr)) return;
    do_poly_z_fill(box, nl, left, nr, right, timeslices);
}

void hair_camera::do_poly_z_fill(int* box, int nleft, void* left, int nright, void* right,
                                 unsigned int timeslices) {
    if (arr == nullptr || left == nullptr || right == nullptr) return;
    hair_zbuffer& zb = *arr;
    const scan::limits lim = scan::limits::window(zb.cols(), zb.lines());
    // Still geometry goes into the dense geometry array, read then written.
    if (!defs.motion_blur) zb.prepare_for_writing(box, true);
    scan::fill<3>(box, nleft, static_cast<const geom_vertex*>(left), nright,
                  static_cast<const geom_vertex*>(right), lim, 3,
                  [&zb, timeslices](int col, int row, float coverage, const float* p) {
                      if (!(p[2] <= kNear)) return;
                      const float depth = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
                      zb.add_geometry(zb.cell_at(row, col), depth, coverage, timeslices);
                  });
}
