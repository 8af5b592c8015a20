#include "foundation/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

kivVector RandomPoint(std::mt19937& rng, float extent) {
    std::uniform_real_distribution<float> u(-extent, extent);
    return kivVector(u(rng), u(rng), u(rng));
}

}  // namespace

TEST(Noise, Noise3IsTheXComponentOfDnoise3) {
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        const kivVector p = RandomPoint(rng, 200);
        ASSERT_EQ(static_cast<float>(noise3(p)), dnoise3(p).x) << i;
    }
}

TEST(Noise, AllFourTableSetsAreTheSame) {
    // dnoise3's y and z are the same noise as noise3, only at other offsets.
    std::mt19937 rng(4);
    for (int i = 0; i < 1000; ++i) {
        const kivVector p = RandomPoint(rng, 50);
        const kivVector d = dnoise3(p);
        const kivVector py(p.x + (0.34555f - 0.1234f), p.y + (-2.64f - 0.434343f),
                           p.z + (0.1f - 0.555f));
        const kivVector pz(p.x + (0.4321f - 0.1234f), p.y + (0.777f - 0.434343f),
                           p.z + (0.41412f - 0.555f));
        ASSERT_NEAR(d.y, noise3(py), 2e-4) << i;
        ASSERT_NEAR(d.z, noise3(pz), 2e-4) << i;
    }
}

TEST(Noise, ScalarNoiseRunsAlongX) {
    for (double t = -20; t < 20; t += 0.37) {
        ASSERT_EQ(noise3(t), noise3(kivVector(static_cast<float>(t), 0, 0))) << t;
    }
}

TEST(Noise, ZeroAtLatticePoints) {
    // The offsets of noise3 moved onto whole numbers: every corner's
    // gradient is dotted with a zero offset.
    for (int i = -5; i <= 5; ++i) {
        for (int j = -5; j <= 5; ++j) {
            const kivVector p(i - 0.1234f, j - 0.434343f, 3 - 0.555f);
            ASSERT_NEAR(noise3(p), 0.0, 1e-5) << i << " " << j;
        }
    }
}

TEST(Noise, RangeAndVariation) {
    std::mt19937 rng(5);
    double sumAbs = 0, lowest = 0, highest = 0;
    const int count = 20000;
    for (int i = 0; i < count; ++i) {
        const double n = noise3(RandomPoint(rng, 1000));
        ASSERT_TRUE(std::isfinite(n)) << i;
        ASSERT_LE(std::fabs(n), 1.3) << i;
        sumAbs += std::fabs(n);
        lowest = std::fmin(lowest, n);
        highest = std::fmax(highest, n);
    }
    // Noise, not a constant: it spreads over both signs.
    EXPECT_GT(sumAbs / count, 0.1);
    EXPECT_LT(lowest, -0.6);
    EXPECT_GT(highest, 0.6);
}

TEST(Noise, SmallStepsGiveSmallChanges) {
    std::mt19937 rng(6);
    const float h = 1e-3f;
    for (int i = 0; i < 2000; ++i) {
        const kivVector p = RandomPoint(rng, 100);
        const double n = noise3(p);
        const kivVector d = dnoise3(p);
        for (const kivVector& step : {kivVector(h, 0, 0), kivVector(0, h, 0), kivVector(0, 0, h)}) {
            ASSERT_LT(std::fabs(noise3(p + step) - n), 0.01) << i;
            const kivVector e = dnoise3(p + step) - d;
            ASSERT_LT(e.length(), 0.02f) << i;
        }
    }
}

TEST(Noise, FarAndUnusualInputsStayFinite) {
    for (float c : {-1e4f, -3e4f, 1e9f, -1e12f, 3e38f}) {
        EXPECT_TRUE(std::isfinite(noise3(kivVector(c, c, c)))) << c;
        EXPECT_TRUE(std::isfinite(dnoise3(kivVector(c, 1, -c)).y)) << c;
    }
    EXPECT_TRUE(std::isnan(noise3(kivVector(std::nanf(""), 0, 0))));
}
