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

// A z-buffer of 32 × 24 output pixels at sub-pixel factor 2 filled with
// seeded random hair fragments (more than a list of three holds, so the
// overflows take part) and random geometry; what each output pixel was
// given is kept for the checks.
class ExrOutput : public render_test::RasterTest {
  protected:
    static constexpr int kCols = 32, kLines = 24, kF = 2;

    void SetUp() override {
        RasterTest::SetUp();
        defs.subpixel_factor = kF;
        defs.list_size = 3;
        defs.image_cols = kCols;
        defs.image_lines = kLines;
        cam_.set_image_params(kLines, kCols, cam_window(), zcalc());
        ASSERT_EQ(cam_.init_zbuffer(), 1);
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        RasterTest::TearDown();
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }

    // Fills every sample; nearest_[pixel] is the nearest depth given to the
    // pixel's samples (0 for none), has_hair_[pixel] whether any fragment
    // went there.
    void fill(unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        nearest_.assign(kLines * kCols, 0.0f), has_hair_.assign(kLines * kCols, false);
        for (int i = 0, id = 1; i < kLines * kCols * kF * kF; ++i) {
            const int r = i / (kCols * kF), c = i % (kCols * kF), pixel = r / kF * kCols + c / kF;
            auto note = [&](float z) {
                nearest_[pixel] = nearest_[pixel] == 0 ? z : std::min(nearest_[pixel], z);
            };
            if (pixel == 0) continue;  // empty; pixel 1 holds hair behind full geometry
            if (pixel == 1 || u(rng) < 0.4f) {
                const float z = pixel == 1 ? 5.0f : 2.0f + 20.0f * u(rng);
                render_test::add_geometry(zb(), r, c, z, pixel == 1 ? 1.0f : 0.3f + 0.7f * u(rng)),
                    note(z);
            }
            for (int k = 0, n = pixel == 1 ? 1 : int(u(rng) * 9.0f); k < n; ++k) {
                const float z = pixel == 1 ? 8.0f : 1.0f + 25.0f * u(rng);
                defs.hair_id = id++, defs.hair_random = u(rng);
                zb().add_hair(*zb().cell(r, c), 0.2f + 0.8f * u(rng),
                              kivColor(u(rng), u(rng), u(rng), 0.2f + 0.8f * u(rng)), z, ~0u);
                note(z), has_hair_[pixel] = pixel != 1;
            }
        }
    }
    // The resolved colour of output pixel (c, r): the mean of its samples.
    kivColor resolved(int c, int r) {
        kivColor sum;
        for (int y = r * kF; y < r * kF + kF; ++y)
            for (int x = c * kF; x < c * kF + kF; ++x) sum += zb().resolve_color(zb().record(y, x));
        return sum * (1.0f / (kF * kF));
    }
    std::vector<float> nearest_;
    std::vector<bool> has_hair_;

  private:
    std::vector<std::string> files_;
};

TEST_F(ExrOutput, FlatFileHoldsTheResolvedPixelsAndDepthInItsWindows) {
    fill(7);
    // The output pixels are the crop 5,4 … 36,27 of a 40 × 30 image.
    exr_frame fr;
    fr.windows = exr_windows::whole(40, 30);
    fr.windows.data = {5, 4, 36, 27};
    fr.origin_x = 5, fr.origin_y = 4;
    const std::string path = file(".exr");
    ASSERT_EQ(render_exr(cam_, path.c_str(), fr, true, nullptr), 1);

    const exr_test::flat f = exr_test::read_flat(path);
    EXPECT_EQ(f.types, (std::map<std::string, exr_test::imf::PixelType>{
                           {"R", HALF}, {"G", HALF}, {"B", HALF}, {"A", HALF}, {"Z", FLOAT}}));
    EXPECT_TRUE(f.win.display_w == 40 && f.win.display_h == 30 && f.win.x0 == 5 && f.win.x1 == 36 &&
                f.win.y0 == 2 && f.win.y1 == 25);
    for (int r = 0; r < kLines; ++r)
        for (int c = 0; c < kCols; ++c) {
            expect_pixel(f, c + 5, r + 4, resolved(c, r), 1e-3f);
            ASSERT_FLOAT_EQ(f.at("Z", c + 5, r + 4), nearest_[r * kCols + c]) << c << "," << r;
        }
    // A window outside the z-buffer is refused.
    fr.windows.data = {5, 4, 37, 27};
    EXPECT_NE(captured([&] {
                  EXPECT_EQ(render_exr(cam_, path.c_str(), fr, false, nullptr), 0);
              }).find("ERROR: render_exr"),
              std::string::npos);
}

TEST_F(ExrOutput, DeepImageFlattensToTheFlatPicture) {
    for (int mode : {0, 1, 3}) {
        defs.merge_mode = mode;
        cam_.clear_arr();
        fill(11 + mode);
        const exr_frame fr = exr_frame::whole_output();
        const std::string flat_path = file(".exr"), deep_path = file(".deep.exr");
        ASSERT_EQ(render_exr(cam_, flat_path.c_str(), fr, false, nullptr), 1);
        ASSERT_EQ(render_deep_exr(cam_, deep_path.c_str(), fr, nullptr), 1);

        // No hair, no samples (hair hidden by geometry leaves none either);
        // the samples are points sorted by depth.
        const exr_test::deep d = exr_test::read_deep(deep_path);
        EXPECT_EQ(d.types.size(), 6u);
        for (int i = 0; i < kLines * kCols; ++i) {
            const std::vector<exr_test::sample>& s = d.at(i % kCols, i / kCols);
            ASSERT_TRUE(has_hair_[i] || s.empty()) << i;
            for (std::size_t k = 0; k < s.size(); ++k)
                ASSERT_TRUE(s[k].z == s[k].zback && (k == 0 || s[k - 1].z < s[k].z)) << i;
        }
        EXPECT_TRUE(d.at(0, 0).empty() && d.at(1, 0).empty());
        // The library's own flattening gives the flat picture.
        const exr_test::flat f = exr_test::read_flat(flat_path);
        const exr_test::flat g = exr_test::composite_deep(deep_path);
        for (int r = 0; r < kLines; ++r)
            for (int c = 0; c < kCols; ++c)
                for (const char* ch : {"R", "G", "B", "A"})
                    ASSERT_NEAR(g.at(ch, c, r), f.at(ch, c, r), 1.0f / 255.0f)
                        << "mode " << mode << " " << ch << " " << c << "," << r;
    }
}

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
    // The deep image with the surface flattens to the same picture.
    ASSERT_EQ(render_deep_exr(cam_, deep.c_str(), exr_frame::whole_output(), &layer), 1);
    const exr_test::flat g = exr_test::composite_deep(deep);
    for (int i = 0; i < 48 * 64; ++i)
        for (const char* ch : {"R", "G", "B", "A"})
            ASSERT_NEAR(g.at(ch, i % 64, i / 64), f.at(ch, i % 64, i / 64), 1.0f / 255.0f)
                << ch << i;
}

}  // namespace
