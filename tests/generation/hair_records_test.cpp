#include "generation/hair_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"

namespace {

template <class F>
std::string Output(F f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

const char kDefaultVertex[] =
    "ambient( 1.000000 1.000000 1.000000), diffuse( 1.000000 1.000000 1.000000), "
    "opacity( 1.000000 )\nwidth( 1.000000 )\n";

void ExpectPntColor(const motion_blur_pnt& p, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(p.r, r);
    EXPECT_FLOAT_EQ(p.g, g);
    EXPECT_FLOAT_EQ(p.b, b);
    EXPECT_FLOAT_EQ(p.a, a);
}

// Restores the shadow-pass flag.
class ShadowPassGuard {
  public:
    ShadowPassGuard() : saved_(defs.shadows.shadow_pass) {}
    ~ShadowPassGuard() { defs.shadows.shadow_pass = saved_; }

  private:
    std::int32_t saved_;
};

}  // namespace

TEST(HairVertex, DefaultsAndPrint) {
    const hair_vertex v;
    const float* f = &v.ambient.r;
    for (int i = 0; i < 14; ++i) EXPECT_EQ(f[i], 1.0f) << i;
    EXPECT_EQ(Output([&] { v.print(); }), kDefaultVertex);

    hair_vertex w;
    w.ambient = kivColor(0.1f, 0.2f, 0.3f, 0.4f);
    w.diffuse = kivColor(0.5f, 0.6f, 0.7f, 0.8f);
    w.opacity = 0.25f;
    w.width = 0.125f;
    EXPECT_EQ(Output([&] { w.print(); }),
              "ambient( 0.100000 0.200000 0.300000), diffuse( 0.500000 0.600000 0.700000), "
              "opacity( 0.250000 )\nwidth( 0.125000 )\n");
}

TEST(ControlHair, OwnsItsArrays) {
    control_hair empty;
    EXPECT_EQ(empty.count, 0);
    EXPECT_EQ(empty.points, nullptr);
    EXPECT_EQ(Output([&] { empty.print(); }), "\nControl hairs contains 0 points\n");

    control_hair hair(3);
    ASSERT_EQ(hair.count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hair.points[i].x, 0.0f);
        EXPECT_EQ(hair.vertices[i].width, 1.0f);
        hair.points[i] = kivPoint(i, 2.0f * i, -1.0f);
    }
    hair.vertices[2].width = 0.5f;

    control_hair copy = hair;  // deep
    EXPECT_NE(copy.points, hair.points);
    hair.points[1].x = 42.0f;
    EXPECT_EQ(copy.points[1].x, 1.0f);
    EXPECT_EQ(copy.vertices[2].width, 0.5f);

    control_hair moved = std::move(copy);
    EXPECT_EQ(copy.count, 0);
    EXPECT_EQ(copy.points, nullptr);
    EXPECT_EQ(moved.count, 3);

    EXPECT_TRUE(moved.allocate(0));
    EXPECT_EQ(moved.count, 0);
    EXPECT_EQ(moved.points, nullptr);
    EXPECT_TRUE(hair.allocate(-2));
    EXPECT_EQ(hair.count, 0);
}

TEST(ControlHair, Print) {
    control_hair hair(2);
    hair.points[1] = kivPoint(1.5f, -2.0f, 0.25f);
    const std::string expected = std::string("\nControl hairs contains 2 points\n") +
                                 "0.000000 0.000000 0.000000\n" + kDefaultVertex +
                                 "1.500000 -2.000000 0.250000\n" + kDefaultVertex;
    EXPECT_EQ(Output([&] { hair.print(); }), expected);
}

TEST(HairState, StartsEmpty) {
    const hair_state hs;
    EXPECT_EQ(hs.u, 0.0);
    EXPECT_EQ(hs.params, nullptr);
    EXPECT_EQ(hs.sample, 0);
    for (double r : hs.rand) EXPECT_EQ(r, 0.0);
    for (double v : hs.vars) EXPECT_EQ(v, 0.0);
    const clump_centre c;
    EXPECT_EQ(c.root.x + c.direction.z, 0.0f);
}

TEST(Follicle, DefaultsAndPrint) {
    follicle f;
    EXPECT_EQ(f.p1.x + f.p2.y + f.lcalc_pos.z + f.lcalc_tan.x, 0.0f);
    EXPECT_EQ(f.attr1.opacity, 1.0f);
    EXPECT_EQ(f.attr2.width, 1.0f);
    for (const kivColor& c : f.mtl_components) EXPECT_EQ(c.r + c.g + c.b + c.a, 0.0f);

    f.p1 = kivPoint(1, 2, 3);
    f.p2 = kivPoint(4, 5, 6);
    f.lcalc_pos = kivPoint(2.5f, 3.5f, 4.5f);
    f.lcalc_tan = kivVector(0, 0, 1);
    f.zdepth[0] = -1.0f;
    f.zdepth[1] = -1.0f;
    f.mtl_components[0] = kivColor(0.5f, 0.5f, 0.5f, 1);
    f.mtl_components[1] = kivColor(0.25f, 0.25f, 0.25f, 0);
    const std::string expected = std::string("Follicle contents...\n") +
                                 "p1 (xyz) = 1.000000 2.000000 3.000000\n"
                                 "p2 (xyz) = 4.000000 5.000000 6.000000\n" +
                                 kDefaultVertex + kDefaultVertex +
                                 "lcalc_pos = 2.500000 3.500000 4.500000\n"
                                 "lcalc_tan = 0.000000 0.000000 1.000000\n"
                                 "zdepth = -1.000000 -1.000000\n"
                                 "mtl_components[0] (diffuse) = 0.500000 0.500000 0.500000 "
                                 "1.000000\n"
                                 "mtl_components[1] (specular) = 0.250000 0.250000 0.250000 "
                                 "0.000000\n";
    EXPECT_EQ(Output([&] { f.print(); }), expected);
}

TEST(MotionBlurPnt, DefaultHasNoColour) {
    const motion_blur_pnt p;
    ExpectPntColor(p, 0, 0, 0, 0);
}

TEST(MotionBlurPnt, FromEitherEndOfAFollicle) {
    ShadowPassGuard guard;
    defs.shadows.shadow_pass = 0;
    follicle f;
    f.zdepth[0] = 10.0f;
    f.zdepth[1] = 12.0f;
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
    const motion_blur_pnt root(f, &hp, 3, 4, 5, 6, 1);
    EXPECT_EQ(root.x, 3.0f);
    EXPECT_EQ(root.y, 4.0f);
    EXPECT_EQ(root.z, 10.0f);
    ExpectPntColor(root, 0.1f, 0.1f, 0.1f, 0.8f);
    const motion_blur_pnt tip(f, &hp, 3, 4, 5, 6, 2);
    EXPECT_EQ(tip.x, 5.0f);
    EXPECT_EQ(tip.y, 6.0f);
    EXPECT_EQ(tip.z, 12.0f);
    ExpectPntColor(tip, 0.2f, 0.3f, 0.4f, 0.6f);

    hp.light_model = 1;
    ExpectPntColor(motion_blur_pnt(f, &hp, 0, 0, 0, 0, 1), 0.35f, 0.225f, 0.1f, 0.8f);
    hp.light_model = 2;
    ExpectPntColor(motion_blur_pnt(f, &hp, 0, 0, 0, 0, 1), 0.55f, 0.625f, 0.7f, 0.8f);
    hp.light_model = 3;
    ExpectPntColor(motion_blur_pnt(f, &hp, 0, 0, 0, 0, 1), 0.2f, 0.4f, 0.6f, 1.2f * 0.3333f * 0.8f);
    hp.light_model = 4;
    ExpectPntColor(motion_blur_pnt(f, &hp, 0, 0, 0, 0, 1), 0, 0, 0, 0);
    hp.light_model = -1;
    ExpectPntColor(motion_blur_pnt(f, &hp, 0, 0, 0, 0, 2), 0, 0, 0, 0);
}

TEST(HairVertexColor, ClampsAndShadowPass) {
    ShadowPassGuard guard;
    defs.shadows.shadow_pass = 0;
    hair_vertex a;  // all ones
    const kivColor white(1, 1, 1, 1);
    // White light on white hair: far above 1 before clamping.
    kivColor c = hair_vertex_color(a, 2, white, white);
    EXPECT_EQ(c.r, 1.0f);
    EXPECT_EQ(c.a, 1.0f);
    // Model 3 with white light: alpha is 0.9999 of the opacity.
    a.opacity = 0.5f;
    c = hair_vertex_color(a, 3, white, white);
    EXPECT_FLOAT_EQ(c.a, 0.9999f * 0.5f);
    a.ambient = kivColor(-1, -1, -1, -1);
    c = hair_vertex_color(a, 0, white, white);
    EXPECT_EQ(c.r, 0.0f);

    defs.shadows.shadow_pass = 1;
    for (int model : {0, 1, 2, 3, 9}) {
        c = hair_vertex_color(a, model, white, white);
        EXPECT_EQ(c.r + c.g + c.b, 0.0f) << model;
        EXPECT_EQ(c.a, 1.0f) << model;
    }
}
