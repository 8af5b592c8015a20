// The output passes: pictures, depth, atmosphere and OpenEXR files, read
// back through the image libraries.
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "exr_support.h"
#include "imagefile/iff_image.h"
#include "imagefile/image_file.h"
#include "render/atmosphere.h"
#include "render/camera.h"
#include "render/exr_output.h"
#include "render/geometry_occlusion.h"
#include "render/surface_shading.h"
#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using Bytes = std::vector<unsigned char>;

namespace {

const kivColor kWhite(1, 1, 1, 1);

// A camera whose z-buffer covers an output of lines × cols pixels; the
// files it names are removed afterwards.
class OutputPasses : public render_test::SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        defs.gamma = 2.2f;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        atmosdb_done();
        SettingsTest::TearDown();
    }

    hair_zbuffer& camera(int lines, int cols, const zcalc& depth = zcalc()) {
        defs.image_lines = lines;
        defs.image_cols = cols;
        cam_.set_aperture(1.0f);
        cam_.set_focal(1.0f);
        cam_.set_image_params(lines, cols, cam_window(), depth);
        EXPECT_EQ(cam_.init_zbuffer(), 1);
        return *cam_.zbuffer();
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }
    hair_camera cam_;
    std::vector<std::string> files_;
};

// The four byte channels of an RLA file, pixel by pixel from row 0, and
// the channel count at the end.
Bytes read_rla(const std::string& path) {
    Bytes out;
    kivImage* img = kivOpenImage(path.c_str(), kivFormatRla);
    if (img == nullptr) return out;
    for (int y = 0; y < img->lines; ++y)
        for (int x = 0; x < img->cols; ++x)
            for (int c = 0; c < 4; ++c) out.push_back(img->rows[y][c * img->cols + x]);
    out.push_back(static_cast<unsigned char>(img->channels));
    kivCloseImage(img);
    return out;
}

IffImage read_iff(const std::string& path) {
    IffImage img;
    EXPECT_TRUE(iff_read_file(path.c_str(), img)) << path;
    return img;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

TEST_F(OutputPasses, SubPixelSamplesAreAveraged) {
    defs.subpixel_factor = 2;
    hair_zbuffer& zb = camera(1, 2);
    // Pixel 0: alphas 1, 1, 0, 0. Pixel 1: one red sample of four.
    add_fragment(zb, 0, 0, 1, 3.0f, kWhite);
    add_fragment(zb, 1, 1, 2, 3.0f, kWhite);
    add_fragment(zb, 1, 3, 3, 3.0f, kivColor(1, 0, 0, 1));
    const std::string path = file(".iff");
    cam_.render(path.c_str());
    const IffImage img = read_iff(path);
    EXPECT_EQ(img.width * 10 + img.height, 21);
    EXPECT_EQ(img.rgba, (Bytes{128, 128, 128, 128, 64, 0, 0, 64}));
    // The current pixel followed the output pixels.
    EXPECT_EQ(defs.pixel_x * 10 + defs.pixel_y, 10);
    // The image in memory holds the same bytes.
    Bytes memory;
    EXPECT_EQ(cam_.render_rgba(memory), 1);
    EXPECT_EQ(memory, img.rgba);
}

TEST_F(OutputPasses, DepthImageTakesTheNearestSample) {
    defs.subpixel_factor = 2;
    hair_zbuffer& zb = camera(1, 3);
    // Pixel 0: geometry at 10 with hair at 4 in front, geometry at 6 elsewhere.
    add_geometry(zb, 0, 0, 10.0f, 1.0f);
    add_fragment(zb, 0, 0, 1, 4.0f, kWhite);
    add_geometry(zb, 1, 1, 6.0f, 1.0f);
    // Pixel 2: hair behind fully covering geometry does not count.
    add_geometry(zb, 1, 4, 5.0f, 1.0f);
    add_fragment(zb, 1, 4, 2, 9.0f, kWhite);
    const std::string path = file(".iff");
    EXPECT_EQ(captured([&] { cam_.render_z(path.c_str()); }), "");
    EXPECT_EQ(read_iff(path).depth, (std::vector<float>{-1.0f / 4.0f, 0.0f, -1.0f / 5.0f}));
}

TEST_F(OutputPasses, AtmosphereImageFogsHairAndGeometry) {
    hair_atmos atmos;
    ASSERT_EQ(atmosdb_init(&atmos), 1);
    hair_zbuffer& zb = camera(1, 3);
    add_fragment(zb, 0, 0, 1, 500.0f, kWhite);
    add_geometry(zb, 0, 1, 1000.0f, 1.0f);
    const std::string path = file(".rla");
    cam_.render_atm(path.c_str());
    EXPECT_EQ(read_rla(path), (Bytes{128, 128, 128, 128, 255, 255, 255, 255, 0, 0, 0, 0, 4}));
    atmos.transparency_param = hp_scalar(1.0f);
    cam_.render_atm(path.c_str());
    EXPECT_EQ(read_rla(path), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4}));
}

// The atmosphere's parameters vary over the image with u = column ÷
// columns and v = row ÷ rows of the sub-pixel samples: a fog whose start
// is noise gives each output pixel the mean of its samples' fog.
TEST_F(OutputPasses, AtmosphereIsEvaluatedAtEachSamplesImagePosition) {
    hair_atmos atmos;
    ASSERT_TRUE(atmos.start_param.set_noise(5.0f, 0.0f, 700.0f));
    ASSERT_EQ(atmosdb_init(&atmos), 1);
    defs.subpixel_factor = 2;
    hair_zbuffer& zb = camera(2, 3);
    for (int i = 0; i < 4 * 6; ++i) add_fragment(zb, i / 6, i % 6, 1 + i, 800.0f, kWhite);
    const std::string path = file(".rla");
    cam_.render_atm(path.c_str());
    const Bytes got = read_rla(path);
    const float depth = 800.0f, weight = 1.0f;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) {
                atmosdb_init_eval((2 * c + k % 2) / 6.0, (2 * r + k / 2) / 4.0);
                sum += atmosdb_eval(1, &depth, &weight, 0, 0).a;
            }
            EXPECT_NEAR(got[4 * (3 * r + c) + 3], sum * 255 / 4, 0.51f) << c << "," << r;
        }
}

TEST_F(OutputPasses, AnOutputLargerThanTheZbufferIsRefused) {
    const std::string path = file(".img");
    Bytes memory(3);
    EXPECT_EQ(captured([&] {
                  cam_.render(path.c_str());
                  cam_.debug_pixels();
                  EXPECT_EQ(cam_.render_rgba(memory), 0);
              }),
              "ERROR: render: the camera has no z-buffer\n"
              "ERROR: debug_pixels: the camera has no z-buffer\n"
              "ERROR: render_rgba: the camera has no z-buffer\n");
    EXPECT_TRUE(memory.empty());

    camera(4, 4);
    defs.image_cols = 5;
    const std::string out = captured([&] {
        cam_.render(path.c_str());
        cam_.render_z(path.c_str());
        cam_.render_zbuff(path.c_str());
        cam_.render_atm(path.c_str());
        defs.image_cols = 4;
        defs.subpixel_factor = 2;
        cam_.render(path.c_str());
    });
    EXPECT_EQ(out.rfind("ERROR: render: an output of 5 x 4 pixels at sub-pixel factor 1 does not "
                        "fit the z-buffer of 4 x 4 samples\n",
                        0),
              0u)
        << out;
    for (const char* pass : {"render_z:", "render_zbuff:", "render_atm:", "factor 2"})
        EXPECT_NE(out.find(pass), std::string::npos) << pass;
    EXPECT_FALSE(exists(path));
}

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
