// furrender --threads and --tile, and furtool assemble, run as programs on
// the scenes of tests/data/e2e: the hair drawn by several worker processes,
// or by separate runs of bands joined afterwards, must give the very bytes
// of one process's files, for every kind of output.
#include <algorithm>

#include "e2e/e2e_support.h"
#include "test_support.h"

namespace {

// Renders the same frame with 1, 2 and 3 processes, each into its own
// folder, and expects every named output file to be the same bytes, and
// to hold a picture (not just a header: `least` bytes).
void expect_same_with_threads(const std::string& args, const std::vector<std::string>& files,
                              std::size_t least = 1000) {
    std::vector<std::string> one;
    for (int threads : {1, 2, 3}) {
        const scratch dir;
        const run_result r =
            run_in(dir.dir, "furrender", args + " --quiet --threads " + std::to_string(threads));
        ASSERT_EQ(0, r.status) << args << "\n" << r.err;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string bytes = slurp(dir / files[i]);
            if (threads == 1) {
                EXPECT_GT(bytes.size(), least) << files[i];
                one.push_back(bytes);
            } else {
                EXPECT_TRUE(bytes == one[i])
                    << files[i] << " with --threads " << threads << ": " << args;
            }
        }
    }
}

TEST(Threads, EveryOutputOfAStillFrameMatchesOneProcess) {
    expect_same_with_threads(scene("ball") +
                                 "--subpixel 2 --out hair.png --depth depth.iff "
                                 "--deep deep.exr --zbuff zbuff.rla",
                             {"hair.png", "depth.iff", "deep.exr", "zbuff.rla"});
    expect_same_with_threads(scene("ball") +
                                 "--subpixel 3 --out hair.rla --near 1 --far 100 "
                                 "--merge-mode 1 --list-size 2",
                             {"hair.rla"});
    expect_same_with_threads(
        scene("ball") + "--out hair.iff --depth depth.exr --export-curves c.obj",
        {"hair.iff", "depth.exr", "c.obj"});
}

TEST(Threads, CropsRegionsAndFramesMatchOneProcess) {
    expect_same_with_threads(scene("hidden", "nowall") +
                                 "--frames 1-2 --subpixel 2 --crop 10,10,150,100 "
                                 "--region 20,15,120,90 --out h.#.exr",
                             {"h.1.exr", "h.2.exr"});
}

TEST(Threads, MotionBlurShadowsSurfacesAndFogMatchOneProcess) {
    expect_same_with_threads(scene("ball") + "--subpixel 2 --motion-blur --close-scene " + kData +
                                 "ball_close --out blur.exr --deep deep.exr",
                             {"blur.exr", "deep.exr"});
    // The grass of the shadow scene casting shadows, so that its map holds hair.
    std::string casting = slurp(kData + "shade.hair");
    casting.replace(casting.find("casts_shadows false"), 19, "casts_shadows true");
    const std::string shade_hair = temp_path("_shade.hair");
    std::ofstream(shade_hair) << casting;
    expect_same_with_threads(scene("shade", "shade", shade_hair) +
                                 "--subpixel 2 --surfaces --out shade.png --background 0.2,0.3,0.4 "
                                 "--shadow-dir maps",
                             {"shade.png", "maps/shade_sun.0001.smap"});
    // The bands resolve and encode the map's rows; resolved whole for its
    // debug picture, the map is the same file.
    const scratch banded, whole;
    const std::string args =
        scene("shade", "shade", shade_hair) + "--quiet --shadow-dir m --out s.png";
    ASSERT_EQ(0, run_in(banded.dir, "furrender", args + " --threads 2").status);
    ASSERT_EQ(0, run_in(whole.dir, "furrender", args + " --threads 2 --shadow-debug").status);
    const std::string map = slurp(banded / "m/shade_sun.0001.smap");
    EXPECT_TRUE(map.size() > 1000 && map == slurp(whole / "m/shade_sun.0001.smap"));
    // A plate that casts no shadow still hides hair from the camera: the
    // camera's geometry, drawn in the first band of the map's pass, is drawn
    // under the final render's settings, not the map's.
    std::string kiv = slurp(kData + "shade.0001.kiv");
    kiv.insert(kiv.find("    nb_vertices", kiv.find("\"plate\"")), "    casts_shadows false\n");
    const std::string plate = temp_path("_plate");
    std::ofstream(plate + ".0001.kiv") << kiv;
    expect_same_with_threads("--hair " + shade_hair + " --assign " + kData +
                                 "shade.assign --scene " + plate +
                                 " --size 160x120 --subpixel 2 --surfaces --out p.png",
                             {"p.png"});
    std::remove((plate + ".0001.kiv").c_str());
    std::remove(shade_hair.c_str());
    // The fur with a fog, for the atmosphere pass.
    const std::string fogged = temp_path(".hair");
    std::ofstream(fogged) << slurp(kData + "fur.hair")
                          << "fog {\n z_min = 0 ;\n z_max = 100 ;\n color = <1, 0.5, 0.25> ;\n"
                             " transp = 0.5 ;\n}\n";
    expect_same_with_threads(scene("ball", "fur", fogged) + "--out hair.png --atmos atmos.rla",
                             {"hair.png", "atmos.rla"});
    std::remove(fogged.c_str());
}

// The surfaces are shaded in bands cut by an estimate of where they are,
// the hair drawn in bands cut by where it is, or both in the same bands: with
// a crop, a render region and the motion-blurred hair the files stay those
// of one process.
TEST(Threads, SurfacesAndHairInUnequalBandsMatchOneProcess) {
    const std::string shaded = scene("shade", "shade", kData + "shade.hair") +
                               "--subpixel 2 --surfaces --surface-color ground=0.4,0.3,0.2 ";
    expect_same_with_threads(shaded + "--out s.exr --deep d.exr", {"s.exr", "d.exr"});
    expect_same_with_threads(shaded + "--crop 4,6,150,100 --region 10,2,140,90 --out c.png",
                             {"c.png"});
    // One fork for the surfaces and the hair: each process resolves its rows
    // from the surfaces it shaded; only the first writes the curves.
    expect_same_with_threads(shaded +
                                 "--region 10,2,140,90 --near 1 --far 90 --out s.png "
                                 "--depth z.exr --export-curves h.usda",
                             {"s.png", "z.exr", "h.usda"});
    expect_same_with_threads(scene("hidden", "nowall") +
                                 "--frames 1-1 --subpixel 2 --surfaces --motion-blur "
                                 "--out b.#.exr --deep d.#.exr",
                             {"b.1.exr", "d.1.exr"});
}

// When the pictures are all resolved pixel by pixel (PNG, flat OpenEXR with
// or without Z, OpenEXR depth) the workers resolve their own pixel rows (the
// bands cut on whole pixels): odd sub-pixel factors, straight alpha, crops,
// a region of two pixel rows and blurred frames give one process's files.
TEST(Threads, PicturesResolvedInBandsMatchOneProcess) {
    expect_same_with_threads(scene("shade", "shade", kData + "shade.hair") +
                                 "--subpixel 3 --surfaces --crop 4,6,150,100 --near 1 --far 90 "
                                 "--out s.exr --depth z.exr",
                             {"s.exr", "z.exr"});
    expect_same_with_threads(scene("ball") + "--subpixel 3 --region 10,20,150,100 --out r.png",
                             {"r.png"});
    expect_same_with_threads(scene("ball") + "--subpixel 4 --region 0,50,159,51 --out two.png",
                             {"two.png"}, 500);
    expect_same_with_threads(scene("ball") + "--subpixel 2 --crop 5,7,150,110 --out c.png",
                             {"c.png"});
    expect_same_with_threads(scene("hidden", "nowall") +
                                 "--frames 1-1 --subpixel 2 --motion-blur --surfaces "
                                 "--background 0.3,0.2,0.1 --out b.#.png",
                             {"b.1.png"});
}

// A picture resolved as its surfaces are shaded, a band of rows at a time
// (a frame of several bands, odd sub-pixels, a region), is the picture
// resolved from the whole layer, which a deep image makes every process keep.
TEST(Threads, SurfacesShadedBandByBandGiveTheWholeLayersPicture) {
    const std::string args = scene("shade", "shade", kData + "shade.hair") +
                             "--size 400x300 --subpixel 3 --surfaces --region 7,11,390,280 "
                             "--surface-color ground=0.4,0.3,0.2 --quiet --out s.png";
    const scratch whole;
    ASSERT_EQ(0, run_in(whole.dir, "furrender", args + " --deep d.exr").status);
    const std::string picture = slurp(whole / "s.png");
    EXPECT_GT(picture.size(), 20000u);
    for (const char* threads : {"1", "2"}) {
        const scratch banded;
        ASSERT_EQ(0, run_in(banded.dir, "furrender", args + " --threads " + threads).status);
        EXPECT_TRUE(slurp(banded / "s.png") == picture) << "--threads " << threads;
    }
}

// Where the processor has x86-64 level 3, the loader picks the library's
// copy built for it; the plain copy, which the loader takes when told to
// look no higher than level 2, gives the same bytes.
TEST(Processors, TheLevel3LibraryGivesThePlainLibrarysBytes) {
    const std::string loader = "/lib64/ld-linux-x86-64.so.2";
    const std::string plain = loader + " --glibc-hwcaps-mask x86-64-v2";
    if (!std::filesystem::exists(loader)) GTEST_SKIP() << "no " << loader;
    const scratch d;
    const std::string picked = run_in(d.dir, "furrender", "", loader + " --list").out;
    if (picked.find("/glibc-hwcaps/x86-64-v3/libkorvofur.so") == std::string::npos)
        GTEST_SKIP() << "the level 3 library is not built or not usable here:\n" << picked;
    const std::string fallback = run_in(d.dir, "furrender", "", plain + " --list").out;
    ASSERT_NE(std::string::npos, fallback.find("/lib/libkorvofur.so.0 (")) << fallback;
    ASSERT_EQ(std::string::npos, fallback.find("glibc-hwcaps")) << fallback;

    const std::string shade = scene("shade", "shade", kData + "shade.hair");
    const struct {
        std::string args;
        std::vector<std::string> files;
    } cases[] = {
        {scene("ball") + "--subpixel 3 --out h.png --depth z.exr --deep d.exr --zbuff z.rla",
         {"h.png", "z.exr", "d.exr", "z.rla"}},
        {shade + "--subpixel 2 --surfaces --shadow-dir m --out s.exr --threads 2",
         {"s.exr", "m/shade_sun.0001.smap"}},
        {scene("hidden", "nowall") + "--frames 1-1 --subpixel 2 --motion-blur --surfaces " +
             "--out b.#.png --depth z.#.iff",
         {"b.1.png", "z.1.iff"}},
    };
    for (const auto& c : cases) {
        const scratch level3, baseline;
        ASSERT_EQ(0, run_in(level3.dir, "furrender", c.args + " --quiet").status) << c.args;
        ASSERT_EQ(0, run_in(baseline.dir, "furrender", c.args + " --quiet", plain).status);
        for (const std::string& f : c.files) {
            const std::string bytes = slurp(level3 / f);
            EXPECT_GT(bytes.size(), 500u) << f;
            EXPECT_TRUE(bytes == slurp(baseline / f)) << f << ": " << c.args;
        }
    }
}

TEST(Threads, BadCountsAreRefused) {
    const scratch d;
    const std::string& dir = d.dir;
    const struct {
        std::string args, message;
    } cases[] = {
        {"--threads 0", "--threads: bad value \"0\""},
        {"--threads x", "--threads: bad value \"x\""},
        {"--tile 3/3", "--tile: bad value \"3/3\""},
        {"--tile 1", "--tile: bad value \"1\""},
        {"--tile 0/121", "--tile: more bands than rows of pixels"},
        {"--tile 0/2 --region 10,10,50,50", "--tile and --region do not go together"},
        {"--tile 0/2 --export-curves c.obj",
         "--tile draws part of the hair: --export-curves needs the whole frame"},
    };
    for (const auto& c : cases) {
        const run_result r = run_in(dir, "furrender", scene("ball") + "--out x.png " + c.args);
        EXPECT_EQ(2, r.status) << c.args;
        EXPECT_NE(std::string::npos, r.err.find("furrender: " + c.message)) << c.args << r.err;
    }
}

TEST(Tiles, AssembledBandsAreTheSingleRun) {
    const scratch d;
    const std::string& dir = d.dir;
    const std::string args = scene("ball") + "--subpixel 2 --background 0.1,0.2,0.3 ";
    ASSERT_EQ(0, run_in(dir, "furrender", args + "--out one.png").status);
    std::string bands;
    for (int i = 0; i < 3; ++i) {
        const std::string band = "band" + std::to_string(i) + ".png";
        ASSERT_EQ(
            0, run_in(dir, "furrender", args + "--tile " + std::to_string(i) + "/3 --out " + band)
                   .status);
        bands += " " + band;
    }
    // Each band holds its own rows of the picture and background elsewhere:
    // band 1 of 3 of 120 rows is rows 40 to 79.
    const std::vector<unsigned char> one = read_png(dir + "/one.png").rgba;
    const std::vector<unsigned char> mid = read_png(dir + "/band1.png").rgba;
    ASSERT_EQ(one.size(), mid.size());
    const std::size_t row = 4u * 160;
    EXPECT_TRUE(std::equal(one.begin() + 40 * row, one.begin() + 80 * row, mid.begin() + 40 * row));
    EXPECT_FALSE(std::equal(one.begin(), one.end(), mid.begin()));
    for (std::size_t i = 0; i < 40 * row; i += 4)
        ASSERT_TRUE(mid[i] == 26 && mid[i + 1] == 51 && mid[i + 2] == 77) << "pixel " << i / 4;

    const run_result r = run_in(dir, "furtool", "assemble --out joined.png" + bands);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(slurp(dir + "/one.png") == slurp(dir + "/joined.png"));
    // Bands given out of order make another picture.
    ASSERT_EQ(
        0,
        run_in(dir, "furtool", "assemble --out swapped.png band1.png band0.png band2.png").status);
    EXPECT_FALSE(slurp(dir + "/one.png") == slurp(dir + "/swapped.png"));
}

TEST(Tiles, CroppedOpenExrBandsJoinToTheSingleRun) {
    const scratch d;
    const std::string& dir = d.dir;
    const std::string args =
        scene("ball") + "--subpixel 2 --crop 5,7,150,110 --near 1 --far 100 --threads 2 ";
    ASSERT_EQ(0, run_in(dir, "furrender", args + "--out one.exr --depth one_z.exr").status);
    std::string bands, depths;
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(0, run_in(dir, "furrender",
                            args + "--tile " + n + "/3 --out b" + n + ".exr --depth z" + n + ".exr")
                         .status);
        bands += " b" + n + ".exr";
        depths += " z" + n + ".exr";
    }
    EXPECT_FALSE(slurp(dir + "/one.exr") == slurp(dir + "/b1.exr"));
    ASSERT_EQ(0, run_in(dir, "furtool", "assemble --out joined.exr" + bands).status);
    ASSERT_EQ(0, run_in(dir, "furtool", "assemble --out joined_z.exr" + depths).status);
    EXPECT_TRUE(slurp(dir + "/one.exr") == slurp(dir + "/joined.exr"));
    EXPECT_TRUE(slurp(dir + "/one_z.exr") == slurp(dir + "/joined_z.exr"));
    // A colour band among depth bands does not fit.
    const run_result r = run_in(dir, "furtool", "assemble --out mixed.exr z0.exr b1.exr z2.exr");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.err.find("\"b1.exr\" differs from the first band in size or channels"))
        << r.err;
}

// Every kind of output file, drawn in bands by separate runs and joined,
// is the single run's file: its options and the files they write.
TEST(Tiles, EveryOutputKindJoinsToTheSingleRun) {
    const std::string dir = temp_path("_kinds");
    ::mkdir(dir.c_str(), 0755);
    const std::string args = scene("ball") + "--subpixel 2 --crop 3,4,155,117 ";
    const struct {
        std::string options;
        std::vector<std::string> files;
    } kinds[] = {
        {"--out h.png --background 0.2,0.1,0", {"h.png"}},
        {"--out h.exr --depth z.exr --near 1 --far 90", {"h.exr", "z.exr"}},
        {"--out h.iff --depth z.iff", {"h.iff", "z.iff"}},
        {"--out h.rla --near 1 --far 90 --zbuff g.rla", {"h.rla", "g.rla"}},
        {"--deep d.exr", {"d.exr"}},
    };
    for (const auto& k : kinds) {
        ASSERT_EQ(0, run_in(dir + "/one", "furrender", args + k.options).status) << k.options;
        // Band i's files are named b<i>_<name>.
        for (int i = 0; i < 4; ++i) {
            std::string named = " " + k.options;
            for (const std::string& f : k.files) {
                const std::size_t at = named.find(" " + f);
                named.replace(at, f.size() + 1, " b" + std::to_string(i) + "_" + f);
            }
            ASSERT_EQ(0, run_in(dir + "/bands", "furrender",
                                args + "--tile " + std::to_string(i) + "/4" + named)
                             .status)
                << named;
        }
        for (const std::string& f : k.files) {
            std::string bands;
            for (int i = 0; i < 4; ++i) bands += " b" + std::to_string(i) + "_" + f;
            const run_result r = run_in(dir + "/bands", "furtool", "assemble --out " + f + bands);
            ASSERT_EQ(0, r.status) << f << ": " << r.err;
            std::string one = slurp(dir + "/one/" + f), joined = slurp(dir + "/bands/" + f);
            ASSERT_GT(one.size(), 740u) << f;
            EXPECT_FALSE(one == slurp(dir + "/bands/b1_" + f)) << f;
            // An RLA header holds the minute it was written (bytes 528 to 547).
            if (f.find(".rla") != std::string::npos && joined.size() > 548) {
                std::fill(one.begin() + 528, one.begin() + 548, '\0');
                std::fill(joined.begin() + 528, joined.begin() + 548, '\0');
            }
            EXPECT_TRUE(one == joined) << f;
        }
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(Tiles, AssembleRefusesBandsThatDoNotFit) {
    const scratch d;
    const std::string& dir = d.dir;
    ASSERT_EQ(0, run_in(dir, "furrender", scene("ball") + "--out a.png").status);
    ASSERT_EQ(0, run_in(dir, "furrender", scene("ball") + "--size 80x60 --out small.png").status);
    ASSERT_EQ(0, run_in(dir, "furrender", scene("ball") + "--deep deep.exr").status);
    const std::string before = slurp(dir + "/a.png");
    std::ofstream(dir + "/text.png") << "not a picture";
    const struct {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"assemble --out j.png a.png small.png", 1,
         "\"small.png\" is 80 x 60, the first band 160 x 120"},
        {"assemble --out j.exr a.png", 1, "\"a.png\" is not of the kind of --out (.exr)"},
        {"assemble --out j.png text.png", 1, "\"text.png\" is not a PNG picture furrender writes"},
        {"assemble --out j.png missing.png", 1, "cannot read \"missing.png\""},
        {"assemble --out a.png a.png", 1, "--out would overwrite the band \"a.png\""},
        {"assemble --out j.rgb a.rgb", 1,
         "cannot assemble .rgb pictures (PNG, IFF, RLA and OpenEXR only)"},
        {"assemble --out j.exr deep.exr a.exr", 1, "cannot read \"a.exr\" as a deep image"},
        {"assemble a.png", 2, "--out and at least one band are required"},
    };
    for (const auto& c : cases) {
        const run_result r = run_in(dir, "furtool", c.args);
        EXPECT_EQ(c.status, r.status) << c.args;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.args << "\n" << r.err;
    }
    EXPECT_TRUE(slurp(dir + "/a.png") == before);
    std::ifstream joined(dir + "/j.png");
    EXPECT_FALSE(joined.good());
}

}  // namespace
