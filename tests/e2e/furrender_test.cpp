// End-to-end tests: furrender run as a program on the small scenes of
// tests/data/e2e (see the README there), its pictures read back.
#include "e2e/e2e_support.h"
#include "imagefile/iff_image.h"
#include "test_support.h"

#include <tuple>

namespace {

// Runs furrender in dir, expecting silence.
void run_ok(const std::string& args, const std::string& dir) {
    const run_result r = run_in(dir, "furrender", args + " --quiet");
    ASSERT_EQ(r.status, 0) << args << "\n" << r.err;
    EXPECT_EQ(r.out + r.err, "");
}

}  // namespace

// Each scene matches its stored picture (see the tolerance below) and comes
// out byte for byte the same on a second run. KORVO_UPDATE_REFERENCES=1
// stores the pictures as the new references.
TEST(FurRender, PicturesMatchTheirReferencesAndRepeatExactly) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"ball", "--subpixel 2", "ball.png"},
        {"hidden", "", "hidden.png"},
        {"ball", "--subpixel 2 --motion-blur --close-scene " + kData + "ball_close",
         "ball_blur.png"},
        {"hidden", "--motion-blur", "hidden_blur.png"},
    };
    for (const auto& [name, options, reference] : cases) {
        const scratch d;
        for (const char* out : {"1.png", "2.png"})
            run_ok(scene(name) + options + " --out " + out, d.dir);
        EXPECT_EQ(slurp(d / "1.png"), slurp(d / "2.png")) << name;
        if (std::getenv("KORVO_UPDATE_REFERENCES"))
            std::ofstream(kData + reference, std::ios::binary) << slurp(d / "1.png");

        const picture got = read_png(d / "1.png"), want = read_png(kData + reference);
        ASSERT_TRUE(got.width == want.width && got.height == want.height) << name;
        // Release and sanitizer builds draw the same bytes; a few pixels one
        // level off leave room for another compiler. A bent joint drawn
        // without its mitre moves hundreds of pixels by more than a level.
        EXPECT_LE(pixels_off(got, want, 1), 16) << name;
        EXPECT_LE(pixels_off(got, want, 0), 160) << name;
    }
}

// The lawn's grass grows towards a bare wall in front of it: where the
// geometry picture shows the wall, the hair image is empty and the depth
// image holds the wall's distance. Left out of the render, the wall hides
// nothing.
TEST(FurRender, HairBehindItsSurfaceStaysHiddenInEveryPass) {
    const scratch d;
    run_ok(scene("hidden") + "--out h.png --depth z.iff --zbuff z.rla", d.dir);
    run_ok(scene("hidden", "nowall") + "--out bare.png", d.dir);
    const picture hair = read_png(d / "h.png"), bare = read_png(d / "bare.png"),
                  geometry = read_rla(d / "z.rla");
    IffImage z;
    ASSERT_TRUE(iff_read_file((d / "z.iff").c_str(), z));
    ASSERT_TRUE(geometry.width == 160 && z.width == 160 && z.depth.size() == 160u * 120u);

    // Pixels wholly inside the wall, the nearest geometry, and its neighbours.
    const auto wall_at = [&geometry](int x, int y) {
        const unsigned char* g = geometry.at(x, y);
        return g[3] == 255 && g[0] < 40;
    };
    int wall = 0, lawn = 0, seen_without_wall = 0;
    for (int y = 1; y < 119; ++y) {
        for (int x = 1; x < 159; ++x) {
            const float depth = z.depth[y * 160 + x];
            if (wall_at(x, y) && wall_at(x - 1, y - 1) && wall_at(x + 1, y + 1) &&
                wall_at(x - 1, y + 1) && wall_at(x + 1, y - 1)) {
                ++wall;
                EXPECT_EQ(hair.at(x, y)[3], 0) << x << ", " << y;
                EXPECT_TRUE(depth < -1 / 6.3f && depth > -1 / 5.99f) << depth;
                seen_without_wall += bare.at(x, y)[3] > 0;
            } else if (geometry.at(x, y)[3] == 255 && geometry.at(x, y)[0] > 150) {
                ++lawn;  // its grass is nearer than the lawn
                EXPECT_TRUE(depth < -1 / 8.0f && depth > -1 / 6.3f) << depth;
            }
        }
    }
    // The wall covers about 55 x 41 pixels; the grass shows there without it.
    EXPECT_NEAR(wall, 53 * 39, 150);
    EXPECT_GT(lawn, 4000);
    EXPECT_GT(seen_without_wall, wall / 2);
}

// Frame patterns, the crop window, the background, the other formats and
// motion blur of the hidden scene, whose wall moves right between frames 1
// and 2.
TEST(FurRender, FramesCropBackgroundFormatsAndBlur) {
    const scratch d;
    for (const char* args : {"--frames 1-2 --out f.#.png", "--crop 20,10,139,99 --out crop.png",
                             "--background 1,0.5,0 --out flat.png", "--out f.iff", "--out f.rla"})
        run_ok(scene("hidden") + args, d.dir);
    run_ok(scene("hidden") + "--motion-blur --close-scene " + kData + "hidden --out same.png",
           d.dir);
    const picture whole = read_png(d / "f.1.png"), part = read_png(d / "crop.png"),
                  over = read_png(d / "flat.png"), reference = read_png(kData + "hidden.png");
    EXPECT_LE(pixels_off(whole, reference, 1), 16) << "frame 1 of a pattern is the still frame";
    ASSERT_TRUE(part.width == 120 && part.height == 90);
    // Hairs cut at the crop window's edges may differ a little there.
    EXPECT_LE(pixels_off(part, whole, 3, 20, 10), 20);
    // Straight colour c with alpha a over the background b gives c a + b (1 - a);
    // the IFF and the RLA hold the premultiplied colour.
    IffImage premultiplied;
    ASSERT_TRUE(iff_read_file((d / "f.iff").c_str(), premultiplied));
    const picture rla_image = read_rla(d / "f.rla");
    ASSERT_EQ(rla_image.rgba.size(), whole.rgba.size());
    const float background[3] = {255, 127.5f, 0};
    for (std::size_t i = 0; i < whole.rgba.size(); i += 4) {
        const int a = whole.rgba[i + 3];
        ASSERT_EQ(over.rgba[i + 3], 255);
        ASSERT_EQ(premultiplied.rgba[i + 3], a);
        ASSERT_TRUE(std::equal(&rla_image.rgba[i], &rla_image.rgba[i + 4], &premultiplied.rgba[i]))
            << "the RLA holds the IFF's pixels, pixel " << i / 4;
        for (int c = 0; c < 3; ++c) {
            ASSERT_NEAR(premultiplied.rgba[i + c], whole.rgba[i + c] * a / 255.0f, 1.0f);
            ASSERT_NEAR(over.rgba[i + c],
                        premultiplied.rgba[i + c] + background[c] * (1 - a / 255.0f), 1.0f);
        }
    }
    // Blurred from frame 1 to frame 2 (the stored picture), grass that the
    // wall hides at frame 1 and shows at frame 2 appears with part of its
    // alpha; grass that both frames show keeps it.
    const picture b = read_png(d / "f.2.png"), m = read_png(kData + "hidden_blur.png");
    int revealed = 0, partial = 0, kept = 0, both = 0;
    for (int y = 0; y < whole.height; ++y) {
        for (int x = 0; x < whole.width; ++x) {
            const int a0 = whole.at(x, y)[3], a1 = b.at(x, y)[3], am = m.at(x, y)[3];
            if (a0 == 0 && a1 > 200) {
                ++revealed;
                partial += am > 10 && am < a1 - 10;
            } else if (a0 > 200 && a1 > 200) {
                ++both;
                kept += std::abs(am - a0) <= 16;
            }
        }
    }
    EXPECT_TRUE(revealed > 100 && partial > revealed * 8 / 10) << partial << " of " << revealed;
    EXPECT_TRUE(both > 1000 && kept > both * 9 / 10) << kept << " of " << both;
    // A still scene blurs to the still picture, but for the pixels along the
    // wall's edges: with time slices, geometry hides what lies behind it in
    // the slices it touches, whatever part of the pixel it covers.
    EXPECT_LE(pixels_off(read_png(d / "same.png"), whole, 3), 100);
}

// Statuses and what is printed (furrender_exits.txt): 1 for unreadable
// input and library failures, naming the file; 2 and the usage for a bad
// command line.
TEST(FurRender, ExitStatusesAndMessages) {
    const scratch d;
    std::ifstream table(kData + "furrender_exits.txt");
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        for (const auto& [key, value] :
             {std::pair<std::string, std::string>{"$DATA", kData}, {"$HIDDEN", scene("hidden")}})
            for (std::size_t at; (at = line.find(key)) != std::string::npos;)
                line.replace(at, key.size(), value);
        const std::size_t bar = line.find('|', 2);
        const std::string args = line.substr(2, bar - 2), printed = line.substr(bar + 1);
        const int status = line[0] - '0';
        const run_result r = run_in(d.dir, "furrender", args);
        ++cases;
        EXPECT_EQ(r.status, status) << args << "\n" << r.err;
        const std::string& text = status == 0 ? r.out : r.err;
        EXPECT_NE(text.find(printed), std::string::npos) << args << "\n" << text;
        EXPECT_TRUE(status != 2 || r.err.find("usage: furrender") != std::string::npos) << args;
    }
    EXPECT_EQ(cases, 15);
    EXPECT_FALSE(std::filesystem::exists(d / "x.png")) << "no failed run leaves a picture";
}
