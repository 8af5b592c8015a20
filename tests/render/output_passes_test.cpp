// The output passes: pictures, depth and atmosphere, read back through
// the image libraries.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "imagefile/iff_image.h"
#include "imagefile/image_file.h"
#include "render/atmosphere.h"
#include "render/camera.h"
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
