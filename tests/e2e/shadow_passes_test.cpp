// furrender's shadow passes on the shade scene of tests/data/e2e: a plate
// floating above a lawn under a shadow-mapped spot light.
#include "e2e/e2e_support.h"
#include "render/shadow_map_file.h"
#include "test_support.h"

namespace {

// Runs furrender on the shade scene in dir with more arguments.
run_result shade(const std::string& dir, const std::string& args,
                 const std::string& hair = kData + "shade.hair") {
    return run_in(dir, "furrender", scene("shade", "shade", hair) + "--quiet " + args);
}

}  // namespace

// The plate's shadow darkens the grass under it and nothing else; the map
// left in --shadow-dir parses and, reused, gives the same picture.
TEST(ShadowPasses, ShadowDarkensOnlyUnderTheBlockerAndMapsAreReused) {
    const scratch d;
    ASSERT_EQ(shade(d.dir, "--no-shadows --out lit.png").status, 0);
    const auto made = shade(d.dir, "--shadow-dir maps --out shaded.png");
    ASSERT_EQ(made.status, 0) << made.err;

    const std::vector<unsigned char> a = read_png(d / "lit.png").rgba,
                                     b = read_png(d / "shaded.png").rgba;
    ASSERT_EQ(a.size(), b.size());
    int darker = 0, lighter = 0, same = 0;
    for (std::size_t i = 0; i < a.size(); i += 4) {
        if (b[i + 3] != a[i + 3]) ++lighter;  // coverage never changes
        if (b[i + 1] + 10 < a[i + 1]) ++darker;
        if (b[i + 1] > a[i + 1]) ++lighter;
        if (a[i + 3] > 0 && b[i + 1] == a[i + 1]) ++same;
    }
    EXPECT_GT(darker, 200) << "the plate's shadow on the grass";
    EXPECT_EQ(lighter, 0);
    EXPECT_GT(same, 2 * darker) << "the grass outside the shadow is untouched";

    // The map is where the options say and reads back as the light's square map.
    const std::string map_path = d / "maps/shade_sun.0001.smap";
    ShadowMap map{-1, 0, 0, 0.0f, {nullptr, nullptr, nullptr, nullptr}};
    ASSERT_EQ(captured([&] { EXPECT_EQ(smOpen(map_path.c_str(), &map), 1); }), "");
    EXPECT_TRUE(map.lines == 128 && map.cols == 128 && map.encoding == 1);
    int plate = 0;
    for (int i = 0; i < 128 * 128; ++i)
        plate += map.maps[SMAP_GEO_DEPTH][i] > 0.0f && map.maps[SMAP_GEO_DEPTH][i] < 5.0f;
    EXPECT_GT(plate, 100) << "the plate lies 4.5 below the light";
    smClose(&map);

    // The debug picture of the map goes to the working folder: the plate in
    // red (geometry depth) and green (its coverage), no hair opacity.
    ASSERT_EQ(shade(d.dir, "--shadow-debug --out debug.png").status, 0);
    const picture debug = read_rla(d / "shadowmap_sun.0001.rla");
    ASSERT_TRUE(debug.width == 128 && debug.height == 128);
    int red = 0, matte = 0;
    for (std::size_t i = 0; i < debug.rgba.size(); i += 4) {
        red += debug.rgba[i] > 0 && debug.rgba[i + 1] > 0;
        matte += debug.rgba[i + 3] > 0;
    }
    EXPECT_GT(red, 100);
    EXPECT_EQ(matte, 0) << "the grass casts no shadow";
    // Reused, or made in a folder removed at exit, the maps give the same picture.
    for (const char* args :
         {"--shadow-dir maps --reuse-shadows --out reused.png", "--out reused.png"}) {
        const auto again = shade(d.dir, args);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(slurp(d / "reused.png"), slurp(d / "shaded.png")) << args;
    }
}

TEST(ShadowPasses, FailuresNameTheirCause) {
    const scratch d;
    std::ofstream(d / "moon.hair")
        << slurp(kData + "shade.hair") << "light \"moon\" { shadow_type = 0 ; }\n";
    std::filesystem::create_directories(d / "empty"),
        std::filesystem::create_directories(d / "bad");
    std::filesystem::copy(KORVO_TEST_DATA "/render/broken/run_overrun.smap",
                          d / "bad/shade_sun.0001.smap");
    const struct {
        std::string args;
        int status;
        std::string message, hair = kData + "shade.hair";
    } cases[] = {
        {"--reuse-shadows --shadow-dir empty", 1,
         "cannot open the shadow map \"empty/shade_sun.0001.smap\""},
        {"--reuse-shadows", 2, "--reuse-shadows needs --shadow-dir"},
        {"--no-shadows --shadow-debug", 2, "--no-shadows"},
        {"--shadow-dir /no/such/folder", 1, "cannot make the shadow folder"},
        {"", 1, "shadows light \"moon\", which the scene of frame 1 lacks", "moon.hair"},
        {"--reuse-shadows --shadow-dir bad", 1, "Bytes mis-matched in SHADOW rle buffer."},
    };
    for (const auto& c : cases) {
        const auto r = shade(d.dir, c.args + " --out x.png", c.hair);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(d / "x.png")) << "no failed run leaves a picture";
}
