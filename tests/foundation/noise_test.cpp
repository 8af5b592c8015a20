#include "foundation/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

// noise3 is dnoise3's x and its y and z are the same noise at the other
// offsets; the noise repeats every 256 units, is bounded, takes both signs, moves little over a
// small step, and gives the same value at a point whatever was evaluated before.
TEST(Noise, SmoothBoundedAndConsistentBetweenEntryPoints) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-300, 300);
    const kivVector toY(0.34555f - 0.1234f, -2.64f - 0.434343f, 0.1f - 0.555f);
    const kivVector toZ(0.4321f - 0.1234f, 0.777f - 0.434343f, 0.41412f - 0.555f);
    const kivVector first(u(rng), u(rng), u(rng));
    const double firstValue = noise3(first);
    double sumAbs = 0, lowest = 0, highest = 0;
    for (int i = 0; i < 4000; ++i) {
        const kivVector p(u(rng), u(rng), u(rng)), d = dnoise3(p);
        const double n = noise3(p);
        ASSERT_EQ(static_cast<float>(n), d.x) << i;
        ASSERT_LE(std::fabs(n), 1.3) << i;
        ASSERT_NEAR(d.y, noise3(p + toY), 2e-4) << i;
        ASSERT_NEAR(d.z, noise3(p + toZ), 2e-4) << i;
        ASSERT_NEAR(n, noise3(p + kivVector(256, -512, 768)), 1e-3) << "period 256 " << i;
        for (const kivVector& step :
             {kivVector(1e-3f, 0, 0), kivVector(0, 1e-3f, 0), kivVector(0, 0, 1e-3f)})
            ASSERT_LT(std::fabs(noise3(p + step) - n), 0.01) << i;
        sumAbs += std::fabs(n), lowest = std::fmin(lowest, n), highest = std::fmax(highest, n);
    }
    EXPECT_GT(sumAbs / 4000, 0.1);
    EXPECT_LT(lowest, -0.6);
    EXPECT_GT(highest, 0.6);
    EXPECT_EQ(firstValue, noise3(first)) << "deterministic";
    for (double t = -20; t < 20; t += 0.37)
        ASSERT_EQ(noise3(t), noise3(kivVector(static_cast<float>(t), 0, 0))) << "scalar " << t;
}

// With the offsets moved onto whole numbers every corner's gradient meets a
// zero offset: the noise is 0 on the lattice.
TEST(Noise, ZeroOnTheLatticeFiniteFarOut) {
    for (int i = -5; i <= 5; ++i)
        for (int j = -5; j <= 5; ++j)
            ASSERT_NEAR(noise3(kivVector(i - 0.1234f, j - 0.434343f, 3 - 0.555f)), 0.0, 1e-5) << i;
    for (float c : {-1e4f, -3e4f, 1e9f, -1e12f, 3e38f}) {
        EXPECT_TRUE(std::isfinite(noise3(kivVector(c, c, c)))) << c;
        EXPECT_TRUE(std::isfinite(dnoise3(kivVector(c, 1, -c)).y)) << c;
    }
}
