#include "render/hair_rasteriser.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "render/camera.h"
#include "render/fragment_insert.h"
#include "render/hair_poly_queue.h"
#include "render/lighting.h"
#include "render/ribbon_bounds.h"
#include "render/scan_convert.h"

namespace {

// The near plane: a camera-space point is in front when z <= kNear.
constexpr float kNear = -1e-5f;

// The segment work arrays, shared by all cameras: one per time sample of
// motion blur, sharing one capacity (both grow together).
follicle* g_segments[2] = {nullptr, nullptr};
std::int32_t g_capacity = 0;

// Moves the end b of segment a → b onto the near plane.
kivPoint to_near_plane(const kivPoint& a, const kivPoint& b) {
    const float s = std::fabs((a.z - kNear) / (b.z - a.z));
    kivPoint p = a + (b - a) * s;
    p.z = kNear;  // exactly on the plane despite rounding
    return p;
}

// Distance from the eye, 0 when below 1e-5.
float eye_distance(const kivPoint& p) {
    const float d = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    return d < 1e-5f ? 0.0f : d;
}

// The unit screen direction of (dx, dy) and its length; zero stays zero.
void screen_dir(float dx, float dy, float& ux, float& uy, float& len) {
    len = std::sqrt(dx * dx + dy * dy);
    if (len > 0.0f) {
        ux = dx / len;
        uy = dy / len;
    } else {
        ux = uy = 0.0f;
    }
}

// A ribbon corner: p offset by ±h across the direction (ux, uy), relative
// to the window corner (lx, ly), with its depth and colour.
void corner(motion_blur_pnt& c, const kivPoint& p, float side, float ux, float uy, float h,
            float lx, float ly, float z, const kivColor& col) {
    c.x = p.x - side * uy * h - lx;
    c.y = p.y + side * ux * h - ly;
    c.z = z;
    c.set_color(col);
}

int sign_of(float v) {
    return v > 0.0f ? 1 : (v < 0.0f ? -1 : 0);
}

// Whether every corner of a chain is opaque black, the colour of all hair
// in a shadow map.
bool all_opaque_black(int n, const motion_blur_pnt* c) {
    for (int i = 0; i < n; ++i)
        if (c[i].r != 0.0f || c[i].g != 0.0f || c[i].b != 0.0f || c[i].a != 1.0f) return false;
    return true;
}

// Scan-converts the chains of a hair polygon into zb within lim, carrying
// the values of the first K of depth, r, g, b, a along the edges; the
// colour of a polygon drawn with K = 1 is opaque black.
template <int K>
void fill_values(hair_zbuffer& zb, const int* box, int nleft, const motion_blur_pnt* left,
                 int nright, const motion_blur_pnt* right, std::uint32_t timeslices,
                 const scan::limits& lim) {
    scan::vertex<K> l[8], r[8];
    auto convert = [](const motion_blur_pnt& p, scan::vertex<K>& q) {
        const float v[5] = {p.z, p.r, p.g, p.b, p.a};
        q.x = p.x;
        q.y = p.y;
        for (int k = 0; k < K; ++k) q.v[k] = v[k];
    };
    for (int i = 0; i < nleft; ++i) convert(left[i], l[i]);
    for (int i = 0; i < nright; ++i) convert(right[i], r[i]);

    // A one-pixel polygon keeps the colour of its first vertex.
    scan::fill_widest<K>(
        box, nleft, l, nright, r, lim, 1,
        [&zb, timeslices](int col, int row, float coverage, const float* v) KORVO_LANES_LAMBDA {
            if (!(v[0] > 0.0f)) return;
            // Hidden samples are decided from the geometry array alone;
            // only a visible one loads its cell and record.
            const std::size_t k = zb.index(row, col);
            if (!zb.is_visible_at(k, v[0], timeslices)) return;
            const kivColor c =
                K == 5 ? kivColor(v[1], v[2], v[3], v[4]) : kivColor(0.0f, 0.0f, 0.0f, 1.0f);
            // The next column's record is likely next.
            zb.prefetch_right(k, row, col);
            zb.add_hair_inline(zb.cell_at_index(k), coverage, c, v[0], timeslices);
        });
}

// Scan-converts the chains of a hair polygon into zb within lim. Opaque
// black polygons (every hair of a shadow map) carry their depth alone: the
// colour averaged over any piece of such a polygon is opaque black to the
// bit (n ones summed are n, and n × (1 / n) rounds to 1 for the at most 24
// corners of a piece), so nothing else needs working out.
void fill_chains(hair_zbuffer& zb, const int* box, int nleft, const motion_blur_pnt* left,
                 int nright, const motion_blur_pnt* right, std::uint32_t timeslices,
                 const scan::limits& lim) {
    if (nleft > 8 || nright > 8) return;
    if (all_opaque_black(nleft, left) && all_opaque_black(nright, right))
        fill_values<1>(zb, box, nleft, left, nright, right, timeslices, lim);
    else
        fill_values<5>(zb, box, nleft, left, nright, right, timeslices, lim);
}

}  // namespace

int hair_segment_capacity() {
    return g_capacity;
}

const follicle* hair_segment_records(int sample) {
    return g_segments[sample ? 1 : 0];
}

void hair_segment_release() {
    for (follicle*& s : g_segments) {
        delete[] s;
        s = nullptr;
    }
    g_capacity = 0;
}

// ---------------------------------------------------------------------------
// Steps shared with the motion-blurred hair

namespace hair_raster {

bool reserve_segments(int n) {
    if (n <= g_capacity) return true;
    hair_segment_release();
    g_segments[0] = new (std::nothrow) follicle[n];
    g_segments[1] = g_segments[0] != nullptr ? new (std::nothrow) follicle[n] : nullptr;
    if (g_segments[1] == nullptr) {
        hair_segment_release();
        return false;
    }
    g_capacity = n;
    hair_camera_set_work_release(&hair_segment_release);
    return true;
}

follicle* segments(int sample) {
    return g_segments[sample ? 1 : 0];
}

bool setup_segment(follicle& f, const kivPoint& a, const kivPoint& b, const hair_vertex& va,
                   const hair_vertex& vb) {
    f = follicle();
    f.p1 = a;
    f.p2 = b;
    f.attr1 = va;
    f.attr2 = vb;
    f.lcalc_tan = kivVector(f.p1, f.p2);
    f.lcalc_pos = (f.p1 + f.p2) * 0.5f;
    if (f.lcalc_tan.norm() == 0.0f) {
        if (opt_warnings()) std::printf("WARNING: skipping hair, segment is a point\n");
        return false;
    }

    // Near-plane clipping.
    const bool front1 = f.p1.z <= kNear, front2 = f.p2.z <= kNear;
    if (front1 && !front2) {
        f.p2 = to_near_plane(f.p1, f.p2);
    } else if (front2 && !front1) {
        f.p1 = to_near_plane(f.p2, f.p1);
    }
    if (front1 || front2) {
        f.zdepth[0] = eye_distance(f.p1);
        f.zdepth[1] = eye_distance(f.p2);
    } else {
        f.zdepth[0] = f.zdepth[1] = -1.0f;
    }
    return true;
}

void light_segment(follicle& f, const kivVector& normal, const hair_state* state, int i,
                   int n_seg) {
    lgtdb_calc_hair_lighting(f.lcalc_pos, f.lcalc_tan, normal, state, f.mtl_components, 0,
                             (static_cast<float>(i) + 0.5f) / n_seg);
}

void project_segment(const hair_camera& cam, follicle* seg, int i) {
    follicle& f = seg[i];
    // The root continues the previous segment's projected end.
    const follicle* prev = i > 0 ? &seg[i - 1] : nullptr;
    if (prev == nullptr || prev->zdepth[1] < 0.0f) {
        if (f.zdepth[0] > 0.0f) cam.project(f.p1, f.p1.x, f.p1.y);
    } else {
        f.p1.x = prev->p2.x;
        f.p1.y = prev->p2.y;
    }
    if (f.zdepth[1] > 0.0f) cam.project(f.p2, f.p2.x, f.p2.y);
}

ribbon::ribbon(float scale, const cam_window& window, int model, bool lit)
    : pixel_scale(scale),
      lx(static_cast<float>(window.lowx)),
      ly(static_cast<float>(window.lowy)),
      light_model(model),
      colour(lit) {}

void ribbon::build(const follicle* seg, int n_seg, int i) {
    const follicle& f = seg[i];
    const bool last = i == n_seg - 1;
    float dx, dy, len;
    screen_dir(f.p2.x - f.p1.x, f.p2.y - f.p1.y, dx, dy, len);
    const kivColor none(0.0f, 0.0f, 0.0f, 0.0f);

    // Root corners: new for the first segment, else the previous tips
    // (new as well after a segment behind the camera, whose corners were
    // never projected).
    if (i == 0) back = 0.0f;
    if (i == 0 || seg[i - 1].zdepth[1] < 0.0f) {
        const float h1 = f.attr1.width / std::fabs(f.zdepth[0]) * pixel_scale * 0.5f;
        const kivColor c1 = colour ? hair_vertex_color(f.attr1, light_model, f.mtl_components[0],
                                                       f.mtl_components[1])
                                   : none;
        corner(quad[0], f.p1, 1.0f, dx, dy, h1, lx, ly, f.zdepth[0], c1);
        corner(quad[1], f.p1, -1.0f, dx, dy, h1, lx, ly, f.zdepth[0], c1);
        if (i == 0 && len < 2.0f * h1) {
            back = 2.0f * h1 - len;
            for (int k = 0; k < 2; ++k) {
                quad[k].x -= back * dx;
                quad[k].y -= back * dy;
            }
        }
    } else {
        const motion_blur_pnt tip_left = quad[3], tip_right = quad[2];
        quad[0] = tip_left;
        quad[1] = tip_right;
    }

    // Tip corners, mitred towards the next segment when it is projected.
    float ex = dx, ey = dy;
    if (i != n_seg - 1 && seg[i + 1].zdepth[1] > 0.0f) {
        const follicle& g = seg[i + 1];
        float elen;
        screen_dir(dx + (g.p2.x - g.p1.x), dy + (g.p2.y - g.p1.y), ex, ey, elen);
    }
    const float h2 = f.attr2.width / std::fabs(f.zdepth[1]) * pixel_scale * 0.5f;
    const kivColor c2 =
        colour ? hair_vertex_color(f.attr2, light_model, f.mtl_components[0], f.mtl_components[1])
               : none;
    corner(quad[3], f.p2, 1.0f, ex, ey, h2, lx, ly, f.zdepth[1], c2);
    corner(quad[2], f.p2, -1.0f, ex, ey, h2, lx, ly, f.zdepth[1], c2);
    // The tip of the last segment is not shorter than its width either; a
    // single segment measures its length with the root's extension, so
    // that it grows to the larger of its two widths, not their sum.
    if (last && len + back < 2.0f * h2) {
        const float ahead = 2.0f * h2 - (len + back);
        for (int k = 2; k < 4; ++k) {
            quad[k].x += ahead * dx;
            quad[k].y += ahead * dy;
        }
    }
}

void draw_poly(hair_zbuffer& zb, const int* box, int n, const motion_blur_pnt* v,
               std::uint32_t timeslices, const scan::limits& lim) {
    int order[4];
    scan::sort_by_y(n, v, order);
    motion_blur_pnt left[4], right[4];
    int nl, nr;
    if (!scan::split_chains(n, v, order, true, left, nl, right, nr)) return;
    fill_chains(zb, box, nl, left, nr, right, timeslices, lim);
}

}  // namespace hair_raster

// ---------------------------------------------------------------------------
// One hair

void hair_camera::zbuff_hair(control_hair* hair, hair_state* state) {
    if (hair == nullptr || state == nullptr || arr == nullptr) return;
    if (hair->count < 2 || hair->points == nullptr || hair->vertices == nullptr) return;
    const hair_params* hp = state->params;
    const int n_seg = hair->count - 1;

    // Camera space: the description's matrix, then the camera's.
    for (int k = 0; k < hair->count; ++k) {
        if (hp != nullptr) hair->points[k].post_mult(hp->matrix);
        hair->points[k].post_mult(matrix);
    }
    const kivVector normal = state->normal * matrix;

    // A hair that cannot reach the samples drawn is neither lit nor drawn.
    hair_raster::ribbon_bounds reach(*this);
    for (int k = 0; k < hair->count; ++k) reach.add(hair->points[k], hair->vertices[k].width);
    if (reach.misses_drawn_samples()) return;

    if (!hair_raster::reserve_segments(n_seg)) return;
    follicle* seg = hair_raster::segments(0);

    // Set up, light and project every segment before drawing any.
    for (int i = 0; i < n_seg; ++i) {
        if (!hair_raster::setup_segment(seg[i], hair->points[i], hair->points[i + 1],
                                        hair->vertices[i], hair->vertices[i + 1]))
            return;
        hair_raster::light_segment(seg[i], normal, state, i, n_seg);
        hair_raster::project_segment(*this, seg, i);
        // The segment test reads the geometry under the end point: start
        // loading it while the next segments are lit.
        if (seg[i].zdepth[1] > 0.0f) prefetch_segment_end(seg[i].p2);
    }

    // Draw the ribbons; the polygon is built for every segment so that its
    // tip corners become the next segment's root corners.
    hair_raster::ribbon rib(pixel_scale, window, hp != nullptr ? hp->light_model : 2, true);
    int visibility = -1;
    for (int i = 0; i < n_seg; ++i) {
        rib.build(seg, n_seg, i);
        if (is_follicle_visible(i, &seg[i], visibility)) zbuff_hair_poly(4, rib.quad, 0xFFFFFFFFu);
    }
}

// ---------------------------------------------------------------------------
// One screen polygon

void hair_camera::zbuff_hair_poly(int n, motion_blur_pnt* v, unsigned int timeslices) {
    if (arr == nullptr || v == nullptr || n < 3 || n > 4) return;

    // Bounding box and nearest test.
    float zmax = v[0].z;
    for (int i = 0; i < n; ++i) {
        if (!scan::finite_xy(v[i].x, v[i].y) || !std::isfinite(v[i].z)) return;
        zmax = v[i].z > zmax ? v[i].z : zmax;
    }
    int box[4];
    scan::pixel_box(n, v, box);
    if (box[2] < 0 || box[0] > window.Cols() - 1 || box[3] < 0 || box[1] > window.Lines() - 1)
        return;
    if (!(zmax > 0.0f)) return;

    int order[4];
    scan::sort_by_y(n, v, order);

    // A quad whose edges zigzag is self-intersecting: two triangles.
    if (n == 4) {
        int sx[4], sy[4];
        for (int k = 0; k < 4; ++k) {
            sx[k] = sign_of(v[(k + 1) % 4].x - v[k].x);
            sy[k] = sign_of(v[(k + 1) % 4].y - v[k].y);
        }
        const bool zig_x = sx[0] == sx[2] && sx[1] == sx[3] && sx[0] != sx[1];
        const bool zig_y = !zig_x && sy[0] == sy[2] && sy[1] == sy[3] && sy[0] != sy[1];
        if (zig_x || zig_y) {
            const int o = order[0];
            const int c = o + 2 > 3 ? o - 2 : o + 2;
            auto at = [v](int k) { return v[(k + 4) % 4]; };
            motion_blur_pnt t1[3], t2[3];
            if (zig_x) {
                t1[0] = at(o), t1[1] = at(o + 1), t1[2] = at(c + 1);
                t2[0] = at(c + 1), t2[1] = at(o + 1), t2[2] = at(c);
            } else {
                t1[0] = at(o), t1[1] = at(c - 1), t1[2] = at(c);
                t2[0] = at(o), t2[1] = at(c), t2[2] = at(c + 1);
            }
            zbuff_hair_poly(3, t1, timeslices);
            zbuff_hair_poly(3, t2, timeslices);
            return;
        }
    }

    // The hair pass queues the polygon and draws it tile by tile later.
    hair_raster::poly_queue* queue = hair_raster::poly_queue::open_on(arr);
    if (queue != nullptr && queue->push(box, n, v, timeslices)) return;
    motion_blur_pnt left[4], right[4];
    int nl, nr;
    if (!scan::split_chains(n, v, order, true, left, nl, right, nr)) return;
    do_poly_fill(box, nl, left, nr, right, timeslices);
}

void hair_camera::do_poly_fill(int* box, int nleft, motion_blur_pnt* left, int nright,
                               motion_blur_pnt* right, unsigned int timeslices) {
    if (arr == nullptr) return;
    const scan::limits lim = scan::limits::window(arr->cols(), arr->lines());
    fill_chains(*arr, box, nleft, left, nright, right, timeslices, lim);
}
