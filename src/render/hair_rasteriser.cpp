#include "render/hair_rasteriser.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "render/camera.h"
#include "render/lighting.h"
#include "render/scan_convert.h"

namespace {

// The near plane: a camera-space point is in front when z <= kNear.
constexpr float kNear = -1e-5f;

// The segment work array, shared by all cameras.
follicle* g_segments = nullptr;
std::int32_t g_capacity = 0;

// Makes the work array hold at least n segments; false (capacity 0) when
// memory runs out.
bool reserve_segments(int n) {
    if (n <= g_capacity) return true;
    if (g_capacity > 0) delete[] g_segments;
    g_segments = nullptr;
    g_capacity = 0;
    g_segments = new (std::nothrow) follicle[n];
    if (g_segments == nullptr) return false;
    g_capacity = n;
    hair_camera_set_work_release(&hair_segment_release);
    return true;
}

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

// The diffuse and specular light arriving at a segment, into
// mtl_components[0] and [1]; t is the position along the hair.
void light_segment(follicle& f, const kivVector& normal, const hair_state* state, float t) {
    lgtdb_calc_hair_lighting(f.lcalc_pos, f.lcalc_tan, normal, state, f.mtl_components, 0, t);
}

int sign_of(float v) {
    return v > 0.0f ? 1 : (v < 0.0f ? -1 : 0);
}

}  // namespace

int hair_segment_capacity() {
    return g_capacity;
}

const follicle* hair_segment_records() {
    return g_segments;
}

void hair_segment_release() {
    delete[] g_segments;
    g_segments = nullptr;
    g_capacity = 0;
}

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
    kivVector normal = state->normal * matrix;

    if (!reserve_segments(n_seg)) return;

    // Set up, light and project every segment before drawing any.
    for (int i = 0; i < n_seg; ++i) {
        follicle& f = g_segments[i];
        f = follicle();
        f.p1 = hair->points[i];
        f.p2 = hair->points[i + 1];
        f.attr1 = hair->vertices[i];
        f.attr2 = hair->vertices[i + 1];
        f.lcalc_tan = kivVector(f.p1, f.p2);
        f.lcalc_pos = (f.p1 + f.p2) * 0.5f;
        if (f.lcalc_tan.norm() == 0.0f) {
            if (opt_warnings()) std::printf("WARNING: skipping hair, segment is a point\n");
            return;
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

        light_segment(f, normal, state, (static_cast<float>(i) + 0.5f) / n_seg);

        // Pixels: the root continues the previous segment's projected end.
        const follicle* prev = i > 0 ? &g_segments[i - 1] : nullptr;
        if (prev == nullptr || prev->zdepth[1] < 0.0f) {
            if (f.zdepth[0] > 0.0f) project(f.p1, f.p1.x, f.p1.y);
        } else {
            f.p1.x = prev->p2.x;
            f.p1.y = prev->p2.y;
        }
        if (f.zdepth[1] > 0.0f) project(f.p2, f.p2.x, f.p2.y);
    }

    // Draw the ribbons; the polygon is built for every segment so that its
    // tip corners become the next segment's root corners.
    const int light_model = hp != nullptr ? hp->light_model : 2;
    const float lx = static_cast<float>(window.lowx), ly = static_cast<float>(window.lowy);
    motion_blur_pnt quad[4];
    int visibility = -1;
    for (int i = 0; i < n_seg; ++i) {
        const follicle& f = g_segments[i];
        const bool last = i == n_seg - 1;
        float dx, dy, len;
        screen_dir(f.p2.x - f.p1.x, f.p2.y - f.p1.y, dx, dy, len);

        // Root corners: new for the first segment, else the previous tips
        // (new as well after a segment behind the camera, whose corners
        // were never projected).
        float back = 0.0f;  // how far the root corners moved back
        if (i == 0 || g_segments[i - 1].zdepth[1] < 0.0f) {
            const float h1 = f.attr1.width / std::fabs(f.zdepth[0]) * pixel_scale * 0.5f;
            const kivColor c1 =
                hair_vertex_color(f.attr1, light_model, f.mtl_components[0], f.mtl_components[1]);
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
        if (!last && g_segments[i + 1].zdepth[1] > 0.0f) {
            const follicle& g = g_segments[i + 1];
            float elen;
            screen_dir(dx + (g.p2.x - g.p1.x), dy + (g.p2.y - g.p1.y), ex, ey, elen);
        }
        const float h2 = f.attr2.width / std::fabs(f.zdepth[1]) * pixel_scale * 0.5f;
        const kivColor c2 =
            hair_vertex_color(f.attr2, light_model, f.mtl_components[0], f.mtl_components[1]);
        corner(quad[3], f.p2, 1.0f, ex, ey, h2, lx, ly, f.zdepth[1], c2);
        corner(quad[2], f.p2, -1.0f, ex, ey, h2, lx, ly, f.zdepth[1], c2);
        // The tip of the last segment is not shorter than its width either;
        // a single segment measures its length with the root's extension,
        // so that it grows to the larger of its two widths, not their sum.
        if (last && len + back < 2.0f * h2) {
            const float ahead = 2.0f * h2 - (len + back);
            for (int k = 2; k < 4; ++k) {
                quad[k].x += ahead * dx;
                quad[k].y += ahead * dy;
            }
        }

        if (is_follicle_visible(i, &f, visibility)) zbuff_hair_poly(4, quad, 0xFFFFFFFFu);
    }
}

// ---------------------------------------------------------------------------
// One screen polygon

void hair_camera::zbuff_hair_poly(int n, motion_blur_pnt* v, unsigned int timeslices) {
    if (arr == nullptr || v == nullptr || n < 3 || n > 4) return;

    // Bounding box and nearest test.
    int box[4];
    float zmax = v[0].z;
    for (int i = 0; i < n; ++i) {
        if (!scan::finite_xy(v[i].x, v[i].y) || !std::isfinite(v[i].z)) return;
        const int px = scan::pixel_floor(v[i].x), py = scan::pixel_floor(v[i].y);
        if (i == 0 || px < box[0]) box[0] = px;
        if (i == 0 || py < box[1]) box[1] = py;
        if (i == 0 || px > box[2]) box[2] = px;
        if (i == 0 || py > box[3]) box[3] = py;
        if (v[i].z > zmax) zmax = v[i].z;
    }
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

    motion_blur_pnt left[4], right[4];
    int nl, nr;
    if (!scan::split_chains(n, v, order, true, left, nl, right, nr)) return;
    do_poly_fill(box, nl, left, nr, right, timeslices);
}

void hair_camera::do_poly_fill(int* box, int nleft, motion_blur_pnt* left, int nright,
                               motion_blur_pnt* right, unsigned int timeslices) {
    if (arr == nullptr || nleft > 8 || nright > 8) return;
    scan::vertex<5> l[8], r[8];
    auto convert = [](const motion_blur_pnt& p, scan::vertex<5>& q) {
        q.x = p.x;
        q.y = p.y;
        q.v[0] = p.z;
        q.v[1] = p.r;
        q.v[2] = p.g;
        q.v[3] = p.b;
        q.v[4] = p.a;
    };
    for (int i = 0; i < nleft; ++i) convert(left[i], l[i]);
    for (int i = 0; i < nright; ++i) convert(right[i], r[i]);

    hair_zbuffer& zb = *arr;
    const scan::limits lim = scan::limits::window(zb.cols(), zb.lines());
    // A one-pixel polygon keeps the colour of its first vertex.
    scan::fill<5>(box, nleft, l, nright, r, lim, 1,
                  [&zb, timeslices](int col, int row, float coverage, const float* v) {
                      if (!(v[0] > 0.0f)) return;
                      pixel_slot** cell = zb.cell(row, col);
                      if (cell == nullptr || !zb.is_visible(*cell, v[0], timeslices)) return;
                      zb.add_hair(*cell, coverage, kivColor(v[1], v[2], v[3], v[4]), v[0],
                                  timeslices);
                  });
}
