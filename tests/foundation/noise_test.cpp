#include "foundation/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

kivVector randomPoint(std::mt19937& rng, float extent) {
    std::uniform_real_distribution<float> u(-extent, extent);
    return kivVector(u(rng), u(rng), u(rng));
}

}  // namespace

// noise3 is dnoise3's x; its y and z are the same noise at other offsets.
TEST(Noise, Noise3IsTheXComponentOfDnoise3AndTheTableSetsAgree) {
    std::mt19937 rng(3);
    const kivVector toY(0.34555f - 0.1234f, -2.64f - 0.434343f, 0.1f - 0.555f);
    const kivVector toZ(0.4321f - 0.1234f, 0.777f - 0.434343f, 0.41412f - 0.555f);
    for (int i = 0; i < 5000; ++i) {
        const kivVector p = randomPoint(rng, i < 1000 ? 50 : 200);
        const kivVector d = dnoise3(p);
        ASSERT_EQ(static_cast<float>(noise3(p)), d.x) << i;
        if (i >= 1000) continue;
        ASSERT_NEAR(d.y, noise3(p + toY), 2e-4) << i;
        ASSERT_NEAR(d.z, noise3(p + toZ), 2e-4) << i;
    }
    for (double t = -20; t < 20; t += 0.37)
        ASSERT_EQ(noise3(t), noise3(kivVector(static_cast<float>(t), 0, 0))) << "scalar " << t;
}

TEST(Noise, ZeroAtLatticePoints) {
    // The offsets of noise3 moved onto whole numbers: every corner's gradient meets a zero offset.
    for (int i = -5; i <= 5; ++i)
        for (int j = -5; j <= 5; ++j)
            ASSERT_NEAR(noise3(kivVector(i - 0.1234f, j - 0.434343f, 3 - 0.555f)), 0.0, 1e-5)
                << i << " " << j;
}

TEST(Noise, RangeAndVariation) {
    std::mt19937 rng(5);
    double sumAbs = 0, lowest = 0, highest = 0;
    const int count = 20000;
    for (int i = 0; i < count; ++i) {
        const double n = noise3(randomPoint(rng, 1000));
        ASSERT_LE(std::fabs(n), 1.3) << i;
        sumAbs += std::fabs(n);
        lowest = std::fmin(lowest, n);
        highest = std::fmax(highest, n);
    }
    // Noise, not a constant: it spreads over both signs.
    EXPECT_GT(sumAbs / count, 0.1);
    EXPECT_LT(lowest, -0.6);
    EXPECT_GT(highest, 0.6);
    for (float c : {-1e4f, -3e4f, 1e9f, -1e12f, 3e38f}) {
        EXPECT_TRUE(std::isfinite(noise3(kivVector(c, c, c)))) << c;
        EXPECT_TRUE(std::isfinite(dnoise3(kivVector(c, 1, -c)).y)) << c;
    }
    EXPECT_TRUE(std::isnan(noise3(kivVector(std::nanf(""), 0, 0))));
}

TEST(Noise, SmallStepsGiveSmallChanges) {
    std::mt19937 rng(6);
    const float h = 1e-3f;
    for (int i = 0; i < 2000; ++i) {
        const kivVector p = randomPoint(rng, 100);
        for (const kivVector& step : {kivVector(h, 0, 0), kivVector(0, h, 0), kivVector(0, 0, h)}) {
            ASSERT_LT(std::fabs(noise3(p + step) - noise3(p)), 0.01) << i;
            ASSERT_LT((dnoise3(p + step) - dnoise3(p)).length(), 0.02f) << i;
        }
    }
}
