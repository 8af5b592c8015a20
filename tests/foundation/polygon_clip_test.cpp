#include "foundation/polygon_clip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const int kScreenAndWorld = CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW | CLIP_X | CLIP_R;

clip_vertex Vertex(double sx, double sy, double sz = 0.5, double sw = 1, double x = 0,
                   double r = 0) {
    clip_vertex v{};
    v.sx = sx;
    v.sy = sy;
    v.sz = sz;
    v.sw = sw;
    v.x = x;
    v.r = r;
    return v;
}

clip_poly Poly(std::initializer_list<clip_vertex> vertices, int mask = kScreenAndWorld) {
    clip_poly p{};
    p.mask = mask;
    for (const clip_vertex& v : vertices) p.v[p.n++] = v;
    return p;
}

const clip_box kUnitBox = {0, 1, 0, 1, 0, 1};

bool InsideBox(const clip_vertex& v, const clip_box& b, double eps) {
    return v.sx >= b.x0 * v.sw - eps && v.sx <= b.x1 * v.sw + eps && v.sy >= b.y0 * v.sw - eps &&
           v.sy <= b.y1 * v.sw + eps && v.sz >= b.z0 * v.sw - eps && v.sz <= b.z1 * v.sw + eps;
}

}  // namespace

TEST(ClipPolygon, InsideIsUnchanged) {
    clip_poly p = Poly({Vertex(0.1, 0.1, 0.5, 1, 7), Vertex(0.9, 0.2), Vertex(0.5, 1.0)});
    const clip_poly before = p;
    EXPECT_EQ(clip_polygon(p, kUnitBox), 2);
    ASSERT_EQ(p.n, 3);
    for (int i = 0; i < 3; ++i) {
        for (int f = 0; f < CLIP_FIELD_COUNT; ++f) EXPECT_EQ(p.v[i].field(f), before.v[i].field(f));
    }
    // The box test is homogeneous: sx = 1.8 with sw = 2 lies inside.
    clip_poly h = Poly({Vertex(1.8, 0.2, 1, 2), Vertex(0.2, 1.8, 1, 2), Vertex(0.2, 0.2, 1, 2)});
    EXPECT_EQ(clip_polygon(h, kUnitBox), 2);
}

TEST(ClipPolygon, BeyondOnePlaneIsRemoved) {
    clip_poly p = Poly({Vertex(1.5, 0.1), Vertex(2.5, 0.5), Vertex(1.1, 0.9)});
    EXPECT_EQ(clip_polygon(p, kUnitBox), 0);
    EXPECT_EQ(p.n, 0);
    clip_poly behind = Poly({Vertex(0.2, 0.2, -1), Vertex(0.8, 0.2, -0.5), Vertex(0.5, 0.8, -2)});
    EXPECT_EQ(clip_polygon(behind, kUnitBox), 0);
    EXPECT_EQ(behind.n, 0);
}

TEST(ClipPolygon, PartialInterpolatesLiveFields) {
    // A triangle crossing x = 1: vertex 1 lies beyond it.
    clip_poly p = Poly({Vertex(0.0, 0.0, 0.5, 1, 0, 0), Vertex(2.0, 0.0, 0.5, 1, 10, 1),
                        Vertex(0.0, 1.0, 0.5, 1, 4, 0.5)});
    p.v[1].y = 99;  // a field outside the mask
    ASSERT_EQ(clip_polygon(p, kUnitBox), 1);
    ASSERT_EQ(p.n, 4);
    // Walk starting from edge (v2, v0): v0 kept, then the crossing on (v0, v1),
    // the crossing on (v1, v2), then v2.
    EXPECT_EQ(p.v[0].sx, 0.0);
    EXPECT_DOUBLE_EQ(p.v[1].sx, 1.0);
    EXPECT_DOUBLE_EQ(p.v[1].sy, 0.0);
    EXPECT_DOUBLE_EQ(p.v[1].x, 5.0);  // half way from x 0 to x 10
    EXPECT_DOUBLE_EQ(p.v[1].r, 0.5);
    EXPECT_EQ(p.v[1].y, 0.0);  // not interpolated
    EXPECT_DOUBLE_EQ(p.v[2].sx, 1.0);
    EXPECT_DOUBLE_EQ(p.v[2].sy, 0.5);
    EXPECT_DOUBLE_EQ(p.v[2].x, 7.0);  // half way from x 10 to x 4
    EXPECT_DOUBLE_EQ(p.v[2].r, 0.75);
    EXPECT_EQ(p.v[3].x, 4.0);
}

TEST(ClipPolygon, HomogeneousCrossingUsesSw) {
    // sw changes along the edge: the crossing is where sx = sw.
    clip_poly p =
        Poly({Vertex(0.5, 0.5, 0.5, 1), Vertex(3.0, 0.5, 0.5, 2), Vertex(0.5, 0.6, 0.5, 1)},
             CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW);
    ASSERT_EQ(clip_polygon(p, kUnitBox), 1);
    ASSERT_EQ(p.n, 4);
    // On (v0, v1): t = (0.5 - 1) / ((0.5 - 1) - (3 - 2)) = 1/3.
    EXPECT_DOUBLE_EQ(p.v[1].sw, 1.0 + 1.0 / 3);
    EXPECT_DOUBLE_EQ(p.v[1].sx, p.v[1].sw);
}

TEST(ClipPolygon, LargePolygonBecomesTheBox) {
    clip_poly p =
        Poly({Vertex(-1, -1, 0.5), Vertex(2, -1, 0.5), Vertex(2, 2, 0.5), Vertex(-1, 2, 0.5)});
    ASSERT_EQ(clip_polygon(p, kUnitBox), 1);
    ASSERT_EQ(p.n, 4);
    for (int i = 0; i < p.n; ++i) {
        EXPECT_TRUE(p.v[i].sx == 0.0 || p.v[i].sx == 1.0) << i;
        EXPECT_TRUE(p.v[i].sy == 0.0 || p.v[i].sy == 1.0) << i;
    }
}

TEST(ClipPolygon, RandomPolygonsEndInsideTheBox) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1.0, 2.0);
    const clip_box box = {0, 1, 0, 1, 0.25, 0.75};
    for (int i = 0; i < 2000; ++i) {
        // A random triangle is convex.
        clip_poly p = Poly({Vertex(u(rng), u(rng), u(rng)), Vertex(u(rng), u(rng), u(rng)),
                            Vertex(u(rng), u(rng), u(rng))});
        const int result = clip_polygon(p, box);
        ASSERT_TRUE(result >= 0 && result <= 2) << i;
        if (result == 0) {
            ASSERT_EQ(p.n, 0) << i;
            continue;
        }
        ASSERT_GE(p.n, 3) << i;
        ASSERT_LE(p.n, CLIP_MAX_VERTICES) << i;
        for (int k = 0; k < p.n; ++k) ASSERT_TRUE(InsideBox(p.v[k], box, 1e-9)) << i << " " << k;
    }
}

TEST(ClipPolygon, BadVertexCountsAndVertexLimit) {
    clip_poly p = Poly({Vertex(0.5, 0.5)});
    p.n = 13;
    EXPECT_EQ(clip_polygon(p, kUnitBox), 0);
    EXPECT_EQ(p.n, 0);
    p.n = -2;
    EXPECT_EQ(clip_polygon(p, kUnitBox), 0);

    // Twelve vertices alternating across the plane would grow past 12.
    clip_poly zigzag{};
    zigzag.mask = CLIP_SX | CLIP_SW;
    for (int i = 0; i < CLIP_MAX_VERTICES; ++i) zigzag.v[zigzag.n++] = Vertex(i % 2 ? 2 : 0, i);
    clip_poly out;
    clip_half_space(zigzag, out, CLIP_FIELD_SX, 1, 1);
    EXPECT_EQ(out.n, CLIP_MAX_VERTICES);
    EXPECT_EQ(out.mask, zigzag.mask);
}
