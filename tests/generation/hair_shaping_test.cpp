#include "generation/hair_shaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "descriptions/hair_params.h"
#include "foundation/noise.h"
#include "host/korvo_quaternion.h"
#include "test_support.h"

namespace {

// Double-precision vectors for the reference model of the root rotations.
using D3 = KorvoVector;
D3 d3(const kivVector& v) {
    return {v.x, v.y, v.z};
}
// v times the rotation matrix of (axis a, angle t): a row vector turns the
// other way round from a column vector, cos t v + sin t (v x a) + (1 - cos t)(v.a) a.
D3 turn(const D3& v, const D3& a, double t) {
    return v * std::cos(t) + (v ^ a) * std::sin(t) + a * ((1 - std::cos(t)) * (v * a));
}

// The growth direction at the root and the bending axis B: inclination about
// B = D x N, roll about D, polar turn about N, mirrored on left-handed frames
// and on flipped hairs.
D3 growth(D3 N, const D3& D, const D3& D2, double e, double r, double p, double ov, double r2,
          bool flip, D3& B) {
    const D3 N0 = N;
    if (flip) N = N * -1.0;
    B = D ^ N;
    const double pi = std::acos(-1.0), incl = std::fmax(-pi / 2, std::fmin(pi / 2, -pi / 2 * e));
    D3 G = turn(N, B, incl);
    G = turn(G, D, (0.5 - r) * pi), B = turn(B, D, (0.5 - r) * pi);
    if (N0 * (D2 ^ D) < 0) p = 1 - p;
    if (flip) p = 1 - p;
    B = turn(B, N, ((r2 - 0.5) * ov + (1 - p)) * 2 * pi);
    return turn(G, N, ((r2 - 0.5) * ov + (1 - p)) * 2 * pi);
}

// A description with its defaults but upright, rooted at the origin on the
// frame N = z, D = y, D2 = x; work records for 8 segments.
class Shaping : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(hair_shape_prepare(8));
        hs_.params = &hp_;
        hp_.erectness = hp_scalar(0.0f);
        hs_.normal = {0, 0, 1}, hs_.dir = {0, 1, 0}, hs_.dir2 = {1, 0, 0};
    }
    void TearDown() override { hair_shape_release(); }
    // Shapes the hair after asking for its reach: every point lies within
    // its radius of its centre, every width within its largest, and on a
    // unit frame the radius is the length with a small margin.
    control_hair* Shape(const clump_centre* c = nullptr, int n = 0, float r = 0.0f) {
        EXPECT_TRUE(hair_shape_reach(hs_, o_, radius_, width_));
        const float bound = std::fabs(hp_.length.base * hp_.width_scale) * 1.05f + 1e-3f;
        EXPECT_TRUE(hs_.normal.sqrd_length() >= 1.0001f || radius_ < bound) << radius_;
        control_hair* h = hair_shape(&hs_, c, n, r);
        for (int k = 0; h && k < h->count; ++k)
            EXPECT_TRUE(kivVector(o_, h->points[k]).length() <= radius_ &&
                        std::fabs(h->vertices[k].width) <= width_);
        return h;
    }
    hair_params hp_;
    hair_state hs_;
    kivPoint o_;  // the last reach asked for
    float radius_ = 0.0f, width_ = 0.0f;
};

}  // namespace

// Random orthonormal frames of either handedness, erectness beyond both clamps,
// roll, polar, orientation variation and negative lengths: without scraggle
// a hair takes count - 1 equal steps of its scaled length along the modelled
// growth direction, turned about the modelled bending axis by a constant
// curl, from the root moved along the normal by the offset; a flipped hair
// leaves the state's normal negated.
TEST_F(Shaping, HairFollowsTheModelledGrowthDirectionAndCurl) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f), c(-5.0f, 5.0f);
    for (int i = 0; i < 300; ++i) {
        const int sample = i % 2;
        kivVector N(c(rng), c(rng), c(rng)), D = N ^ kivVector(c(rng), c(rng), c(rng));
        N.norm(), D.norm();
        const kivVector D2 = (D ^ N) * (i % 3 ? 1.0f : -1.0f);
        (sample ? hs_.normal_mb : hs_.normal) = N;
        (sample ? hs_.dir_mb : hs_.dir) = D;
        (sample ? hs_.pos_mb : hs_.pos) = kivPoint(c(rng), c(rng), c(rng));
        hs_.dir2 = D2, hs_.sample = sample, hs_.rand[2] = u(rng);
        const bool flip = i % 5 == 0;
        hp_.segments = hp_scalar(1.0f + 7.0f * u(rng));
        hp_.length = hp_scalar((flip ? -1 : 1) * (0.1f + 5.0f * u(rng)));
        hp_.erectness = hp_scalar(3 * u(rng) - 1.5f), hp_.roll = hp_scalar(u(rng));
        hp_.polar = hp_scalar(u(rng)), hp_.orient_var = hp_scalar(u(rng));
        hp_.offset = hp_scalar(u(rng) - 0.5f), hp_.width_scale = 0.5f + u(rng);
        const kivPoint root =
            (sample ? hs_.pos_mb : hs_.pos) + N * (flip ? -1.0f : 1.0f) * hp_.offset.base;
        D3 B, G = growth(d3(N), d3(D), d3(D2), hp_.erectness.base, hp_.roll.base, hp_.polar.base,
                         hp_.orient_var.base, hs_.rand[2], flip, B);
        const float curl = i % 4 ? 0.5f : u(rng);  // a constant curl turns every step about B
        hp_.curl_base = hp_.curl_tip = hp_scalar(curl),
        hp_.width_tip = hp_scalar(3 * u(rng) - 1.5f);
        const control_hair* h = Shape();
        ASSERT_TRUE(h && h == hair_shape_work_hair(sample));
        expect_near((sample ? hs_.normal_mb : hs_.normal), N * (flip ? -1.0f : 1.0f), 0, "normal");
        const float step = std::fabs(hp_.length.base) * hp_.width_scale / (h->count - 1);
        expect_near(h->points[0], root, 1e-5f, "root " + std::to_string(i));
        for (int k = 1; k < h->count; ++k) {
            G = turn(G, B, (curl - 0.5) * 2 * std::acos(-1.0) / (h->count - 1));
            const kivVector want(float(G.x * step), float(G.y * step), float(G.z * step));
            expect_near(kivVector(h->points[k - 1], h->points[k]), want, 5e-4f * (1 + step),
                        "hair " + std::to_string(i) + " step " + std::to_string(k));
        }
    }
}

// segments below 1 give 2 points, the count is capped and the work record
// grows to the largest; a hair shorter than count x 1e-5 is refused, its
// count set all the same.
TEST_F(Shaping, PointCountFollowsSegmentsAndShortHairsAreRefused) {
    hp_.length = hp_scalar(10.0f);
    const float segments[5] = {-3.0f, 1.9f, 2.0f, 20.0f, 1e9f};
    const int counts[5] = {2, 2, 3, 21, HAIR_SHAPE_MAX_SEGMENTS + 1};
    for (int i = 0; i < 5; ++i) {
        hp_.segments = hp_scalar(segments[i]);
        const control_hair* h = Shape();
        ASSERT_TRUE(h && h->count == counts[i]) << segments[i];
        EXPECT_NEAR(h->points[h->count - 1].z, 10.0f, 0.05f);
    }
    EXPECT_EQ(hair_shape_capacity(), 9);
    hp_.segments = hp_scalar(3.0f), hp_.length = hp_scalar(3.9e-5f);
    EXPECT_TRUE(Shape() == nullptr && hair_shape_work_hair(0)->count == 4);
}

// Scraggle over hairs of different segment counts, frequencies and random
// numbers, shaped in any order: every step is the growth direction blended
// with the normalised mix of the shared noise curve at (t f, 0, 0) and the
// hair's own at (t f, 10000 r, 0).
TEST_F(Shaping, ScraggleFollowsTheNoiseCurvesWhateverWasShapedBefore) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    hp_.length = hp_scalar(2.0f);
    for (int i = 0; i < 400; ++i) {
        hp_.segments = hp_scalar(static_cast<float>(1 + rng() % 8));
        hp_.scraggle = hp_scalar(0.0f);
        const kivPoint p0 = Shape()->points[0], p1 = Shape()->points[1];
        const int count = Shape()->count;
        const float seglen = 2.0f / static_cast<float>(count - 1);
        kivVector G(p0, p1);
        G.norm();
        const float s = 0.1f + 0.8f * u(rng), c = u(rng), f = 0.5f + 20.0f * (rng() % 6);
        hp_.scraggle = hp_scalar(s), hp_.correlation = hp_scalar(c), hp_.frequency = hp_scalar(f);
        hs_.rand[3] = u(rng);
        const control_hair* h = Shape();
        ASSERT_TRUE(h && h->count == count);
        for (int k = 1; k < count; ++k) {
            const float ft = static_cast<float>(k - 1) / static_cast<float>(count - 1) * f;
            kivVector S =
                dnoise3(kivVector(ft, static_cast<float>(hs_.rand[3] * 10000.0), 0)) * (1 - c) +
                dnoise3(kivVector(ft, 0, 0)) * c;
            S.norm();
            kivVector dir = G * (1 - s) + S * s;
            dir.norm();
            expect_near(kivVector(h->points[k - 1], h->points[k]), dir * seglen, 1e-5f,
                        "hair " + std::to_string(i) + " step " + std::to_string(k));
        }
    }
}

// A clump pulls the hair only with clump > 0 and within reach.
TEST_F(Shaping, ClumpCentresAndTheirPull) {
    hp_.segments = hp_scalar(8.0f);
    const clump_centre centre{{0.5f, 0, 0}, {0, 0, 1}};
    const kivPoint free_tip = Shape()->points[8];
    EXPECT_EQ(Shape(&centre, 1, 1.0f)->points[8].x, free_tip.x);
    hp_.clump = hp_scalar(0.2f);
    EXPECT_GT(Shape(&centre, 1, 1.0f)->points[8].x, free_tip.x + 0.1f);
    EXPECT_EQ(Shape(&centre, 1, 0.4f)->points[8].x, free_tip.x);
}

// Frames longer than a unit stretch a curled step (one segment, the
// default), still within reach;
// curve attractors that may bend a hair leave it unbounded.
TEST_F(Shaping, ReachHoldsStretchedHairsAndCurveAttractorsLeaveItUnbounded) {
    hs_.normal = {0, 0, 1.5f}, hs_.dir = {0, 1.5f, 0}, hp_.curl_base = hp_scalar(0.8f);
    EXPECT_GT(kivVector(Shape()->points[1]).length(), 1.5f);
    hair_curveAttract* curves[1] = {nullptr};
    hair_shape_set_curve_attractors(curves, 1), hp_.attractors = hp_scalar(0.5f);
    EXPECT_FALSE(hair_shape_reach(hs_, o_, radius_, width_));
}

// The grid of clump centres answers as the plain search does, index for
// index: centres on a sphere, on a plane, on a lattice (roots halfway
// between two give exact ties, which go to the lower index), repeated, in
// a few tight clusters far apart, far out, or with a coordinate that is
// not finite; roots near, inside and far outside them; radii from none to
// all-reaching, negative and NaN. A changed set of the same size is picked up.
TEST(ClumpIndex, NearestIsThePlainSearchIndexForIndex) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const float nan = std::nanf(""), inf = INFINITY;
    const float radii[] = {0.0f, 0.01f, 0.1f, 0.4f, 3.0f, 1e30f, -1.0f, nan};
    clump_index index;
    for (int set = 0; set < 80; ++set) {
        const int kind = set % 5, n = set % 7 == 0 ? 9 : 40 + 37 * (set / 2 % 11);
        const float scale = set % 6 == 5 ? 1e5f : 1.0f, shift = set % 4 == 3 ? -2e3f : 0.0f;
        const kivPoint lump[3] = {{u(rng), u(rng), u(rng)}, {u(rng), 0, 0}, {0, u(rng), 0}};
        std::vector<clump_centre> c(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            kivPoint p(u(rng), u(rng), u(rng));
            if (kind == 0) {
                kivVector v(p.x, p.y, p.z + 1e-3f);
                v.norm();
                p = kivPoint(v);
            }
            if (kind == 1) p.y = 0.25f;
            if (kind == 2) p = kivPoint(std::round(p.x * 4), std::round(p.y * 4), 0) * 0.125f;
            if (kind == 3 && i > 0 && i % 3 == 0) p = c[static_cast<std::size_t>(i / 2)].root;
            if (kind == 4) p = lump[i % 3] * 4.0f + p * 0.01f;
            c[static_cast<std::size_t>(i)].root = p * scale + kivPoint(shift, 0, shift);
        }
        if (set % 13 == 12) c[static_cast<std::size_t>(n / 2)].root.z = set % 2 ? nan : inf;
        EXPECT_TRUE(index.hold(c.data(), n)) << set;
        ASSERT_FALSE(index.hold(c.data(), n)) << "the same centres again " << set;
        for (int q = 0; q < 300; ++q) {
            const float out = q % 10 == 9 ? 40.0f : q % 10 == 8 ? 1.3f : 1.0f;
            kivPoint root =
                kivPoint(u(rng), u(rng), u(rng)) * (out * scale) + kivPoint(shift, 0, shift);
            if (q % 17 == 0) root = c[static_cast<std::size_t>(q % n)].root;
            if (kind == 2 && q % 3 == 1)
                root = c[static_cast<std::size_t>(q % n)].root + kivPoint(0.0625f * scale, 0, 0);
            if (kind == 4 && q % 2 == 0)  // around a lump, out to a few cells
                root = (lump[q % 3] * 4.0f + kivPoint(u(rng), u(rng), u(rng)) * (0.4f * (q % 9))) *
                           scale +
                       kivPoint(shift, 0, shift);
            const float radius = radii[q % 8] * scale;
            ASSERT_EQ(hair_shape_select_clump(root, c.data(), n, radius),
                      index.nearest(root, radius))
                << "set " << set << " root " << q << " radius " << radius;
        }
    }
}
