#include "render/atmosphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/noise.h"
#include "host/random48.h"

namespace {

class Atmosphere : public testing::Test {
  protected:
    void SetUp() override { atmosdb_done(); }
    void TearDown() override { atmosdb_done(); }

    // Records atmos with constant parameters and evaluates them.
    void use(float start, float end, const kivColor& color, float transparency) {
        atmos_.start_param = hp_scalar(start);
        atmos_.end_param = hp_scalar(end);
        atmos_.color_param = hp_color(color);
        atmos_.transparency_param = hp_scalar(transparency);
        ASSERT_EQ(atmosdb_init(&atmos_), 1);
        ASSERT_EQ(atmosdb_init_eval(0.5, 0.5), 1);
    }

    hair_atmos atmos_;
};

const kivColor kWhite(1, 1, 1, 1);

}  // namespace

TEST_F(Atmosphere, TheFirstDefinitionWins) {
    EXPECT_EQ(atmosdb_is_defined(), 0);
    EXPECT_EQ(atmosdb_init(nullptr), 0);
    EXPECT_EQ(atmosdb_is_defined(), 0);
    hair_atmos first, second;
    second.end_param = hp_scalar(5.0f);
    EXPECT_EQ(atmosdb_init(&first), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(atmosdb_init(&second), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: atmosphere already defined, ignoring subsequent def.\n");
    EXPECT_EQ(atmosdb_is_defined(), 1);
    ASSERT_EQ(atmosdb_init_eval(0, 0), 1);
    EXPECT_EQ(first.end, 1000.0f);
    EXPECT_EQ(second.end, 1000.0f);
}

TEST_F(Atmosphere, WithoutAnAtmosphereThereIsNoFog) {
    EXPECT_EQ(atmosdb_init_eval(0.3, 0.7), 0);
    const float depth = 500.0f, weight = 1.0f;
    const kivColor c = atmosdb_eval(1, &depth, &weight, 800.0f, 1.0f);
    EXPECT_EQ(c.a, 0.0f);
    EXPECT_EQ(c.r, 0.0f);
}

TEST_F(Atmosphere, DefaultsAreAWhiteRampToAThousand) {
    const hair_atmos a;
    EXPECT_EQ(a.start, 0.0f);
    EXPECT_EQ(a.end, 1000.0f);
    EXPECT_EQ(a.color.a, 1.0f);
    EXPECT_EQ(a.transparency, 0.0f);
    EXPECT_EQ(a.end_param.eval_const(), 1000.0f);
}

TEST_F(Atmosphere, TheRampIsLinearBetweenStartAndEnd) {
    use(0.0f, 1000.0f, kivColor(0.2f, 0.4f, 0.6f, 0.1f), 0.0f);
    const float weight = 1.0f;
    const float depths[] = {500.0f, 0.0f, -3.0f, 250.0f, 1000.0f, 5000.0f};
    const float fog[] = {0.5f, 0.0f, 0.0f, 0.25f, 1.0f, 1.0f};
    for (int i = 0; i < 6; ++i) {
        const kivColor c = atmosdb_eval(1, &depths[i], &weight, 0.0f, 0.0f);
        EXPECT_FLOAT_EQ(c.a, fog[i]) << i;
        // Premultiplied by its own alpha; the colour's alpha is not used.
        EXPECT_FLOAT_EQ(c.r, 0.2f * fog[i]) << i;
        EXPECT_FLOAT_EQ(c.b, 0.6f * fog[i]) << i;
    }
}

TEST_F(Atmosphere, TheWalkStopsOnceTheFogIsFull) {
    use(0.0f, 1000.0f, kWhite, 0.0f);
    const float depths[] = {1000.0f, 500.0f};
    const float weights[] = {1.0f, 1.0f};
    EXPECT_FLOAT_EQ(atmosdb_eval(2, depths, weights, 1000.0f, 1.0f).a, 1.0f);
    // Partial fragments sum up, and the background fills what they leave.
    const float half[] = {0.5f, 0.5f};
    const float near_depths[] = {500.0f, 0.0f};
    EXPECT_FLOAT_EQ(atmosdb_eval(2, near_depths, half, 0.0f, 1.0f).a, 0.25f);
    const float quarter[] = {0.25f, 0.25f};
    EXPECT_FLOAT_EQ(atmosdb_eval(2, near_depths, quarter, 1000.0f, 0.8f).a,
                    0.125f + 0.5f * 1.0f * 0.8f);
}

TEST_F(Atmosphere, TheBackgroundCountsOnlyWithADepth) {
    use(0.0f, 1000.0f, kWhite, 0.0f);
    EXPECT_EQ(atmosdb_eval(0, nullptr, nullptr, 0.0f, 1.0f).a, 0.0f);
    EXPECT_FLOAT_EQ(atmosdb_eval(0, nullptr, nullptr, 500.0f, 1.0f).a, 0.5f);
    EXPECT_FLOAT_EQ(atmosdb_eval(0, nullptr, nullptr, 500.0f, 0.5f).a, 0.25f);
    // A depth that is not a number is not 0: the ramp of it spoils the fog.
    EXPECT_TRUE(std::isnan(atmosdb_eval(0, nullptr, nullptr, std::nanf(""), 1.0f).a));
}

TEST_F(Atmosphere, EqualStartAndEndSwitchTheFogOnBehindStart) {
    use(100.0f, 100.0f, kWhite, 0.0f);
    const float weight = 1.0f;
    const float at = 100.0f, behind = 100.5f;
    EXPECT_EQ(atmosdb_eval(1, &at, &weight, 0.0f, 0.0f).a, 0.0f);
    EXPECT_EQ(atmosdb_eval(1, &behind, &weight, 0.0f, 0.0f).a, 1.0f);
}

TEST_F(Atmosphere, TransparencyThinsTheFog) {
    use(0.0f, 1000.0f, kWhite, 1.0f);
    const float depth = 800.0f, weight = 1.0f;
    EXPECT_EQ(atmosdb_eval(1, &depth, &weight, 0.0f, 0.0f).a, 0.0f);
    atmos_.transparency_param = hp_scalar(0.25f);
    ASSERT_EQ(atmosdb_init_eval(0, 0), 1);
    EXPECT_FLOAT_EQ(atmosdb_eval(1, &depth, &weight, 0.0f, 0.0f).a, 0.8f * 0.75f);
}

TEST_F(Atmosphere, NegativeDepthsAreRaisedToZero) {
    use(-50.0f, -10.0f, kWhite, 0.0f);
    EXPECT_EQ(atmos_.start, 0.0f);
    EXPECT_EQ(atmos_.end, 0.0f);
}

TEST_F(Atmosphere, ParametersAreEvaluatedWithRandomNumbersSeededByThePosition) {
    ASSERT_TRUE(atmos_.start_param.set_noise(3.0f, 0.0f, 100.0f));
    ASSERT_EQ(atmosdb_init(&atmos_), 1);
    ASSERT_EQ(atmosdb_init_eval(0.5, 0.25), 1);
    const float at_first = atmos_.start;
    // The seed is the integer part of 0.5 × 213 + 0.25 × 501 = 231.75.
    korvo_host::srand48(231);
    const double r0 = korvo_host::drand48();
    const double n = noise3(kivVector(1.5f, 0.75f, static_cast<float>(3.0 * r0)));
    EXPECT_NEAR(at_first, 100.0 * (n + 1.0) / 2.0, 1e-4);
    // The same position gives the same value, another one another value.
    ASSERT_EQ(atmosdb_init_eval(0.9, 0.1), 1);
    EXPECT_NE(atmos_.start, at_first);
    ASSERT_EQ(atmosdb_init_eval(0.5, 0.25), 1);
    EXPECT_EQ(atmos_.start, at_first);
}
