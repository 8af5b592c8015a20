#include "foundation/fscale.h"

#include <gtest/gtest.h>

#include <cmath>

// n range [nlow, nhigh] onto r range [rlow, rhigh], a reversed r range too;
// the two directions are inverses.
TEST(KivFscale, MapsRangesBothWays) {
    const kivFscale s(0, 720, -0.5f, 0.5f), flip(10, 20, 1, -1);
    EXPECT_FLOAT_EQ(-0.5f, s.n_to_r(0));
    EXPECT_FLOAT_EQ(0.5f, s.n_to_r(720));
    EXPECT_FLOAT_EQ(540, s.r_to_n(0.25f));
    EXPECT_FLOAT_EQ(0.5f, flip.n_to_r(12.5f));
    EXPECT_FLOAT_EQ(20, flip.r_to_n(-1));
    for (float n = -3; n < 30; n += 0.7f) EXPECT_NEAR(n, flip.r_to_n(flip.n_to_r(n)), 1e-4) << n;
}

TEST(Zcalc, QuantisesWithNearAsLargest) {
    const zcalc z(1, 10);
    // Clamped to [near, far]; half way is (1 - 0.5) * 4294967295 + 0.5, truncated.
    const float depths[] = {1, 10, 0.5f, 100, 5.5f};
    const std::uint32_t expected[] = {4294967295u, 0, 4294967295u, 0, 2147483648u};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[i], z.zdepth(depths[i])) << depths[i];
    for (float d = 1.25f; d <= 10; d += 0.25f) EXPECT_LT(z.zdepth(d), z.zdepth(d - 0.25f)) << d;
    EXPECT_EQ(0u, zcalc(5, 5).zdepth(5) | zcalc(5, 5).zdepth(-1) | z.zdepth(std::nanf("")));
}
