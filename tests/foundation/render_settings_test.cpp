#include "foundation/render_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(RenderSettings, Defaults) {
    const defaults& d = defs;
    using Ints = std::vector<int>;
    using Floats = std::vector<float>;
    EXPECT_EQ((Ints{1, 1, 1, -1}), Ints(d.host_ints, d.host_ints + 4));
    EXPECT_EQ((Ints{11, 5, 113}), Ints(d.host_codes, d.host_codes + 3));
    EXPECT_EQ((Floats{0.86f, 1, 0.5f}), Floats(d.host_floats, d.host_floats + 3));
    EXPECT_EQ(Ints(4, -1), Ints(d.region, d.region + 4));
    EXPECT_STREQ("iff", d.image_format);
    EXPECT_STREQ("test_hair", d.output_dir);
    EXPECT_EQ(nullptr, d.model_name);
    // {lines, cols, motion blur, list size, tess factor, int2, subpixel, merge mode, int3,
    //  region on, tiles x, tiles y, frame, geometry id, hair id, pixel x, pixel y, backface}
    EXPECT_EQ(
        (Ints{486, 720, 0, 5, 1, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0}),
        (Ints{d.image_lines, d.image_cols, d.motion_blur, d.list_size, d.tess_factor, d.host_int2,
              d.subpixel_factor, d.merge_mode, d.host_int3, d.region_on, d.tiles[0], d.tiles[1],
              d.frame, d.geometry_id, d.hair_id, d.pixel_x, d.pixel_y, d.backface}));
    // {gamma, shutter, motion step, merge exponent, hair random, root scale}
    EXPECT_EQ(
        (Floats{1.7f, 1, 1, 1, 0, 1}),
        (Floats{d.gamma, d.shutter, d.motion_step, d.merge_exponent, d.hair_random, d.root_scale}));
    // The embedded shadow map list starts empty and zeroed.
    EXPECT_EQ((Ints{0, 0, 0, 0}), (Ints{d.shadows.shadow_pass, d.shadows.use_shadows,
                                        d.shadows.count, d.shadows.current}));
    EXPECT_EQ(nullptr, d.shadows.entries);
    const char zeros[sizeof d.shadows.caller_bytes] = {};
    EXPECT_EQ(0, std::memcmp(d.shadows.caller_bytes, zeros, sizeof zeros));
    EXPECT_EQ(0, opt_flags);
}

TEST(RenderSettings, VerbosityBits) {
    const int saved = opt_flags;
    // {bits, warnings, progress}
    const int cases[][3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0},  {3, 1, 0},  {4, 0, 0},
                            {6, 0, 0}, {7, 1, 1}, {11, 1, 0}, {15, 1, 1}, {8, 0, 0}};
    for (const auto& c : cases) {
        opt_flags = c[0];
        EXPECT_EQ(c[1], opt_warnings()) << c[0];
        EXPECT_EQ(c[2], opt_progress()) << c[0];
    }
    opt_flags = saved;
}
