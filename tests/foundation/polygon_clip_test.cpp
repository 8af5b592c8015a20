#include "foundation/polygon_clip.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>

namespace {

clip_vertex vertex(double sx, double sy, double sz = 0.5, double sw = 1, double x = 0,
                   double r = 0) {
    clip_vertex v{};
    v.sx = sx, v.sy = sy, v.sz = sz, v.sw = sw, v.x = x, v.r = r;
    return v;
}

clip_poly poly(std::initializer_list<clip_vertex> vertices,
               int mask = CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW | CLIP_X | CLIP_R) {
    clip_poly p{};
    p.mask = mask;
    for (const clip_vertex& v : vertices) p.v[p.n++] = v;
    return p;
}

const clip_box kUnitBox = {0, 1, 0, 1, 0, 1};

}  // namespace

TEST(ClipPolygon, InsideIsUnchangedOutsideAndBadCountsAreRemoved) {
    clip_poly p = poly({vertex(0.1, 0.1, 0.5, 1, 7), vertex(0.9, 0.2), vertex(0.5, 1.0)});
    const clip_poly before = p;
    EXPECT_EQ(2, clip_polygon(p, kUnitBox));
    EXPECT_EQ(0, std::memcmp(&before, &p, sizeof p));
    // The box test is homogeneous (sx = 1.8 with sw = 2 lies inside); wholly
    // beyond x = 1 or behind z = 0 is removed, as is a vertex count outside 0 .. 12.
    clip_poly bad[2] = {before, before};
    bad[0].n = 13, bad[1].n = -2;
    const std::pair<clip_poly, int> cases[] = {
        {poly({vertex(1.8, 0.2, 1, 2), vertex(0.2, 1.8, 1, 2), vertex(0.2, 0.2, 1, 2)}), 2},
        {poly({vertex(1.5, 0.1), vertex(2.5, 0.5), vertex(1.1, 0.9)}), 0},
        {poly({vertex(0.2, 0.2, -1), vertex(0.8, 0.2, -0.5), vertex(0.5, 0.8, -2)}), 0},
        {bad[0], 0},
        {bad[1], 0}};
    for (auto [q, result] : cases) {
        EXPECT_EQ(result, clip_polygon(q, kUnitBox));
        EXPECT_EQ(result ? 3 : 0, q.n);
    }
}

TEST(ClipPolygon, PartialInterpolatesLiveFields) {
    // A triangle crossing x = 1: vertex 1 lies beyond it.
    clip_poly p = poly(
        {vertex(0, 0, 0.5, 1, 0, 0), vertex(2, 0, 0.5, 1, 10, 1), vertex(0, 1, 0.5, 1, 4, 0.5)});
    p.v[1].y = 99;  // a field outside the mask
    ASSERT_EQ(1, clip_polygon(p, kUnitBox));
    ASSERT_EQ(4, p.n);
    // v0 kept, the crossing on (v0, v1), the crossing on (v1, v2), then v2: {sx, sy, x, r}.
    const double expected[4][4] = {{0, 0, 0, 0}, {1, 0, 5, 0.5}, {1, 0.5, 7, 0.75}, {0, 1, 4, 0.5}};
    for (int k = 0; k < 4; ++k) {
        const clip_vertex& v = p.v[k];
        EXPECT_TRUE(v.sx == expected[k][0] && v.sy == expected[k][1] && v.x == expected[k][2] &&
                    v.r == expected[k][3] && v.y == 0)
            << k;
    }
    // sw changes along the edge: the crossing is where sx = sw, at t = 1/3.
    clip_poly h = poly({vertex(0.5, 0.5, 0.5, 1), vertex(3, 0.5, 0.5, 2), vertex(0.5, 0.6, 0.5, 1)},
                       CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW);
    ASSERT_EQ(1, clip_polygon(h, kUnitBox));
    ASSERT_EQ(4, h.n);
    EXPECT_DOUBLE_EQ(1.0 + 1.0 / 3, h.v[1].sw);
    EXPECT_DOUBLE_EQ(h.v[1].sw, h.v[1].sx);
    clip_poly big = poly({vertex(-1, -1), vertex(2, -1), vertex(2, 2), vertex(-1, 2)});
    ASSERT_EQ(1, clip_polygon(big, kUnitBox));
    ASSERT_EQ(4, big.n);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE((big.v[i].sx == 0.0 || big.v[i].sx == 1.0) &&
                    (big.v[i].sy == 0.0 || big.v[i].sy == 1.0))
            << i;
}

TEST(ClipPolygon, RandomTrianglesEndInsideTheBox) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1.0, 2.0);
    const clip_box box = {0, 1, 0, 1, 0.25, 0.75};
    const double eps = 1e-9;
    for (int i = 0; i < 2000; ++i) {
        clip_poly p = poly({vertex(u(rng), u(rng), u(rng)), vertex(u(rng), u(rng), u(rng)),
                            vertex(u(rng), u(rng), u(rng))});
        const int result = clip_polygon(p, box);
        ASSERT_TRUE(result >= 0 && result <= 2) << i;
        ASSERT_TRUE(result == 0 ? p.n == 0 : p.n >= 3 && p.n <= CLIP_MAX_VERTICES) << i;
        for (int k = 0; k < p.n; ++k) {
            const clip_vertex& v = p.v[k];
            ASSERT_TRUE(v.sx >= box.x0 * v.sw - eps && v.sx <= box.x1 * v.sw + eps &&
                        v.sy >= box.y0 * v.sw - eps && v.sy <= box.y1 * v.sw + eps &&
                        v.sz >= box.z0 * v.sw - eps && v.sz <= box.z1 * v.sw + eps)
                << i << " " << k;
        }
    }
}

TEST(ClipPolygon, HalfSpaceStopsAtTheVertexLimit) {
    // Twelve vertices alternating across the plane would grow past 12.
    clip_poly zigzag{}, out;
    zigzag.mask = CLIP_SX | CLIP_SW;
    for (int i = 0; i < CLIP_MAX_VERTICES; ++i) zigzag.v[zigzag.n++] = vertex(i % 2 ? 2 : 0, i);
    clip_half_space(zigzag, out, CLIP_FIELD_SX, 1, 1);
    EXPECT_EQ(CLIP_MAX_VERTICES, out.n);
    EXPECT_EQ(zigzag.mask, out.mask);
}
