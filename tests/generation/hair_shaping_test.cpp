#include "generation/hair_shaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "descriptions/hair_params.h"

namespace {

constexpr float kPi = 3.14159265f;

// A description with its defaults but upright (erectness 0) and a hair
// rooted at the origin on the frame N = z, D = y, D2 = x; work records
// prepared for 8 segments.
class Shaping : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(hair_shape_prepare(8));
        hs_.params = &hp_;
        hp_.erectness = hp_scalar(0.0f);
        hs_.normal = {0, 0, 1};
        hs_.dir = {0, 1, 0};
        hs_.dir2 = {1, 0, 0};
    }
    void TearDown() override { hair_shape_release(); }

    control_hair* Shape(const clump_centre* c = nullptr, int n = 0, float r = 0.0f) {
        return hair_shape(&hs_, c, n, r);
    }

    hair_params hp_;
    hair_state hs_;
};

// The axis is used as given; row vectors turn clockwise seen down it.
TEST(AxisRotation, RowVectorsTurnAboutTheAxisAndTheRestIsLeftAlone) {
    const kivVector cases[][3] = {// axis, in, out at a quarter turn
                                  {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}},
                                  {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
                                  {{0, 0, 2}, {1, 0, 0}, {4.37e-8f, -2, 0}}};
    for (const auto& c : cases) {
        kivMatrix m;
        m.m[3] = 5.0f;
        axis_rotation(c[0], kPi / 2, m);
        EXPECT_LT(kivVector(kivPoint(c[1] * m), kivPoint(c[2])).sqrd_length(), 1e-12f);
        EXPECT_EQ(m.m[3], 5.0f);
    }
}

TEST_F(Shaping, PointCountFollowsSegmentsAndGrowsTheWorkRecord) {
    const std::pair<float, int> cases[] = {{-3.0f, 2},  {1.9f, 2},
                                           {2.0f, 3},   {7.5f, 8},
                                           {20.0f, 21}, {1e9f, HAIR_SHAPE_MAX_SEGMENTS + 1}};
    hp_.length = hp_scalar(10.0f);
    for (const auto& c : cases) {
        hp_.segments = hp_scalar(c.first);
        const control_hair* h = Shape();
        ASSERT_NE(h, nullptr) << c.first;
        EXPECT_EQ(h->count, c.second) << c.first;
        EXPECT_NEAR(kivVector(h->points[0], h->points[h->count - 1]).length(), 10.0f, 0.05f);
    }
    EXPECT_EQ(hair_shape_capacity(), 9);
}

// Curl 0.5 and scraggle 0: equal steps in one direction, length times the
// root scale; upright and unrolled (every other hair) along the normal
// whatever the polar angle.
TEST_F(Shaping, StraightHairTakesEqualStepsOfItsScaledLength) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::uniform_real_distribution<float> c(-5.0f, 5.0f);
    for (int i = 0; i < 200; ++i) {
        hs_.pos = {c(rng), c(rng), c(rng)};  // a random orthonormal frame
        hs_.normal = {c(rng), c(rng), c(rng)};
        hs_.normal.norm();
        hs_.dir = hs_.normal ^ kivVector(c(rng), c(rng), c(rng));
        hs_.dir.norm();
        hs_.dir2 = hs_.dir ^ hs_.normal;
        hp_.segments = hp_scalar(1.0f + 30.0f * u(rng));
        hp_.length = hp_scalar(0.1f + 5.0f * u(rng));
        hp_.erectness = hp_scalar(i % 2 ? u(rng) : 0.0f);
        hp_.roll = hp_scalar(i % 2 ? u(rng) : 0.5f);
        hp_.polar = hp_scalar(u(rng));
        hp_.orient_var = hp_scalar(u(rng));
        hs_.rand[2] = u(rng);
        hp_.width_scale = 0.5f + u(rng);
        const float length = hp_.length.base * hp_.width_scale;
        const control_hair* h = Shape();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->points[0].x, hs_.pos.x);
        kivVector first(h->points[0], h->points[1]);
        first.norm();
        EXPECT_TRUE(i % 2 || first * hs_.normal > 0.99999f) << i;
        for (int k = 1; k < h->count; ++k) {
            kivVector s(h->points[k - 1], h->points[k]);
            ASSERT_NEAR(s.norm(), length / (h->count - 1), 1e-4f * length) << i << " " << k;
            ASSERT_GT(s * first, 0.99999f) << i << " " << k;
        }
    }
}

TEST_F(Shaping, NegativeLengthFlipsTheNormalAndTooShortHairsAreSkipped) {
    hp_.length = hp_scalar(-2.0f);
    const control_hair* h = Shape();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(hs_.normal, kivVector(0, 0, -1));
    EXPECT_NEAR(h->points[1].z, -2.0f, 1e-5f);

    hp_.segments = hp_scalar(3.0f);
    for (float length : {0.0f, 3.9e-5f}) {
        hp_.length = hp_scalar(length);
        EXPECT_EQ(Shape(), nullptr);
        EXPECT_EQ(hair_shape_work_hair(0)->count, 4);  // set before the length check
    }
}

TEST_F(Shaping, ScraggleDependsOnlyOnTheHairsSeed) {
    hp_.scraggle = hp_scalar(0.7f), hp_.segments = hp_scalar(12.0f);
    const auto tip = [this](double seed, const kivPoint& at) {
        hs_.rand[3] = seed, hs_.pos = at;
        const control_hair* h = Shape();
        return kivVector(h->points[0], h->points[12]);
    };
    const kivVector a = tip(0.25, {0, 0, 0});
    EXPECT_LT((a - tip(0.25, {10, -4, 3})).sqrd_length(), 1e-8f);
    EXPECT_GT((a - tip(0.75, {0, 0, 0})).sqrd_length(), 1e-4f);
}

TEST_F(Shaping, ClumpCentresAndTheirPull) {
    hp_.segments = hp_scalar(8.0f);
    const clump_centre centre{{0.5f, 0, 0}, {0, 0, 1}};
    const kivPoint free_tip = Shape()->points[8];
    EXPECT_EQ(Shape(&centre, 1, 1.0f)->points[8].x, free_tip.x);  // clump 0
    hp_.clump = hp_scalar(0.2f);
    EXPECT_GT(Shape(&centre, 1, 1.0f)->points[8].x, free_tip.x + 0.1f);
    EXPECT_EQ(Shape(&centre, 1, 0.4f)->points[8].x, free_tip.x);  // out of reach
    // A clump centre is the offset root and the growth direction.
    hp_.clump = hp_scalar(0.0f), hp_.segments = hp_scalar(1.0f), hp_.offset = hp_scalar(0.5f);
    hp_.erectness = hp_.polar = hp_scalar(0.3f);
    hs_.pos = {1, 2, 3};
    clump_centre c;
    ASSERT_TRUE(hair_shape_clump_centre(&hs_, c));
    const control_hair* h = Shape();
    EXPECT_TRUE(c.root.z == 3.5f && h->points[0].z == 3.5f);
    EXPECT_GT(kivVector(h->points[0], h->points[1]) * c.direction, 0.99999f);  // length 1
    hp_.length = hp_scalar(0.0f);
    EXPECT_FALSE(hair_shape_clump_centre(&hs_, c));
}

TEST(ClumpSelection, NearestCentreWithinTheRadiusInEachAxisAndDistance) {
    const clump_centre c[] = {
        {{1, 0, 0}, {}}, {{0, 0.8f, 0.8f}, {}}, {{0, -0.5f, 0}, {}}, {{0, 0.5f, 0}, {}}};
    const struct {
        float radius;
        int n, expected;
    } cases[] = {{0.4f, 4, -1}, {0.5f, 4, 2}, {1.0f, 2, 0}, {1.2f, 2, 0}, {0.99f, 2, -1}};
    for (const auto& k : cases)
        EXPECT_EQ(hair_shape_select_clump({0, 0, 0}, c, k.n, k.radius), k.expected) << k.radius;
}

}  // namespace
