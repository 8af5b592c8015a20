#include "generation/hair_records.h"

#include <utility>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "test_support.h"

namespace {

const std::string kDefaultVertex =
    "ambient( 1.000000 1.000000 1.000000), diffuse( 1.000000 1.000000 1.000000), "
    "opacity( 1.000000 )\nwidth( 1.000000 )\n";

// Restores the shadow-pass flag and clears it for the test.
class ShadowPass : public testing::Test {
  protected:
    void SetUp() override { defs.shadows.shadow_pass = 0; }
    void TearDown() override { defs.shadows.shadow_pass = saved_; }

  private:
    std::int32_t saved_ = defs.shadows.shadow_pass;
};

}  // namespace

TEST(HairRecords, DefaultsAndPrints) {
    const hair_vertex v;
    const float* f = &v.ambient.r;
    for (int i = 0; i < 14; ++i) EXPECT_EQ(1.0f, f[i]) << i;
    EXPECT_EQ(kDefaultVertex, captured([&] { v.print(); }));
    // A follicle with default vertices.
    follicle fo;
    fo.p1 = kivPoint(1, 2, 3);
    fo.p2 = kivPoint(4, 5, 6);
    fo.lcalc_pos = kivPoint(2.5f, 3.5f, 4.5f);
    fo.lcalc_tan = kivVector(0, 0, 1);
    fo.zdepth[0] = fo.zdepth[1] = -1.0f;
    fo.mtl_components[0] = kivColor(0.5f, 0.5f, 0.5f, 1);
    fo.mtl_components[1] = kivColor(0.25f, 0.25f, 0.25f, 0);
    fo.attr2.width = 0.125f;
    EXPECT_EQ(
        "Follicle contents...\np1 (xyz) = 1.000000 2.000000 3.000000\n"
        "p2 (xyz) = 4.000000 5.000000 6.000000\n" +
            kDefaultVertex +
            "ambient( 1.000000 1.000000 1.000000), diffuse( 1.000000 1.000000 1.000000), "
            "opacity( 1.000000 )\nwidth( 0.125000 )\n"
            "lcalc_pos = 2.500000 3.500000 4.500000\n"
            "lcalc_tan = 0.000000 0.000000 1.000000\nzdepth = -1.000000 -1.000000\n"
            "mtl_components[0] (diffuse) = 0.500000 0.500000 0.500000 1.000000\n"
            "mtl_components[1] (specular) = 0.250000 0.250000 0.250000 0.000000\n",
        captured([&] { fo.print(); }));
}

TEST(ControlHair, OwnsItsArraysAndPrints) {
    control_hair empty;
    EXPECT_EQ(nullptr, empty.points);
    EXPECT_EQ("\nControl hairs contains 0 points\n", captured([&] { empty.print(); }));
    control_hair hair(2);
    ASSERT_EQ(2, hair.count);
    EXPECT_TRUE(hair.points[1].x == 0.0f && hair.vertices[1].width == 1.0f);
    hair.points[1] = kivPoint(1.5f, -2.0f, 0.25f);
    hair.vertices[1].width = 0.5f;
    control_hair copy = hair;  // deep
    hair.points[1].x = 42.0f;
    EXPECT_TRUE(copy.points[1].x == 1.5f && copy.vertices[1].width == 0.5f);
    control_hair moved = std::move(copy);
    EXPECT_TRUE(copy.count == 0 && copy.points == nullptr);  // NOLINT: moved-from state is defined
    EXPECT_EQ("\nControl hairs contains 2 points\n0.000000 0.000000 0.000000\n" + kDefaultVertex +
                  "1.500000 -2.000000 0.250000\nambient( 1.000000 1.000000 1.000000), diffuse( "
                  "1.000000 1.000000 1.000000), opacity( 1.000000 )\nwidth( 0.500000 )\n",
              captured([&] { moved.print(); }));
    EXPECT_TRUE(moved.allocate(0));
    EXPECT_EQ(nullptr, moved.points);
    EXPECT_TRUE(hair.allocate(-2));
    EXPECT_EQ(0, hair.count);
}

TEST_F(ShadowPass, MotionBlurPointFromEitherEndOfAFollicle) {
    follicle f;
    f.zdepth[0] = 10.0f, f.zdepth[1] = 12.0f;
    f.attr1.ambient = kivColor(0.1f, 0.1f, 0.1f, 0.5f);
    f.attr1.diffuse = kivColor(0.5f, 0.25f, 0.0f, 1);
    f.attr1.specular = kivColor(1, 1, 1, 1);
    f.attr1.opacity = 0.8f;
    f.attr2.ambient = kivColor(0.2f, 0.3f, 0.4f, 0);
    f.attr2.opacity = 0.6f;
    f.mtl_components[0] = kivColor(0.5f, 0.5f, 0.5f, 0.5f);
    f.mtl_components[1] = kivColor(0.2f, 0.4f, 0.6f, 1);
    hair_params hp;
    hp.light_model = 0;
    const motion_blur_pnt root(f, &hp, 3, 4, 5, 6, 1), tip(f, &hp, 3, 4, 5, 6, 2);
    EXPECT_EQ((std::vector<float>{3, 4, 10, 5, 6, 12}),
              (std::vector<float>{root.x, root.y, root.z, tip.x, tip.y, tip.z}));
    expect_color(root, 0.1f, 0.1f, 0.1f, 0.8f);
    expect_color(tip, 0.2f, 0.3f, 0.4f, 0.6f);
    // {light model, end, r, g, b, a}
    const float cases[][6] = {{1, 1, 0.35f, 0.225f, 0.1f, 0.8f},
                              {2, 1, 0.55f, 0.625f, 0.7f, 0.8f},
                              {3, 1, 0.2f, 0.4f, 0.6f, 1.2f * 0.3333f * 0.8f},
                              {4, 1, 0, 0, 0, 0},
                              {-1, 2, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        hp.light_model = int(c[0]);
        SCOPED_TRACE(c[0]);
        expect_color(motion_blur_pnt(f, &hp, 0, 0, 0, 0, int(c[1])), c[2], c[3], c[4], c[5]);
    }
}

TEST_F(ShadowPass, HairVertexColorClampsAndShadowPassIsBlack) {
    hair_vertex a;  // all ones
    const kivColor white(1, 1, 1, 1);
    // White light on white hair: far above 1 before clamping.
    expect_color(hair_vertex_color(a, 2, white, white), 1, 1, 1, 1);
    // Model 3 with white light: alpha is 0.9999 of the opacity.
    a.opacity = 0.5f;
    EXPECT_FLOAT_EQ(0.9999f * 0.5f, hair_vertex_color(a, 3, white, white).a);
    a.ambient = kivColor(-1, -1, -1, -1);
    EXPECT_EQ(0.0f, hair_vertex_color(a, 0, white, white).r);
    defs.shadows.shadow_pass = 1;
    for (int model : {0, 1, 2, 3, 9}) {
        SCOPED_TRACE(model);
        expect_color(hair_vertex_color(a, model, white, white), 0, 0, 0, 1);
    }
}
