#include "render/atmosphere.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/noise.h"
#include "host/random48.h"
#include "test_support.h"

namespace {

class Atmosphere : public testing::Test {
  protected:
    void SetUp() override { atmosdb_done(); }
    void TearDown() override { atmosdb_done(); }
    hair_atmos atmos_;
};

}  // namespace

TEST_F(Atmosphere, TheFirstDefinitionWins) {
    EXPECT_EQ(atmosdb_init_eval(0.3, 0.7), 0);
    const float depth = 500.0f, weight = 1.0f;
    EXPECT_EQ(atmosdb_eval(1, &depth, &weight, 800.0f, 1.0f).a, 0.0f);
    EXPECT_EQ(atmosdb_init(nullptr), 0);
    EXPECT_EQ(atmosdb_is_defined(), 0);
    hair_atmos second;
    second.end_param = hp_scalar(5.0f);
    EXPECT_EQ(atmosdb_init(&atmos_), 1);
    EXPECT_EQ(captured([&] { EXPECT_EQ(atmosdb_init(&second), 0); }),
              "WARNING: atmosphere already defined, ignoring subsequent def.\n");
    ASSERT_EQ(atmosdb_init_eval(0, 0), 1);
    EXPECT_EQ(atmos_.end, 1000.0f);
    EXPECT_EQ(second.end, 1000.0f);
}

TEST_F(Atmosphere, FogOfOneSubPixel) {
    struct Case {
        float start, end, transparency;
        int n;
        float depths[2], weights[2], bg_depth, bg_weight;
        float fog;
    };
    const Case cases[] = {
        {0, 1000, 0, 1, {500}, {1}, 0, 0, 0.5f},              // half way
        {0, 1000, 0, 1, {-3}, {1}, 0, 0, 0.0f},               // before start
        {0, 1000, 0, 2, {1000, 500}, {1, 1}, 1000, 1, 1.0f},  // full: the rest adds nothing
        {0, 1000, 0, 2, {500, 0}, {0.5f, 0.5f}, 0, 1, 0.25f},
        {0, 1000, 0, 2, {500, 0}, {0.25f, 0.25f}, 1000, 0.8f, 0.125f + 0.5f * 0.8f},
        {0, 1000, 0, 0, {}, {}, 0, 1, 0.0f},  // no background without its depth
        {0, 1000, 0, 0, {}, {}, 500, 0.5f, 0.25f},
        {100, 100, 0, 1, {100}, {1}, 0, 0, 0.0f},  // equal ends: clear up to start
        {100, 100, 0, 1, {100.5f}, {1}, 0, 0, 1.0f},
        {0, 1000, 0.25f, 1, {800}, {1}, 0, 0, 0.6f},  // transparency thins the fog
        {-50, -10, 0, 1, {1}, {1}, 0, 0, 1.0f},       // negative ends are 0
    };
    ASSERT_EQ(atmosdb_init(&atmos_), 1);
    atmos_.color_param = hp_color(kivColor(0.2f, 0.4f, 0.6f, 0.1f));
    for (const Case& c : cases) {
        atmos_.start_param = hp_scalar(c.start);
        atmos_.end_param = hp_scalar(c.end);
        atmos_.transparency_param = hp_scalar(c.transparency);
        ASSERT_EQ(atmosdb_init_eval(0.5, 0.5), 1);
        const kivColor got = atmosdb_eval(c.n, c.depths, c.weights, c.bg_depth, c.bg_weight);
        EXPECT_FLOAT_EQ(got.a, c.fog) << &c - cases;
        // Premultiplied by its own alpha; the colour's alpha is not used.
        EXPECT_FLOAT_EQ(got.r, 0.2f * c.fog) << &c - cases;
        EXPECT_FLOAT_EQ(got.b, 0.6f * c.fog) << &c - cases;
    }
    // A background depth that is not a number is not 0: its ramp spoils the fog.
    EXPECT_TRUE(std::isnan(atmosdb_eval(0, nullptr, nullptr, std::nanf(""), 1.0f).a));
}

TEST_F(Atmosphere, ParametersAreEvaluatedWithRandomNumbersSeededByThePosition) {
    ASSERT_TRUE(atmos_.start_param.set_noise(3.0f, 0.0f, 100.0f));
    ASSERT_EQ(atmosdb_init(&atmos_), 1);
    ASSERT_EQ(atmosdb_init_eval(0.5, 0.25), 1);
    const float at_first = atmos_.start;
    // The seed is the integer part of 0.5 × 213 + 0.25 × 501 = 231.75.
    korvo_host::srand48(231);
    const double n =
        noise3(kivVector(1.5f, 0.75f, static_cast<float>(3.0 * korvo_host::drand48())));
    EXPECT_NEAR(at_first, 100.0 * (n + 1.0) / 2.0, 1e-4);
    ASSERT_EQ(atmosdb_init_eval(0.9, 0.1), 1);
    EXPECT_NE(atmos_.start, at_first);
}
