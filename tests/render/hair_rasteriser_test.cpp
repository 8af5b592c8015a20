#include "render/hair_rasteriser.h"

#include "raster_support.h"

using HairRaster = raster_test::RasterTest;

TEST_F(HairRaster, ShortSegmentsGrowToTheirWidthAtRootAndTip) {
    // A one-segment hair along +x from pixel (21.5, 10): screen length L,
    // half-widths h1 at the root and h2 at the tip.
    const float cases[][4] = {
        {0.5f, 1, 1, 4},   // root moved back 1.5: a 2 × 2 square, no tip extension
        {0.5f, 1, 2, 12},  // then 2 long, tip 4 wide: moved forward 2, widths 2 … 4
        {6.0f, 1, 1, 12},  // long enough: unchanged
    };
    for (const auto& c : cases) {
        cam_.clear_arr();
        draw(make_hair({at(21.5f, 10), at(21.5f + c[0], 10)}, {c[1], c[2]}));
        EXPECT_NEAR(alpha_sum(), c[3], 2e-3) << c[0] << " " << c[2];
    }
    // The square of the first case covers pixels 20 … 21 × 9 … 10 exactly;
    // in a shadow pass it is opaque black whatever its colour and opacity.
    cam_.clear_arr();
    defs.shadows.shadow_pass = 1;
    control_hair hair = make_hair({at(21.5f, 10), at(22.0f, 10)}, {1, 1});
    hair.vertices[0].ambient = hair.vertices[1].ambient = kivColor(1, 0.5f, 0.2f, 1);
    hair.vertices[0].opacity = hair.vertices[1].opacity = 0.3f;
    draw(hair);
    for (int r = 8; r <= 11; ++r)
        for (int col = 19; col <= 22; ++col)
            expect_color(color(r, col), 0, 0, 0, (r == 9 || r == 10) && (col == 20 || col == 21));
}

TEST_F(HairRaster, StraightHairJointsNeitherGapNorOverlap) {
    // Five points on a screen diagonal, two pixels wide all along: the
    // ribbon is a rectangle split at the joints. The work array grows to
    // the four segments and stays.
    hair_segment_release();
    std::vector<kivPoint> pts;
    for (int k = 0; k < 5; ++k) pts.push_back(at(8.3f + 9 * k, 6.1f + 7 * k));
    draw(make_hair(pts, {1, 1, 1, 1, 1}));
    EXPECT_NEAR(alpha_sum(), 2 * 4 * std::hypot(9.0, 7.0), 5e-3);
    EXPECT_EQ(hair_segment_capacity(), 4);
    draw(make_hair({at(5, 5), at(9, 5), at(13, 5)}, {1, 1, 1}));
    EXPECT_EQ(hair_segment_capacity(), 4);
}

TEST_F(HairRaster, NearPlaneCutsOrDropsSegments) {
    // Rows: z of the two ends before and after; the last hair lies behind.
    const float cases[][4] = {{-10, 10, -10, -1e-5f}, {10, -10, -1e-5f, -10}, {5, 5, 5, 5}};
    for (const auto& c : cases) {
        cam_.clear_arr();
        draw(make_hair({kivPoint(1, 0, c[0]), kivPoint(1, 1, c[1])}, {1, 1}));
        const follicle& f = hair_segment_records()[0];
        EXPECT_NEAR(f.p1.z, c[2], 1e-9f);
        EXPECT_NEAR(f.p2.z, c[3], 1e-9f);
        const bool drawn = c[0] < 0 || c[1] < 0;
        EXPECT_EQ(f.zdepth[0] < 0 && f.zdepth[1] < 0, !drawn);
        EXPECT_EQ(alpha_sum() > 1.0f, drawn);
    }
}

TEST_F(HairRaster, PointSegmentAbandonsTheHair) {
    opt_flags = 3;
    const control_hair hair = make_hair({at(5, 5), at(9, 5), at(9, 5)}, {1, 1, 1});
    EXPECT_EQ(captured([&] { draw(hair); }), "WARNING: skipping hair, segment is a point\n");
    EXPECT_EQ(alpha_sum(), 0.0f);
}

TEST_F(HairRaster, LightModelThreeTakesItsAlphaFromTheSpecularLight) {
    // A white infinite light along the view axis, linked to the model being
    // haired, and a hair across the view at x = 0: light and eye at right
    // angles to the hair give white specular light, so alpha = (1 + 1 + 1)
    // × 0.3333 × opacity.
    fur_->light_model = 3;
    ASSERT_EQ(lgtdb_init(1, 0), 1);
    hair_light* light = lgtdb_get_new(0);
    light->type = LIGHT_INFINITE, light->color = kivColor(1, 1, 1);
    light->direction = kivVector(0, 0, 1);
    light->set_link_count(1), light->add_link(names_add("skin"));
    defs.model_name = "skin";
    control_hair hair = make_hair({at(31.75f, 10), at(32.25f, 10)}, {1, 1});
    hair.vertices[0].opacity = hair.vertices[1].opacity = 0.6f;
    draw(hair, fur_);
    const kivColor c = color(9, 31);
    for (float v : {c.r, c.g, c.b, c.a}) EXPECT_NEAR(v, 0.9999f * 0.6f, 2e-5f);
}
