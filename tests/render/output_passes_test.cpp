// The atmosphere's fog, and the output passes (pictures, depth and
// atmosphere) read back through the image libraries.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "imagefile/iff_image.h"
#include "imagefile/image_file.h"
#include "foundation/noise.h"
#include "host/random48.h"
#include "render/atmosphere.h"
#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using Bytes = std::vector<unsigned char>;

namespace {

const kivColor kWhite(1, 1, 1, 1);

// No atmosphere is defined before or after each test.
class Atmosphere : public render_test::SettingsTest {
  protected:
    void SetUp() override { atmosdb_done(); }
    void TearDown() override { atmosdb_done(); }
    hair_atmos atmos_;
};

// A camera whose z-buffer covers an output of lines × cols pixels; the
// files it names are removed afterwards.
class OutputPasses : public Atmosphere {
  protected:
    void SetUp() override {
        Atmosphere::SetUp();
        defs.gamma = 2.2f;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        Atmosphere::TearDown();
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

}  // namespace

// Sub-pixel samples: colours averaged, and the depth the nearest sample's
// where fully covering geometry does not hide the hair.
TEST_F(OutputPasses, SubPixelSamplesAreAveragedAndTheDepthIsTheNearest) {
    defs.subpixel_factor = 2;
    hair_zbuffer& zb = camera(1, 4);
    // Pixel 0: alphas 1, 1, 0, 0, hair at 4 in front of geometry at 10,
    // geometry at 6 elsewhere. Pixel 1: one red sample of four. Pixel 2:
    // hair behind fully covering geometry at 5. Pixel 3: empty.
    add_geometry(zb, 0, 0, 10.0f, 1.0f);
    add_fragment(zb, 0, 0, 1, 4.0f, kWhite);
    add_fragment(zb, 0, 1, 2, 5.0f, kWhite);
    add_geometry(zb, 1, 1, 6.0f, 1.0f);
    add_fragment(zb, 1, 3, 3, 3.0f, kivColor(1, 0, 0, 1));
    add_geometry(zb, 1, 4, 5.0f, 1.0f);
    add_fragment(zb, 1, 4, 4, 9.0f, kWhite);
    const std::string path = file(".iff"), depth = file(".iff");
    cam_.render(path.c_str());
    IffImage img, z;
    ASSERT_TRUE(iff_read_file(path.c_str(), img));
    EXPECT_EQ(img.width * 10 + img.height, 41);
    EXPECT_EQ(img.rgba, (Bytes{128, 128, 128, 128, 64, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0}));
    // The current pixel followed the output pixels.
    EXPECT_EQ(defs.pixel_x * 10 + defs.pixel_y, 30);
    // The image in memory holds the same bytes.
    Bytes memory;
    EXPECT_EQ(cam_.render_rgba(memory), 1);
    EXPECT_EQ(memory, img.rgba);
    EXPECT_EQ(captured([&] { cam_.render_z(depth.c_str()); }), "");
    ASSERT_TRUE(iff_read_file(depth.c_str(), z));
    EXPECT_EQ(z.depth, (std::vector<float>{-1.0f / 4, -1.0f / 3, -1.0f / 5, 0}));
}

// The atmosphere image fogs hair and geometry. Its parameters vary over
// the image with u = column ÷ columns and v = row ÷ rows of the sub-pixel
// samples: a fog whose start is noise gives each output pixel the mean of
// its samples' fog.
TEST_F(OutputPasses, AtmosphereImageFogsEachSampleAtItsImagePosition) {
    ASSERT_EQ(atmosdb_init(&atmos_), 1);
    hair_zbuffer& line = camera(1, 3);
    add_fragment(line, 0, 0, 1, 500.0f, kWhite);
    add_geometry(line, 0, 1, 1000.0f, 1.0f);
    const std::string path = file(".rla");
    cam_.render_atm(path.c_str());
    EXPECT_EQ(read_rla(path), (Bytes{128, 128, 128, 128, 255, 255, 255, 255, 0, 0, 0, 0, 4}));
    atmos_.transparency_param = hp_scalar(1.0f);
    cam_.render_atm(path.c_str());
    EXPECT_EQ(read_rla(path), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4}));

    atmos_.transparency_param = hp_scalar(0.0f);
    ASSERT_TRUE(atmos_.start_param.set_noise(5.0f, 0.0f, 700.0f));
    defs.subpixel_factor = 2;
    hair_zbuffer& zb = camera(2, 3);
    for (int i = 0; i < 4 * 6; ++i) add_fragment(zb, i / 6, i % 6, 1 + i, 800.0f, kWhite);
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

// Every pass refuses a camera without a z-buffer, then an output wider
// than the z-buffer, then one at a sub-pixel factor the z-buffer lacks.
TEST_F(OutputPasses, AnOutputLargerThanTheZbufferIsRefused) {
    const std::string path = file(".img");
    Bytes memory(3);
    std::ostringstream out;
    for (int step = 0; step < 3; ++step) {
        if (step == 1) camera(4, 4), defs.image_cols = 5;
        if (step == 2) defs.image_cols = 4, defs.subpixel_factor = 2;
        out << captured([&] {
            cam_.render(path.c_str());
            cam_.render_z(path.c_str());
            cam_.render_zbuff(path.c_str());
            cam_.render_atm(path.c_str());
            EXPECT_EQ(cam_.render_rgba(memory), 0);
            if (step == 0) cam_.debug_pixels();
        });
    }
    std::ifstream expected(std::string(KORVO_TEST_DATA) + "/render/refused.txt");
    EXPECT_EQ(out.str(), std::string(std::istreambuf_iterator<char>(expected), {}));
    EXPECT_TRUE(memory.empty());
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// Only the first definition counts; its parameters are evaluated with
// random numbers seeded by the position in the image.
TEST_F(Atmosphere, TheFirstDefinitionIsEvaluatedWithTheSeedOfThePosition) {
    EXPECT_EQ(atmosdb_init_eval(0.3, 0.7), 0);
    const float depth = 500.0f, weight = 1.0f;
    EXPECT_EQ(atmosdb_eval(1, &depth, &weight, 800.0f, 1.0f).a, 0.0f);
    EXPECT_EQ(atmosdb_init(nullptr), 0);
    EXPECT_EQ(atmosdb_is_defined(), 0);
    hair_atmos second;
    second.end_param = hp_scalar(5.0f);
    ASSERT_TRUE(atmos_.start_param.set_noise(3.0f, 0.0f, 100.0f));
    EXPECT_EQ(atmosdb_init(&atmos_), 1);
    EXPECT_EQ(captured([&] { EXPECT_EQ(atmosdb_init(&second), 0); }),
              "WARNING: atmosphere already defined, ignoring subsequent def.\n");
    ASSERT_EQ(atmosdb_init_eval(0.5, 0.25), 1);
    EXPECT_EQ(atmos_.end, 1000.0f);
    EXPECT_EQ(second.end, 1000.0f);
    const float at_first = atmos_.start;
    // The seed is the integer part of 0.5 × 213 + 0.25 × 501 = 231.75.
    korvo_host::srand48(231);
    const double n =
        noise3(kivVector(1.5f, 0.75f, static_cast<float>(3.0 * korvo_host::drand48())));
    EXPECT_NEAR(at_first, 100.0 * (n + 1.0) / 2.0, 1e-4);
    ASSERT_EQ(atmosdb_init_eval(0.9, 0.1), 1);
    EXPECT_NE(atmos_.start, at_first);
}

TEST_F(Atmosphere, FogOfOneSubPixel) {
    struct Case {
        float start, end, transparency;
        int n;
        float depths[2], weights[2], bg_depth, bg_weight;
        float fog;
    };
    const Case cases[] = {
        {0, 1000, 0, 1, {500}, {1}, 0, 0, 0.5f},              // half way
        {0, 1000, 0, 1, {-3}, {1}, 0, 0, 0.0f},               // before start
        {0, 1000, 0, 2, {1000, 500}, {1, 1}, 1000, 1, 1.0f},  // full: the rest adds nothing
        {0, 1000, 0, 2, {500, 0}, {0.5f, 0.5f}, 0, 1, 0.25f},
        {0, 1000, 0, 2, {500, 0}, {0.25f, 0.25f}, 1000, 0.8f, 0.125f + 0.5f * 0.8f},
        {0, 1000, 0, 0, {}, {}, 0, 1, 0.0f},  // no background without its depth
        {0, 1000, 0, 0, {}, {}, 500, 0.5f, 0.25f},
        {100, 100, 0, 1, {100}, {1}, 0, 0, 0.0f},  // equal ends: clear up to start
        {100, 100, 0, 1, {100.5f}, {1}, 0, 0, 1.0f},
        {0, 1000, 0.25f, 1, {800}, {1}, 0, 0, 0.6f},  // transparency thins the fog
        {-50, -10, 0, 1, {1}, {1}, 0, 0, 1.0f},       // negative ends are 0
    };
    ASSERT_EQ(atmosdb_init(&atmos_), 1);
    atmos_.color_param = hp_color(kivColor(0.2f, 0.4f, 0.6f, 0.1f));
    for (const Case& c : cases) {
        atmos_.start_param = hp_scalar(c.start);
        atmos_.end_param = hp_scalar(c.end);
        atmos_.transparency_param = hp_scalar(c.transparency);
        ASSERT_EQ(atmosdb_init_eval(0.5, 0.5), 1);
        const kivColor got = atmosdb_eval(c.n, c.depths, c.weights, c.bg_depth, c.bg_weight);
        EXPECT_FLOAT_EQ(got.a, c.fog) << &c - cases;
        // Premultiplied by its own alpha; the colour's alpha is not used.
        EXPECT_FLOAT_EQ(got.r, 0.2f * c.fog) << &c - cases;
        EXPECT_FLOAT_EQ(got.b, 0.6f * c.fog) << &c - cases;
    }
    // A background depth that is not a number is not 0: its ramp spoils the fog.
    EXPECT_TRUE(std::isnan(atmosdb_eval(0, nullptr, nullptr, std::nanf(""), 1.0f).a));
}
