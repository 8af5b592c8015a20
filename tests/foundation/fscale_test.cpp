#include "foundation/fscale.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(KivFscale, MapsRangesBothWays) {
    const kivFscale none;
    EXPECT_EQ(none.scale, 0);
    EXPECT_EQ(none.nhigh, 0);

    // Pixel columns [0, 720] onto the screen window [-0.5, 0.5].
    const kivFscale s(0, 720, -0.5f, 0.5f);
    EXPECT_FLOAT_EQ(s.scale, 1.0f / 720);
    EXPECT_FLOAT_EQ(s.n_to_r(0), -0.5f);
    EXPECT_FLOAT_EQ(s.n_to_r(360), 0);
    EXPECT_FLOAT_EQ(s.n_to_r(720), 0.5f);
    EXPECT_FLOAT_EQ(s.r_to_n(0.25f), 540);
    for (int n = 0; n <= 720; n += 37) EXPECT_NEAR(s.r_to_n(s.n_to_r(n)), n, 1e-3) << n;

    // A reversed r range.
    const kivFscale flip(10, 20, 1, -1);
    EXPECT_FLOAT_EQ(flip.n_to_r(12.5f), 0.5f);
    EXPECT_FLOAT_EQ(flip.r_to_n(-1), 20);
}

TEST(Zcalc, QuantisesWithNearAsLargest) {
    const zcalc z(1, 10);
    EXPECT_EQ(z.zdepth(1), 4294967295u);
    EXPECT_EQ(z.zdepth(10), 0u);
    EXPECT_EQ(z.zdepth(0.5f), 4294967295u);  // clamped to near
    EXPECT_EQ(z.zdepth(100), 0u);            // clamped to far
    // Half way: (1 - 0.5) * 4294967295 + 0.5, truncated.
    EXPECT_EQ(z.zdepth(5.5f), 2147483648u);
    std::uint32_t previous = z.zdepth(1);
    for (float d = 1.25f; d <= 10; d += 0.25f) {
        const std::uint32_t q = z.zdepth(d);
        EXPECT_LT(q, previous) << d;
        previous = q;
    }
}

TEST(Zcalc, EqualNearAndFarGiveZero) {
    const zcalc z(5, 5);
    for (float d : {-1.0f, 0.0f, 5.0f, 7.0f}) EXPECT_EQ(z.zdepth(d), 0u) << d;
    EXPECT_EQ(zcalc().zdepth(3), 0u);
    EXPECT_EQ(zcalc(1, 10).zdepth(std::nanf("")), 0u);
}
