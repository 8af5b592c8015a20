// Clipping is checked by area against brute force: the clipped polygon's
// screen area (after division by sw) must match the share of grid points
// inside the original polygon, the window and the depth range.
#include "foundation/polygon_clip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

// x and r are linear in the homogeneous point, so interpolation keeps them so.
clip_vertex vertex(double sx, double sy, double sz = 0.5, double sw = 1) {
    return {sx * sw, sy * sw, sz * sw, sw, (2 * sx - sy + 3) * sw, 0, 0, (sz - 1) * sw, 0, 0};
}

double area(const clip_poly& p) {
    double a = 0;
    for (int i = 0, j = p.n - 1; i < p.n; j = i++)
        a += (p.v[j].sx * p.v[i].sy - p.v[i].sx * p.v[j].sy) / (p.v[i].sw * p.v[j].sw);
    return std::fabs(a) / 2;
}

}  // namespace

// Random convex polygons (points on a circle in angle order, depth on a
// plane, random positive sw) against random windows and depth ranges.
TEST(ClipPolygon, AreaMatchesBruteForce) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(0, 1);
    for (int n = 0; n < 120; ++n) {
        SCOPED_TRACE(n);
        const clip_box box = {0.2 * u(rng),     1 - 0.2 * u(rng), 0.2 * u(rng),
                              1 - 0.2 * u(rng), 0.3 * u(rng),     0.7 + 0.3 * u(rng)};
        const double cx = 1.6 * u(rng) - 0.3, cy = 1.6 * u(rng) - 0.3, rad = 0.1 + 0.6 * u(rng);
        const double zx = 1.2 * u(rng) - 0.6, zy = 1.2 * u(rng) - 0.6,
                     z0 = u(rng) - zx * cx - zy * cy;
        double angles[6], px[6], py[6], inside = 0;
        const int count = 3 + n % 4;
        for (double& a : angles) a = 2 * M_PI * u(rng);
        std::sort(angles, angles + count);
        clip_poly p{count, CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW | CLIP_X | CLIP_R, {}};
        for (int k = 0; k < count; ++k) {
            px[k] = cx + rad * std::cos(angles[k]), py[k] = cy + rad * std::sin(angles[k]);
            p.v[k] = vertex(px[k], py[k], z0 + zx * px[k] + zy * py[k], 0.5 + 2 * u(rng));
        }
        const clip_poly before = p;
        for (double x = 0.5 / 160; x < 1; x += 1.0 / 160)
            for (double y = 0.5 / 160; y < 1; y += 1.0 / 160) {
                const double z = z0 + zx * x + zy * y;
                bool in = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1 && z >= box.z0 &&
                          z <= box.z1;
                for (int k = 0, l = count - 1; in && k < count; l = k++)
                    in = (px[k] - px[l]) * (y - py[l]) >= (py[k] - py[l]) * (x - px[l]);
                inside += in / (160.0 * 160.0);
            }
        const int result = clip_polygon(p, box);
        EXPECT_NEAR(inside, result ? area(p) : 0, 0.006);
        EXPECT_TRUE(result != 2 || std::memcmp(&before, &p, sizeof p) == 0) << "unchanged";
        ASSERT_TRUE(result == 0 ? p.n == 0 : p.n >= 3 && p.n <= CLIP_MAX_VERTICES) << result;
        for (const clip_vertex& v : std::vector<clip_vertex>(p.v, p.v + p.n)) {
            EXPECT_NEAR(2 * v.sx - v.sy + 3 * v.sw, v.x, 1e-9) << "interpolated x";
            EXPECT_NEAR(v.sz - v.sw, v.r, 1e-9) << "interpolated r";
        }
    }
}

// Window edges count as inside: a triangle on them is unchanged, one touching
// x1 from outside clips to nothing; counts outside 0 .. 12 are removed; a
// half-space step stops at 12 vertices.
TEST(ClipPolygon, EdgesCountsAndVertexLimit) {
    const clip_box box = {0, 1, 0, 1, 0, 1};
    const int live = CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW;
    clip_poly on{3, live, {vertex(0, 0, 0, 2), vertex(1, 1, 1, 4), vertex(0, 1, 0, 3)}};
    clip_poly touching{3, live, {vertex(1, 0), vertex(2, 0), vertex(1, 1)}}, many = on, fewer = on;
    many.n = 13, fewer.n = -2;
    EXPECT_EQ(2, clip_polygon(on, box));
    EXPECT_EQ(1, clip_polygon(touching, box));
    EXPECT_EQ(0, area(touching));
    EXPECT_EQ(0, clip_polygon(many, box) + many.n + clip_polygon(fewer, box) + fewer.n);
    clip_poly zigzag{0, CLIP_SX | CLIP_SW, {}}, out;
    for (int i = 0; i < CLIP_MAX_VERTICES; ++i) zigzag.v[zigzag.n++] = vertex(i % 2 ? 2 : 0, i);
    clip_half_space(zigzag, out, CLIP_FIELD_SX, 1, 1);
    EXPECT_TRUE(out.n == CLIP_MAX_VERTICES && out.mask == zigzag.mask) << out.n;
}
