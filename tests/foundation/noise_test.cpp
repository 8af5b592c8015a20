#include "foundation/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

// noise3 is dnoise3's x, and its y and z are the same noise at their own
// offsets; the noise repeats every 256 units, is bounded, takes both signs,
// moves little over a small step and is 0 on the lattice (the offsets of
// noise3 moved onto whole numbers).
TEST(Noise, DefiningProperties) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-300, 300);
    const kivVector toY(0.34555f - 0.1234f, -2.64f - 0.434343f, 0.1f - 0.555f);
    const kivVector toZ(0.4321f - 0.1234f, 0.777f - 0.434343f, 0.41412f - 0.555f);
    double sumAbs = 0, lowest = 0, highest = 0;
    for (int i = 0; i < 4000; ++i) {
        const kivVector p(u(rng), u(rng), u(rng)), d = dnoise3(p), step(1e-3f, -1e-3f, 1e-3f);
        const double n = noise3(p);
        ASSERT_EQ(static_cast<float>(n), d.x) << i;
        ASSERT_LE(std::fabs(n), 1.3) << i;
        ASSERT_NEAR(d.y, noise3(p + toY), 2e-4) << i;
        ASSERT_NEAR(d.z, noise3(p + toZ), 2e-4) << i;
        ASSERT_NEAR(n, noise3(p + kivVector(256, -512, 768)), 1e-3) << "period 256 " << i;
        ASSERT_NEAR(n, noise3(p + step), 0.01) << i;
        const kivVector lattice(int(p.x / 40) - 0.1234f, int(p.y / 40) - 0.434343f,
                                int(p.z / 40) - 0.555f);
        ASSERT_NEAR(0.0, noise3(lattice), 1e-5) << i;
        sumAbs += std::fabs(n), lowest = std::fmin(lowest, n), highest = std::fmax(highest, n);
    }
    EXPECT_TRUE(sumAbs / 4000 > 0.1 && lowest < -0.6 && highest > 0.6) << "spread over both signs";
    for (double t = -20; t < 20; t += 0.37) ASSERT_EQ(noise3(t), noise3(kivVector(t, 0, 0))) << t;
}

// A line's points are dnoise3's bit for bit: lines through zero, minus
// zero, huge, negative, infinite and NaN coordinates, walked so that
// points share a cell, step to the next one, jump far and come back.
TEST(Noise, LineIsDnoise3BitForBit) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float special[] = {0.0f, -0.0f, 1e-30f, -1e-30f, 255.999f, -9999.5f, -10000.0f,
                             3e9f, -3e9f, 3e38f,  -3e38f,  inf,      -inf,     nan};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> near(-3.0f, 3.0f), far(-5e4f, 5e4f);
    std::uniform_int_distribution<int> pick(0, 13), kind(0, 5);
    auto coordinate = [&](int k) {
        return k == 0 ? special[pick(rng)] : k < 3 ? near(rng) : far(rng);
    };
    // Equal bits, or both NaN: which NaN an operation on two NaNs gives
    // depends on the order the compiler puts its operands in.
    auto same1 = [](float a, float b) {
        return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
    };
    auto same = [&](const kivVector& a, const kivVector& b) {
        return same1(a.x, b.x) && same1(a.y, b.y) && same1(a.z, b.z);
    };
    for (int l = 0; l < 3000; ++l) {
        const float y = coordinate(kind(rng)), z = l % 4 == 0 ? 0.0f : coordinate(kind(rng));
        dnoise3_line line(y, z);
        float x = coordinate(kind(rng));
        for (int i = 0; i < 12; ++i) {
            // Mostly small steps within or across a cell; sometimes a jump.
            x = i % 5 == 4 ? coordinate(kind(rng)) : x + 0.3f * near(rng);
            const kivVector want = dnoise3(kivVector(x, y, z)), got = line.at(x);
            ASSERT_TRUE(same(want, got))
                << "line " << l << " point " << i << " at (" << x << ", " << y << ", " << z
                << "): " << got.x << " " << got.y << " " << got.z << " for " << want.x << " "
                << want.y << " " << want.z;
        }
    }
}
