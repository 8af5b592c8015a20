// The OpenEXR output passes and the shaded surface layer, read back
// through the OpenEXR library.
#include "render/exr_output.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "exr_support.h"
#include "render_support.h"
#include "render/geometry_occlusion.h"
#include "render/surface_shading.h"

namespace {

using exr_test::imf::FLOAT;
using exr_test::imf::HALF;

// Pixel (x, r) of a flat file is the colour want, within tol a channel.
void expect_pixel(const exr_test::flat& f, int x, int r, const kivColor& want, float tol) {
    EXPECT_NEAR(f.at("R", x, r), want.r, tol) << x << "," << r;
    EXPECT_NEAR(f.at("G", x, r), want.g, tol) << x << "," << r;
    EXPECT_NEAR(f.at("B", x, r), want.b, tol) << x << "," << r;
    EXPECT_NEAR(f.at("A", x, r), want.a, tol) << x << "," << r;
}

class ExrOutput : public render_test::RasterTest {
  protected:
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        RasterTest::TearDown();
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }
    std::vector<std::string> files_;
};

// A wall at distance 10 (pixels 8 … 55 × 6 … 41) lit by a point light
// with a square falloff, and a light linked to another model: the shaded
// surface shows through the hair in front of it and hides the hair behind.
TEST_F(ExrOutput, HairInFrontCompositesOverTheShadedSurface) {
    defs.subpixel_factor = 1, defs.image_cols = 64, defs.image_lines = 48;
    cam_.set_image_params(48, 64, cam_window(), zcalc());
    ASSERT_EQ(cam_.init_zbuffer(), 1);
    ASSERT_EQ(mdldb_init(2, 0), 1);
    hair_model* m = mdldb_get_new(0);
    mdldb_set_type(m, MODEL_POLY, "wall");
    const kivPoint corners[4] = {at(8, 6), at(8, 42), at(56, 42), at(56, 6)};
    kivPolygons* p = m->polygons();
    p->set_nb_verts(4), p->set_nb_polys(1), p->set_poly(0, kivPoly{4, {0, 1, 2, 3}, {}, {}});
    for (int i = 0; i < 4; ++i) p->set_vert(i, corners[i]);
    m->zbuffer_flag1 = true;
    const kivPoint light_at(-60, 45, 30);
    const kivColor light_color(12000, 9600, 7200, 1);
    ASSERT_EQ(lgtdb_init(2, 0), 1);
    for (const char* link : {"wall", "elsewhere"}) {
        hair_light* l = lgtdb_get_new(0);
        l->type = LIGHT_POINT, l->flags = LIGHT_HAS_FALLOFF,
        l->falloff_start = LIGHT_FALLOFF_SQUARE;
        l->position = *link == 'w' ? light_at : kivPoint(0, 0, -9);
        l->color = *link == 'w' ? light_color : kivColor(1, 1, 1, 1);
        l->set_link_count(1), l->add_link(names_add(link));
    }
    // Grey under the linked light: cos(angle of incidence) ÷ distance².
    auto wall = [&](int col, int row) {
        const kivVector L(at(col + 0.5f, row + 0.5f), light_at);
        const float d = L.length(), s = surface_layer::kDefaultGrey * (L.z / d) / (d * d);
        return kivColor(light_color.r * s, light_color.g * s, light_color.b * s, 1.0f);
    };
    surface_layer layer;
    ASSERT_EQ(layer.build(cam_, 0, {}), 1);
    mdldb_zbuffer(&cam_, 0);
    const kivColor hair(0.2f, 0.4f, 0.6f, 0.5f);
    render_test::add_fragment(zb(), 20, 20, 1, 5.0f, hair);   // in front of the wall
    render_test::add_fragment(zb(), 30, 30, 2, 30.0f, hair);  // behind it
    render_test::add_fragment(zb(), 2, 2, 3, 5.0f, hair);     // beside it
    const std::string path = file(".exr"), deep = file(".deep.exr");
    ASSERT_EQ(render_exr(cam_, path.c_str(), exr_frame::whole_output(), false, &layer), 1);
    const exr_test::flat f = exr_test::read_flat(path);
    const kivColor premult(hair.r * hair.a, hair.g * hair.a, hair.b * hair.a, hair.a);
    expect_pixel(f, 20, 20, premult + wall(20, 20) * (1.0f - hair.a), 2e-3f);
    expect_pixel(f, 30, 30, wall(30, 30), 2e-3f);
    expect_pixel(f, 40, 12, wall(40, 12), 2e-3f);
    expect_pixel(f, 2, 2, premult, 2e-3f);
    expect_pixel(f, 60, 45, kivColor(0, 0, 0, 0), 0.0f);
    // A window outside the z-buffer is refused.
    exr_frame outside = exr_frame::whole_output();
    outside.windows.data = {0, 0, 64, 47};
    EXPECT_NE(captured([&] {
                  EXPECT_EQ(render_exr(cam_, path.c_str(), outside, false, nullptr), 0);
              }).find("ERROR: render_exr"),
              std::string::npos);
    // The deep image with the surface flattens to the same picture.
    ASSERT_EQ(render_deep_exr(cam_, deep.c_str(), exr_frame::whole_output(), &layer), 1);
    const exr_test::flat g = exr_test::composite_deep(deep);
    for (int i = 0; i < 48 * 64; ++i)
        for (const char* ch : {"R", "G", "B", "A"})
            ASSERT_NEAR(g.at(ch, i % 64, i / 64), f.at(ch, i % 64, i / 64), 1.0f / 255.0f)
                << ch << i;
}

}  // namespace
