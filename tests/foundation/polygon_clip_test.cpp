// Clipping is checked by area against brute force: the clipped polygon's
// screen area (after division by sw) must match the count of grid points
// inside the original polygon, the window and the depth range.
#include "foundation/polygon_clip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

clip_vertex vertex(double sx, double sy, double sz = 0.5, double sw = 1) {
    clip_vertex v{};
    v.sx = sx * sw, v.sy = sy * sw, v.sz = sz * sw, v.sw = sw;
    v.x = 2 * v.sx - v.sy + 3 * v.sw, v.r = v.sz - v.sw;  // linear in the homogeneous point
    return v;
}

double area(const clip_poly& p) {
    double a = 0;
    for (int i = 0, j = p.n - 1; i < p.n; j = i++)
        a += p.v[j].sx / p.v[j].sw * p.v[i].sy / p.v[i].sw -
             p.v[i].sx / p.v[i].sw * p.v[j].sy / p.v[j].sw;
    return std::fabs(a) / 2;
}

}  // namespace

// Random convex polygons (points on a circle in angle order, depth on a
// plane) with random positive sw, against random windows and depth ranges.
TEST(ClipPolygon, AreaMatchesBruteForce) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(0, 1);
    const int grid = 160;
    for (int n = 0; n < 120; ++n) {
        SCOPED_TRACE(n);
        const clip_box box = {0.2 * u(rng),     1 - 0.2 * u(rng), 0.2 * u(rng),
                              1 - 0.2 * u(rng), 0.3 * u(rng),     0.7 + 0.3 * u(rng)};
        const double cx = 1.6 * u(rng) - 0.3, cy = 1.6 * u(rng) - 0.3, rad = 0.1 + 0.6 * u(rng);
        const double z0 = u(rng), zx = 1.2 * u(rng) - 0.6, zy = 1.2 * u(rng) - 0.6;
        double angles[6];
        const int count = 3 + n % 4;
        for (int k = 0; k < count; ++k) angles[k] = 2 * M_PI * u(rng);
        std::sort(angles, angles + count);
        clip_poly p{};
        p.mask = CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW | CLIP_X | CLIP_R;
        for (int k = 0; k < count; ++k) {
            const double x = cx + rad * std::cos(angles[k]), y = cy + rad * std::sin(angles[k]);
            p.v[p.n++] = vertex(x, y, z0 + zx * (x - cx) + zy * (y - cy), 0.5 + 2 * u(rng));
        }
        const clip_poly before = p;
        int inside = 0;
        for (int i = 0; i < grid; ++i)
            for (int j = 0; j < grid; ++j) {
                const double x = (i + 0.5) / grid, y = (j + 0.5) / grid;
                const double z = z0 + zx * (x - cx) + zy * (y - cy);
                bool in = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1 && z >= box.z0 &&
                          z <= box.z1;
                for (int k = 0, l = count - 1; in && k < count; l = k++) {
                    const clip_vertex &a = before.v[l], &b = before.v[k];
                    in = (b.sx / b.sw - a.sx / a.sw) * (y - a.sy / a.sw) -
                             (b.sy / b.sw - a.sy / a.sw) * (x - a.sx / a.sw) >=
                         0;
                }
                inside += in;
            }
        const int result = clip_polygon(p, box);
        EXPECT_NEAR(double(inside) / (grid * grid), result ? area(p) : 0, 0.006);
        if (result == 2) {
            EXPECT_EQ(0, std::memcmp(&before, &p, sizeof p)) << "unchanged";
        }
        if (result == 0) {
            EXPECT_EQ(0, p.n);
        }
        ASSERT_TRUE(result == 0 || (p.n >= 3 && p.n <= CLIP_MAX_VERTICES)) << p.n;
        for (int k = 0; k < p.n; ++k) {
            const clip_vertex& v = p.v[k];
            EXPECT_NEAR(2 * v.sx - v.sy + 3 * v.sw, v.x, 1e-9) << "interpolated x";
            EXPECT_NEAR(v.sz - v.sw, v.r, 1e-9) << "interpolated r";
            EXPECT_TRUE(v.sx >= box.x0 * v.sw - 1e-9 && v.sx <= box.x1 * v.sw + 1e-9 &&
                        v.sy >= box.y0 * v.sw - 1e-9 && v.sy <= box.y1 * v.sw + 1e-9 &&
                        v.sz >= box.z0 * v.sw - 1e-9 && v.sz <= box.z1 * v.sw + 1e-9);
        }
    }
}

// Window edges count as inside; wholly beyond one plane or a vertex count
// outside 0 .. 12 is removed; a half-space step stops at 12 vertices.
TEST(ClipPolygon, EdgesCountsAndVertexLimit) {
    const clip_box box = {0, 1, 0, 1, 0, 1};
    const struct {
        clip_vertex a, b, c;
        int n, result, after;
        double area;  // -1: not checked
    } cases[] = {
        {vertex(0, 0, 0), vertex(1, 0, 1), vertex(1, 1, 0.5), 3, 2, 3, 0.5},  // on the edges
        {vertex(0, 0, 0, 2), vertex(1, 1, 1, 4), vertex(0, 1, 0, 3), 3, 2, 3, 0.5},
        {vertex(1, 0), vertex(2, 0), vertex(1, 1), 3, 1, 4, 0},  // touches x1 from outside
        {vertex(1.5, 0.1), vertex(2.5, 0.5), vertex(1.1, 0.9), 3, 0, 0, -1},
        {vertex(0.2, 0.2, -1), vertex(0.8, 0.2), vertex(0.5, 0.8, -2), 3, 1, 3, -1},
        {vertex(0.2, 0.2, 1.5), vertex(0.8, 0.2, 2), vertex(0.5, 0.8, 1.1), 3, 0, 0, -1},
        {vertex(0.1, 0.1), vertex(0.9, 0.1), vertex(0.5, 0.9), 13, 0, 0, -1},
        {vertex(0.1, 0.1), vertex(0.9, 0.1), vertex(0.5, 0.9), -2, 0, 0, -1},
    };
    for (const auto& c : cases) {
        clip_poly p{c.n, CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW, {c.a, c.b, c.c}};
        EXPECT_EQ(c.result, clip_polygon(p, box)) << c.a.sx << " " << c.n;
        EXPECT_EQ(c.after, p.n) << c.a.sx << " " << c.n;
        if (c.area >= 0) {
            EXPECT_DOUBLE_EQ(c.area, area(p)) << c.a.sx;
        }
    }
    clip_poly zigzag{}, out;
    zigzag.mask = CLIP_SX | CLIP_SW;
    for (int i = 0; i < CLIP_MAX_VERTICES; ++i) zigzag.v[zigzag.n++] = vertex(i % 2 ? 2 : 0, i);
    clip_half_space(zigzag, out, CLIP_FIELD_SX, 1, 1);
    EXPECT_EQ(CLIP_MAX_VERTICES, out.n);
    EXPECT_EQ(zigzag.mask, out.mask);
}
