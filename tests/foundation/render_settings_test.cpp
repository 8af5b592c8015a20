#include "foundation/render_settings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(RenderSettings, Defaults) {
    const defaults& d = defs;
    EXPECT_EQ(d.host_ints[0], 1);
    EXPECT_EQ(d.host_ints[1], 1);
    EXPECT_EQ(d.host_ints[2], 1);
    EXPECT_EQ(d.host_ints[3], -1);
    EXPECT_STREQ(d.image_format, "iff");
    EXPECT_STREQ(d.output_dir, "test_hair");
    EXPECT_EQ(d.image_lines, 486);
    EXPECT_EQ(d.image_cols, 720);
    EXPECT_FLOAT_EQ(d.gamma, 1.7f);
    EXPECT_FLOAT_EQ(d.host_floats[0], 0.86f);
    EXPECT_FLOAT_EQ(d.host_floats[1], 1.0f);
    EXPECT_FLOAT_EQ(d.host_floats[2], 0.5f);
    EXPECT_EQ(d.host_codes[0], 11);
    EXPECT_EQ(d.host_codes[1], 5);
    EXPECT_EQ(d.host_codes[2], 113);
    EXPECT_EQ(d.motion_blur, 0);
    EXPECT_EQ(d.shutter, 1.0f);
    EXPECT_EQ(d.motion_step, 1.0f);
    EXPECT_EQ(d.list_size, 5);
    EXPECT_EQ(d.tess_factor, 1);
    EXPECT_EQ(d.shadows.shadow_pass, 0);
    EXPECT_EQ(d.shadows.use_shadows, 0);
    EXPECT_EQ(d.shadows.count, 0);
    EXPECT_EQ(d.shadows.current, 0);
    EXPECT_EQ(d.shadows.entries, nullptr);
    const char zeros[sizeof d.shadows.caller_bytes] = {};
    EXPECT_EQ(std::memcmp(d.shadows.caller_bytes, zeros, sizeof zeros), 0);
    EXPECT_EQ(d.host_int2, 0);
    EXPECT_EQ(d.subpixel_factor, 1);
    EXPECT_EQ(d.merge_mode, 0);
    EXPECT_EQ(d.merge_exponent, 1.0f);
    EXPECT_EQ(d.host_int3, 0);
    EXPECT_EQ(d.region_on, 0);
    for (int v : d.region) EXPECT_EQ(v, -1);
    EXPECT_EQ(d.tiles[0], 1);
    EXPECT_EQ(d.tiles[1], 1);
    EXPECT_EQ(d.frame, 0);
    EXPECT_EQ(d.model_name, nullptr);
    EXPECT_EQ(d.geometry_id, 0);
    EXPECT_EQ(d.hair_id, 1);
    EXPECT_EQ(d.hair_random, 0.0f);
    EXPECT_EQ(d.root_scale, 1.0f);
    EXPECT_EQ(d.pixel_x, 0);
    EXPECT_EQ(d.pixel_y, 0);
    EXPECT_FALSE(d.backface);
    EXPECT_EQ(opt_flags, 0);
}

TEST(RenderSettings, VerbosityBits) {
    const int saved = opt_flags;
    struct Case {
        int bits;
        bool warnings, progress;
    } cases[] = {{0, false, false}, {1, false, false}, {2, false, false}, {3, true, false},
                 {4, false, false}, {6, false, false}, {7, true, true},   {11, true, false},
                 {15, true, true},  {8, false, false}};
    for (const Case& c : cases) {
        opt_flags = c.bits;
        EXPECT_EQ(opt_warnings(), c.warnings) << c.bits;
        EXPECT_EQ(opt_progress(), c.progress) << c.bits;
    }
    opt_flags = saved;
}
