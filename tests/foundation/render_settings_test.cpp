#include "foundation/render_settings.h"

#include <gtest/gtest.h>

TEST(RenderSettings, VerbosityBits) {
    const int saved = opt_flags;
    // {bits, warnings, progress}: warnings need bits 0 and 1, progress bits 0, 1 and 2.
    const int cases[][3] = {{1, 0, 0}, {2, 0, 0},  {5, 0, 0}, {6, 0, 0},
                            {7, 1, 1}, {11, 1, 0}, {15, 1, 1}};
    for (const auto& c : cases) {
        opt_flags = c[0];
        EXPECT_EQ(c[1], opt_warnings()) << c[0];
        EXPECT_EQ(c[2], opt_progress()) << c[0];
    }
    opt_flags = saved;
}
