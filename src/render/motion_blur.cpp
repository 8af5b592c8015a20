#include "render/motion_blur.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "generation/motion_spawning.h"
#include "render/camera.h"
#include "render/geometry_occlusion.h"
#include "render/geometry_raster.h"
#include "render/hair_rasteriser.h"
#include "render/ribbon_bounds.h"

using geom_raster::geom_vertex;
using geom_raster::kNear;

std::uint32_t timeslice_mask(int j, int n) {
    if (n <= 0 || j < 0 || j >= n) return 0;
    const double at = static_cast<double>(j) / n * 32.0;
    if (n > 32) return 1u << (static_cast<int>(std::floor(at)) % 32);
    const int lo = static_cast<int>(std::floor(at + 0.5));
    const int hi = static_cast<int>(std::floor(static_cast<double>(j + 1) / n * 32.0 + 0.5));
    if (hi <= lo + 1) return 1u << (lo % 32);
    // Bits lo … hi − 1 (hi is at most 32).
    const std::uint32_t below_hi = hi >= 32 ? 0xFFFFFFFFu : (1u << hi) - 1u;
    return below_hi & ~((1u << lo) - 1u);
}

namespace {

// The motion step of defs: copies are drawn every step of the run; a
// value that is not positive (or not a number) counts as 1.
float motion_step() {
    const float q = defs.motion_step;
    return q > 0.0f && std::isfinite(q) ? q : 1.0f;
}

// The shutter of defs: where, between the two time samples, the shutter
// closes.
float shutter() {
    return defs.shutter;
}

// The default sink of the motion-blurred spawning walk: each hair into the
// camera space of its own time (the description's matrix, then that
// time's camera), the two root normals by the two cameras for the call,
// and the pair to the shutter-open camera.
void motion_hair_sink(hair_camera* cam0, hair_camera* cam1, control_hair* hair0,
                      control_hair* hair1, hair_state* state) {
    if (cam0 == nullptr || cam1 == nullptr || hair0 == nullptr || hair1 == nullptr ||
        state == nullptr)
        return;
    const hair_params* hp = state->params;
    control_hair* hair[2] = {hair0, hair1};
    hair_camera* cam[2] = {cam0, cam1};
    for (int t = 0; t < 2; ++t) {
        const kivMatrix& m = cam[t]->get_matrix();
        for (int k = 0; k < hair[t]->count; ++k) {
            if (hp != nullptr) hair[t]->points[k].post_mult(hp->matrix);
            hair[t]->points[k].post_mult(m);
        }
    }
    const kivVector n0 = state->normal, n1 = state->normal_mb;
    state->normal = n0 * cam0->get_matrix();
    state->normal_mb = n1 * cam1->get_matrix();
    cam0->zbuff_motion_hair(hair0, hair1, state);
    state->normal = n0;
    state->normal_mb = n1;
}

[[maybe_unused]] const bool g_motion_sink_registered =
    mdldb_register_default_motion_hair_sink(motion_hair_sink);

}  // namespace

// ---------------------------------------------------------------------------
// Hairs

void hair_camera::zbuff_motion_hair(control_hair* hair0, control_hair* hair1, hair_state* state) {
    if (hair0 == nullptr || hair1 == nullptr || state == nullptr || arr == nullptr) return;
    if (hair0->count < 2 || hair1->count != hair0->count) return;
    if (hair0->points == nullptr || hair0->vertices == nullptr || hair1->points == nullptr ||
        hair1->vertices == nullptr)
        return;
    const hair_params* hp = state->params;
    const int n_seg = hair0->count - 1;
    const float s = shutter();

    // A hair that cannot reach the samples drawn at either time, nor on its
    // way between them, is neither lit nor drawn.
    hair_raster::ribbon_bounds reach(*this);
    for (int k = 0; k < hair0->count; ++k) {
        const float w0 = hair0->vertices[k].width, w1 = hair1->vertices[k].width;
        reach.add(hair0->points[k], w0);
        reach.add(hair0->points[k] + (hair1->points[k] - hair0->points[k]) * s,
                  std::fabs(w0) > std::fabs(w1) ? w0 : w1);
    }
    if (reach.misses_drawn_samples()) return;

    // 1. Both work arrays.
    if (!hair_raster::reserve_segments(n_seg)) return;
    follicle* seg0 = hair_raster::segments(0);
    follicle* seg1 = hair_raster::segments(1);

    // 2. Segments at shutter open, lit and projected.
    for (int i = 0; i < n_seg; ++i) {
        if (!hair_raster::setup_segment(seg0[i], hair0->points[i], hair0->points[i + 1],
                                        hair0->vertices[i], hair0->vertices[i + 1]))
            return;
        hair_raster::light_segment(seg0[i], state->normal, state, i, n_seg);
        hair_raster::project_segment(*this, seg0, i);
    }
    // Segments at shutter close, s of the way from open to close; no light.
    for (int i = 0; i < n_seg; ++i) {
        bool ok;
        if (s != 1.0f) {
            const kivPoint a = hair0->points[i] + (hair1->points[i] - hair0->points[i]) * s;
            const kivPoint b =
                hair0->points[i + 1] + (hair1->points[i + 1] - hair0->points[i + 1]) * s;
            ok = hair_raster::setup_segment(
                seg1[i], a, b, linterp(hair0->vertices[i], hair1->vertices[i], s),
                linterp(hair0->vertices[i + 1], hair1->vertices[i + 1], s));
        } else {
            ok = hair_raster::setup_segment(seg1[i], hair1->points[i], hair1->points[i + 1],
                                            hair1->vertices[i], hair1->vertices[i + 1]);
        }
        if (!ok) return;
        hair_raster::project_segment(*this, seg1, i);
    }

    // 3. The ribbons at both times. A segment is drawn when it is in front
    // of the camera at both times and the segment visibility test passes
    // at either: a segment that leaves the window or goes behind geometry
    // keeps the part still in view, as a still hair does.
    const int light_model = hp != nullptr ? hp->light_model : 2;
    hair_raster::ribbon at_open(pixel_scale, window, light_model, true);
    hair_raster::ribbon at_close(pixel_scale, window, light_model, false);
    int state0 = -1, state1 = -1;
    for (int i = 0; i < n_seg; ++i) {
        at_open.build(seg0, n_seg, i);
        if (!(s > 0.0f)) {
            if (is_follicle_visible(i, &seg0[i], state0))
                zbuff_hair_poly(4, at_open.quad, kAllTimeslices);
            continue;
        }
        at_close.build(seg1, n_seg, i);
        const int seen1 = is_follicle_visible(i, &seg1[i], state1);
        const int seen0 = is_follicle_visible(i, &seg0[i], state0);
        if (state0 == 2 || state1 == 2 || !(seen0 || seen1)) continue;
        motion_blur_pnt moved[4];
        for (int k = 0; k < 4; ++k) {
            moved[k] = at_close.quad[k];
            moved[k].r = at_open.quad[k].r;
            moved[k].g = at_open.quad[k].g;
            moved[k].b = at_open.quad[k].b;
            moved[k].a = at_open.quad[k].a;
        }
        do_motion_polys(at_open.quad, moved);
    }
}

void hair_camera::do_motion_polys(motion_blur_pnt* quad0, motion_blur_pnt* quad1) {
    if (quad0 == nullptr || quad1 == nullptr) return;
    // 1. How far the corners move on screen.
    float d[4][3];
    float m = 0.0f;
    for (int k = 0; k < 4; ++k) {
        d[k][0] = quad1[k].x - quad0[k].x;
        d[k][1] = quad1[k].y - quad0[k].y;
        d[k][2] = quad1[k].z - quad0[k].z;
        m = std::max(m, std::sqrt(d[k][0] * d[k][0] + d[k][1] * d[k][1]));
    }
    if (!std::isfinite(m)) return;

    // 2. The copies: about one per pixel moved, at most twice the diagonal.
    const float fm = std::floor(m);
    float n = 2.0f, step = 1.0f;
    if (fm > 0.0f) {
        n = std::min(fm + 1.0f, 2.0f * window.diagonal_length());
        step = motion_step();
    }
    const float w = std::min(step / n, 1.0f);
    const int whole = static_cast<int>(n);

    // 3. Copy j at t = j ÷ (n − 1) along the path, with its share of alpha.
    motion_blur_pnt copy[4];
    for (int c = 0;; ++c) {
        const float j = static_cast<float>(c) * step;
        if (!(j < n)) break;
        const float t = c == 0 ? 0.0f : j / (n - 1.0f);
        for (int k = 0; k < 4; ++k) {
            copy[k] = quad0[k];
            copy[k].x += t * d[k][0];
            copy[k].y += t * d[k][1];
            copy[k].z += t * d[k][2];
            copy[k].a *= w;
        }
        zbuff_hair_poly(4, copy, timeslice_mask(static_cast<int>(j), whole));
    }
}

// ---------------------------------------------------------------------------
// Geometry

namespace {

// A polygon of up to five camera-space points (a clipped quad may have
// five) at one end of the shutter.
struct cam_poly {
    int n = 0;
    kivPoint p[8];
};

// Splits a clipped polygon into the pieces the rasteriser takes: itself
// when it has 3 or 4 points; a quad and a triangle that share a diagonal
// when it has 5.
int pieces(const cam_poly& in, cam_poly* out) {
    if (in.n < 3) return 0;
    if (in.n <= 4) {
        out[0] = in;
        return 1;
    }
    out[0].n = 4;
    for (int k = 0; k < 4; ++k) out[0].p[k] = in.p[k];
    out[1].n = 3;
    out[1].p[0] = in.p[0];
    out[1].p[1] = in.p[3];
    out[1].p[2] = in.p[4];
    return 2;
}

// Pixels (window-relative) of a camera-space polygon, and their box;
// false when a point does not project to finite pixels.
bool project_poly(const hair_camera& cam, const cam_poly& c, geom_vertex* v, int* box) {
    const float lx = static_cast<float>(cam.get_window().lowx);
    const float ly = static_cast<float>(cam.get_window().lowy);
    for (int j = 0; j < c.n; ++j) {
        float px = 0.0f, py = 0.0f;
        cam.project(c.p[j], px, py);
        v[j] = {px - lx, py - ly, {c.p[j].x, c.p[j].y, c.p[j].z}};
        if (!scan::finite_xy(v[j].x, v[j].y)) return false;
        const int bx = scan::pixel_floor(v[j].x), by = scan::pixel_floor(v[j].y);
        if (j == 0 || bx < box[0]) box[0] = bx;
        if (j == 0 || by < box[1]) box[1] = by;
        if (j == 0 || bx > box[2]) box[2] = bx;
        if (j == 0 || by > box[3]) box[3] = by;
    }
    return true;
}

// Subdivides a polygon of n world-space points (and its shutter-close
// twin) into pieces: a triangle into three about its centroid, a quad into
// four about its centre. Returns the piece count; each piece has n points.
int subdivide(int n, const kivPoint* p, kivPoint (*out)[4]) {
    if (n == 3) {
        const kivPoint c = (p[0] + p[1] + p[2]) * 0.33333334f;
        for (int k = 0; k < 3; ++k) {
            out[k][0] = p[k];
            out[k][1] = p[(k + 1) % 3];
            out[k][2] = c;
        }
        return 3;
    }
    kivPoint mid[4];
    for (int k = 0; k < 4; ++k) mid[k] = (p[k] + p[(k + 1) % 4]) * 0.5f;
    const kivPoint centre = (mid[0] + mid[2]) * 0.5f;
    for (int k = 0; k < 4; ++k) {
        out[k][0] = p[k];
        out[k][1] = mid[k];
        out[k][2] = centre;
        out[k][3] = mid[(k + 3) % 4];
    }
    return 4;
}

}  // namespace

void hair_camera::zbuff_motion_blur_poly(int n, kivPoint* p0, kivPoint* p1, hair_camera* cam1,
                                         bool flag1, bool flag2, int level) {
    // 1. Up to four points.
    if (arr == nullptr || p0 == nullptr || p1 == nullptr || cam1 == nullptr || n < 3 || n > 4)
        return;
    const bool verbose = opt_warnings();

    // 2. Camera space at both times; the close time s of the way along.
    const float s = shutter();
    cam_poly c0, c1;
    c0.n = c1.n = n;
    int behind0 = 0, behind1 = 0;
    for (int k = 0; k < n; ++k) {
        c0.p[k] = p0[k] * matrix;
        c1.p[k] = p1[k] * cam1->matrix;
        if (s != 1.0f) c1.p[k] = c0.p[k] + (c1.p[k] - c0.p[k]) * s;
        if (c0.p[k].z > kNear) ++behind0;
        if (c1.p[k].z > kNear) ++behind1;
    }

    // 3. The near plane.
    if (behind0 == n && behind1 == n) return;
    if (behind0 > 0 || behind1 > 0) {
        for (cam_poly* c : {&c0, &c1}) {
            cam_poly clipped;
            clipped.n = geom_raster::clip_near(c->n, c->p, clipped.p);
            *c = clipped;
        }
        if (c0.n != c1.n) {
            if (verbose)
                std::printf("WARNING: skipping (behind camera) mb polys: sides %d %d\n", c0.n,
                            c1.n);
            return;
        }
    }

    // 4-7. Each piece of the clipped pair; a pair that moves too far is
    // subdivided instead, as a whole, and drawn a level further down.
    const float diagonal2 = 2.0f * window.diagonal_length();
    // false when the pair has to be subdivided; with plan_only nothing is
    // drawn, only that is decided.
    auto draw_piece = [&](int k, const kivPoint* q0, const kivPoint* q1, bool plan_only) -> bool {
        // 4. Pixels at both times; nothing when both lie outside the window.
        cam_poly e0, e1;
        e0.n = e1.n = k;
        std::copy(q0, q0 + k, e0.p);
        std::copy(q1, q1 + k, e1.p);
        geom_vertex v0[4], v1[4];
        int box0[4], box1[4];
        if (!project_poly(*this, e0, v0, box0) || !project_poly(*this, e1, v1, box1)) return true;
        const int bx0 = std::min(box0[0], box1[0]), by0 = std::min(box0[1], box1[1]);
        const int bx1 = std::max(box0[2], box1[2]), by1 = std::max(box0[3], box1[3]);
        if (bx1 < 0 || bx0 > window.Cols() - 1 || by1 < 0 || by0 > window.Lines() - 1) return true;

        // 5. Facing at both times (on scratch copies: the test may reorder).
        geom_vertex f0[4], f1[4];
        std::copy(v0, v0 + k, f0);
        std::copy(v1, v1 + k, f1);
        int k0 = k, k1 = k;
        const int st0 = geom_raster::facing(k0, f0, flag1, flag2);
        const int st1 = geom_raster::facing(k1, f1, flag1, flag2);
        if (st0 != 0 && st1 != 0) {
            if (verbose && (st0 == 2 || st1 == 2))
                std::printf("INFO: skipping mb polys with stati %d %d\n", st0, st1);
            return true;
        }
        if (k0 != k1) {
            if (verbose)
                std::printf("WARNING: skipping mis-sided mb polys with stati %d %d\n", st0, st1);
            return true;
        }

        // 6. The copies: one per pixel moved, or subdivision when too many.
        // Subdividing helps only where part of the polygon moves less (a
        // turning or growing polygon); a polygon whose every corner moves
        // too far (a fast translation) would move as far in every piece,
        // so it takes the capped count at once instead of 4^11 pieces.
        float m = 0.0f, slowest = 0.0f;
        for (int j = 0; j < k; ++j) {
            const float dj = std::hypot(v1[j].x - v0[j].x, v1[j].y - v0[j].y);
            m = std::max(m, dj);
            slowest = j == 0 ? dj : std::min(slowest, dj);
        }
        const float fm = std::floor(m);
        int copies = 2;
        if (fm > 0.0f && fm <= diagonal2) {
            copies = static_cast<int>(fm) + 1;
        } else if (fm > diagonal2) {
            if (level < kMaxMotionSubdivision && slowest <= diagonal2) return false;
            copies = static_cast<int>(diagonal2);
        }
        if (plan_only) return true;

        // 7. Copy j at t = j ÷ (n − 1), drawn with its slices.
        for (int j = 0; j < copies; ++j) {
            const float t = j == 0 ? 0.0f : static_cast<float>(j) / (copies - 1);
            geom_vertex c[4];
            for (int i = 0; i < k; ++i) {
                c[i].x = v0[i].x + t * (v1[i].x - v0[i].x);
                c[i].y = v0[i].y + t * (v1[i].y - v0[i].y);
                for (int d = 0; d < 3; ++d) c[i].v[d] = v0[i].v[d] + t * (v1[i].v[d] - v0[i].v[d]);
            }
            int kc = k;
            const int status = geom_raster::facing(kc, c, flag1, flag2);
            if (status != 0) {
                if (st1 != 0) break;
                if (st0 != 0 || status != 1) continue;
                std::reverse(c, c + kc);  // both ends face the eye: drawn anyway
            }
            int box[4];
            scan::pixel_box(kc, c, box);
            ysort_and_draw(kc, c, box, timeslice_mask(j, copies));
        }
        return true;
    };

    // The pieces of a clipped pair are drawn only when none of them needs
    // subdividing; otherwise the whole polygon is subdivided.
    cam_poly a[2], b[2];
    const int count = pieces(c0, a);
    pieces(c1, b);
    bool whole = true;
    for (int i = 0; i < count && whole && count > 1; ++i)
        whole = draw_piece(a[i].n, a[i].p, b[i].p, true);
    for (int i = 0; i < count && whole; ++i) whole = draw_piece(a[i].n, a[i].p, b[i].p, false);
    if (whole) return;
    kivPoint q0[4][4], q1[4][4];
    const int m = subdivide(n, p0, q0);
    subdivide(n, p1, q1);
    for (int k = 0; k < m; ++k)
        zbuff_motion_blur_poly(n, q0[k], q1[k], cam1, flag1, flag2, level + 1);
}
