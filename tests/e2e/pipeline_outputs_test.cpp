// End-to-end tests of the outputs for other programs: OpenEXR and deep
// OpenEXR images, curve files and the shaded surfaces, from furrender run
// as a program on the ball scene of tests/data/e2e.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "exr_support.h"
#include "imagefile/png_file.h"
#include "test_support.h"

namespace {

const std::string kData = std::string(KORVO_TEST_DATA) + "/e2e/";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct run_result {
    int status;
    std::string out, err;
};

run_result furrender(const std::string& args) {
    const std::string out = temp_path(".stdout"), err = temp_path(".stderr");
    const std::string command = std::string(KORVO_BIN_DIR) + "/furrender --hair " + kData +
                                "fur.hair --assign " + kData + "fur.assign --scene " + kData +
                                "ball --size 160x120 " + args + " >" + out + " 2>" + err;
    const int s = std::system(command.c_str());
    run_result r{WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(out), slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

// Files named for the test and removed after it.
class Pipeline : public testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }

  private:
    std::vector<std::string> files_;
};

}  // namespace

// The crop of an .exr render is its data window inside the whole image;
// the deep image of the same render flattens to it; the curves are the
// hairs the render drew.
TEST_F(Pipeline, ExrDeepAndCurvesOfOneRenderAgree) {
    const std::string flat = file(".exr"), deep = file(".deep.exr"), curves = file(".usda");
    const run_result r = furrender("--subpixel 2 --crop 30,20,120,100 --near 1 --far 20 --out " +
                                   flat + " --deep " + deep + " --export-curves " + curves);
    ASSERT_EQ(r.status, 0) << r.err;

    const exr_test::flat f = exr_test::read_flat(flat);
    EXPECT_TRUE(f.win.display_w == 160 && f.win.display_h == 120);
    EXPECT_TRUE(f.win.x0 == 30 && f.win.x1 == 120 && f.win.y0 == 19 && f.win.y1 == 99);
    EXPECT_EQ(f.types.count("Z"), 1u);
    const exr_test::flat g = exr_test::composite_deep(deep);
    const exr_test::deep d = exr_test::read_deep(deep);
    int hair = 0;
    for (int y = 20; y <= 100; ++y)
        for (int x = 30; x <= 120; ++x) {
            for (const char* c : {"R", "G", "B", "A"})
                ASSERT_NEAR(g.at(c, x, y), f.at(c, x, y), 1.0f / 255.0f) << c << x << "," << y;
            hair += f.at("A", x, y) > 0.0f;
            // No hair, no samples; with hair, a depth in the Z channel.
            ASSERT_EQ(d.at(x, y).empty(), f.at("A", x, y) == 0.0f) << x << "," << y;
            if (f.at("A", x, y) > 0.0f) ASSERT_GT(f.at("Z", x, y), 1.0f);
        }
    EXPECT_GT(hair, 1000);

    // One curve per hair the library reports drawn, counts and points consistent.
    const std::size_t at = r.out.find("--- rendered ");
    ASSERT_NE(at, std::string::npos);
    const long drawn = std::atol(r.out.c_str() + at + 13);
    const std::string text = slurp(curves);
    const std::size_t open = text.find("curveVertexCounts = [") + 21;
    const std::string counts = text.substr(open, text.find(']', open) - open);
    long curves_n = 0, points_n = 0;
    for (const char* p = counts.c_str(); *p;) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p) break;
        ++curves_n, points_n += n;
        p = *end == ',' ? end + 1 : end;
    }
    EXPECT_EQ(curves_n, drawn);
    const std::size_t pts = text.find("points = [");
    long tuples = 0;
    const std::size_t end = text.find(']', pts);
    for (std::size_t i = pts; i < end; ++i) tuples += text[i] == '(';
    EXPECT_EQ(tuples, points_n);
}

// --surfaces fills the ball's outline with its shaded surface under the
// hair, and a surface colour tints what shows of it.
TEST_F(Pipeline, SurfacesFillTheBallUnderTheHair) {
    const std::string bare = file(".png"), shaded = file("_s.png"), red = file("_r.png");
    ASSERT_EQ(furrender("--quiet --out " + bare).status, 0);
    ASSERT_EQ(furrender("--quiet --surfaces --out " + shaded).status, 0);
    ASSERT_EQ(furrender("--quiet --surfaces --surface-color ball=1,0,0 --out " + red).status, 0);
    std::vector<unsigned char> a, b, c;
    int w = 0, h = 0;
    for (auto* p : {&a, &b, &c}) {
        const std::string bytes = slurp(p == &a ? bare : p == &b ? shaded : red);
        ASSERT_TRUE(png_read_rgba(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size(), w, h, *p));
    }
    int opaque_bare = 0, opaque_shaded = 0, redder = 0;
    for (int i = 0; i < w * h; ++i) {
        opaque_bare += a[i * 4 + 3] == 255;
        opaque_shaded += b[i * 4 + 3] == 255;
        redder += c[i * 4] > b[i * 4] + 8 && c[i * 4 + 2] + 8 < b[i * 4 + 2];
        // The surface only adds coverage.
        ASSERT_GE(b[i * 4 + 3] + 1, a[i * 4 + 3]) << i;
    }
    EXPECT_GT(opaque_shaded, opaque_bare + 500);
    EXPECT_GT(redder, 100);
}

TEST_F(Pipeline, OptionsOfTheNewOutputsAreChecked) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"--deep d.png", "furrender: --deep: the deep image must end in .exr: d.png\n"},
        {"--export-curves c.abc",
         "furrender: --export-curves: the curve file must end in .usda or .obj: c.abc\n"},
        {"--surfaces --out x.rla", "furrender: --surfaces shades a .png or .exr hair image only\n"},
        {"--surface-color ball=1,0,0 --out x.png", "furrender: --surface-color needs --surfaces\n"},
        {"--surfaces --surface-color ball=1,0 --out x.png",
         "furrender: --surface-color: bad value \"ball=1,0\"\n"},
        {"--frames 1-2 --deep d.exr",
         "furrender: several frames need a frame number in every output name (# or %04d): d.exr\n"},
    };
    for (const auto& c : cases) {
        const run_result r = furrender(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message) << c.args;
    }
}
