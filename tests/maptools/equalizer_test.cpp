#include "maptools/equalizer.h"

#include <sys/stat.h>
#include <unistd.h>

#include "foundation/fur_exception.h"
#include "imagefile/iff_image.h"
#include "maptools/maptools_support.h"

namespace {

const char kHair[] =
    "hair \"fur\" {\n"
    "    density = 10 ;\n"
    "}\n"
    "hair \"down\" {\n"
    "    density = 20 ;\n"
    "}\n";

// "small" (1 x 1) and "big" (2 x 3) carry fur, "big" down as well; "gone" is
// excluded and "bare" has no hair.
const char kAssign[] =
    "# the area values go below\n"
    "\"fur\" hair { \"small\" \"big\" \"gone\" }\n"
    "\"down\" hair { \"big\" }\n"
    "exclude { \"gone\" }\n";

class Equalizer : public MapScene {
  protected:
    void LoadQuads() {
        Load(kHair, kAssign,
             scene_of({quad_model("small", 0, 0, 1, 1), quad_model("gone", 0, 0, 5, 5),
                       quad_model("big", 0, 0, 2, 3), quad_model("bare", 0, 0, 4, 4)}));
    }
    // Runs the area pass alone; what it printed.
    std::string Areas(int mode, const char* assFile) {
        return captured([&] {
            mdldb_area_norm(nullptr, nullptr, 8, 8, mode, assFile, false, nullptr, false, "",
                            false);
        });
    }
    // Runs the map pass alone into the test directory.
    std::string Maps(const char* prefix, const char* suffix, int w, int h, bool fill = false) {
        return captured([&] {
            mdldb_area_norm(dir_.substr(0, dir_.size() - 1).c_str(), prefix, w, h, 0, nullptr,
                            false, nullptr, true, suffix, fill);
        });
    }
    // The grey levels of an equalizer map, bottom row first.
    std::vector<int> Levels(const std::string& file, int w, int h) {
        IffImage image;
        std::string error;
        EXPECT_TRUE(iff_read_file(Path(file).c_str(), image, &error)) << file << ": " << error;
        std::vector<int> levels;
        if (image.width != w || image.height != h) {
            ADD_FAILURE() << file << " is " << image.width << "x" << image.height;
            return levels;
        }
        for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
            EXPECT_TRUE(image.rgba[i] == image.rgba[i + 1] && image.rgba[i] == image.rgba[i + 2] &&
                        image.rgba[i + 3] == 255);
            levels.push_back(image.rgba[i]);
        }
        return levels;
    }
};

}  // namespace

// Mode 1: the largest model is 1, the others relative to it; excluded models
// and models without hair get no line. A second run replaces the block.
TEST_F(Equalizer, AreaValuesOfMeshesOfKnownArea) {
    LoadQuads();
    const std::string ass = Path("scene.assign");
    const std::string printed = Areas(EQUALIZER_AREA_ALL, ass.c_str());
    EXPECT_NE(printed.find("Calculating area values for all surfaces"), std::string::npos);
    const std::string once = slurp(ass);
    EXPECT_EQ(once, std::string(kAssign) + "area{\n\t\"small\" 0.166667\n\t\"big\" 1.000000\n}\n");
    Areas(EQUALIZER_AREA_ALL, ass.c_str());
    EXPECT_EQ(slurp(ass), once);
    EXPECT_FALSE(exists(ass + "_tmp"));
}

// Mode 2: one block per description, relative to the largest model of each;
// other blocks and lines are kept as they are.
TEST_F(Equalizer, AreaValuesPerHairDescription) {
    LoadQuads();
    const std::string ass = Path("scene.assign");
    Areas(EQUALIZER_AREA_ALL, ass.c_str());
    Areas(EQUALIZER_AREA_PER_HAIR, ass.c_str());
    const std::string blocks =
        "area{\n\t\"small\" 0.166667\n\t\"big\" 1.000000\n}\n"
        "\"fur\" area{\n\t\"small\" 0.166667\n\t\"big\" 1.000000\n}\n"
        "\"down\" area{\n\t\"big\" 1.000000\n}\n";
    EXPECT_EQ(slurp(ass), kAssign + blocks);
    Areas(EQUALIZER_AREA_PER_HAIR, ass.c_str());
    EXPECT_EQ(slurp(ass), kAssign + blocks);
}

// Nothing is written without an assignment file, or when no hairy model is
// left; a copy that cannot be made or written leaves the file as it was.
TEST_F(Equalizer, FailuresLeaveTheAssignmentFileAlone) {
    LoadQuads();
    const std::string ass = Path("scene.assign");
    EXPECT_NE(Areas(EQUALIZER_AREA_ALL, nullptr).find("Error, .ass file is undefined"),
              std::string::npos);
    EXPECT_EQ(Areas(EQUALIZER_AREA_ALL, Path("none.assign").c_str()),
              " Korvo Fur Renderer: Calculating area values for all surfaces\n"
              "ERROR: Can't open .ass file\n");
    ASSERT_EQ(mkdir((ass + "_tmp").c_str(), 0700), 0);
    EXPECT_NE(Areas(EQUALIZER_AREA_ALL, ass.c_str()).find("ERROR: Can't open temporary file\n"),
              std::string::npos);
    EXPECT_EQ(slurp(ass), kAssign);
    rmdir((ass + "_tmp").c_str());
    ASSERT_EQ(symlink("/dev/full", (ass + "_tmp").c_str()), 0);
    EXPECT_NE(Areas(EQUALIZER_AREA_ALL, ass.c_str()).find("ERROR: Can't write to .ass file\n"),
              std::string::npos);
    EXPECT_EQ(slurp(ass), kAssign);
    EXPECT_FALSE(exists(ass + "_tmp"));
}

// A uniformly parameterised patch covers the same surface everywhere: a flat
// map at the top level. A stretched one does not: its cells grow with x.
TEST_F(Equalizer, MapsOfUniformAndStretchedPatches) {
    const float even[4] = {0, 1, 2, 3}, stretched[4] = {0, 0.2f, 0.6f, 3};
    Load(kHair, "\"fur\" hair { \"even\" \"stretched\" \"square\" }\n",
         scene_of({patch_model("even", even, " "), patch_model("stretched", stretched, " "),
                   quad_model("square", 0, 0, 3, 3, 0, 1, " ")}));
    const std::string printed = Maps(nullptr, ".7", 9, 5);
    EXPECT_NE(printed.find("Creating equalizer map for surface 'stretched'"), std::string::npos);
    for (const char* flat : {"equal_even_eqMap.7.iff", "equal_square_eqMap.7.iff"})
        for (int level : Levels(flat, 9, 5)) ASSERT_EQ(level, 255) << flat;
    const std::vector<int> s = Levels("equal_stretched_eqMap.7.iff", 9, 5);
    ASSERT_EQ(s.size(), 45u);
    for (int r = 0; r < 5; ++r) {
        for (int c = 1; c < 9; ++c) EXPECT_LE(s[r * 9 + c - 1], s[r * 9 + c]) << r << " " << c;
        EXPECT_LT(s[r * 9], 100);
        EXPECT_EQ(s[r * 9 + 8], 255);
    }
}

// Shared maps for an empty reference name (per reference name otherwise), a
// map of its own for a single blank, and per-model names for the prefix tmp.
TEST_F(Equalizer, MapFileNames) {
    Load(kHair, "\"fur\" hair { \"a|b:c\" \"one\" \"two\" \"mine\" \"skin\" }\n",
         scene_of({quad_model("a|b:c", 0, 0, 1, 1), quad_model("one", 0, 0, 1, 1),
                   quad_model("two", 0, 0, 2, 1), quad_model("mine", 0, 0, 1, 1, 0, 1, " "),
                   quad_model("skin", 0, 0, 1, 1, 0, 1, "body")}));
    Maps("pre", "_x", 4, 4);
    for (const char* f : {"equal_eqMap_x.iff", "pre_mine_eqMap_x.iff", "body_eqMap_x.iff"})
        EXPECT_TRUE(exists(Path(f))) << f;
    EXPECT_FALSE(exists(Path("pre_one_eqMap_x.iff")));
    Maps("tmp", "", 4, 4);
    for (const char* f : {"tmp_a_b_c_eqMap.iff", "tmp_one_eqMap.iff", "tmp_skin_eqMap.iff"})
        EXPECT_TRUE(exists(Path(f))) << f;
    EXPECT_FALSE(exists(Path("body_eqMap.iff")));
    // A map that cannot be created ends the call; sizes are checked first.
    EXPECT_EQ(thrown<FurEFailed>([&] {
                  mdldb_area_norm(Path("no/such").c_str(), nullptr, 4, 4, 0, nullptr, false,
                                  nullptr, true, "", false);
              }),
              "Fur: Couldn't open " + Path("no/such") + "/equal_eqMap.iff");
    for (int side : {0, kEqualizerMaxSide + 1})
        EXPECT_NE(Maps(nullptr, "", side, 4).find("Error, can't allocate memory"),
                  std::string::npos);
}

// Two quads over the left half of texture space, the first with twice the
// surface of the second: levels fall from left to right and the right half
// stays empty. The fill keeps the covered cells and grows them into the rest.
TEST_F(Equalizer, BackgroundFillCoversEmptyCells) {
    const char kHalf[] =
        "model poly \"half\" {\n    reference_equalmap \" \"\n    nb_vertices 6\n"
        "    v 0 0 0\n    v 0 1 0\n    v 2 1 0\n    v 2 0 0\n    v 3 1 0\n    v 3 0 0\n"
        "    nb_normals 1\n    n 0 0 1\n    nb_uvs 6\n    uv 0 0 0\n    uv 0 1 0\n"
        "    uv 0.25 1 0\n    uv 0.25 0 0\n    uv 0.5 1 0\n    uv 0.5 0 0\n    nb_polys 2\n"
        "    p 0/0/0 1/0/1 2/0/2 3/0/3\n    p 3/0/3 2/0/2 4/0/4 5/0/5\n}\n";
    Load(kHair, "\"fur\" hair { \"half\" }\n", scene_of({kHalf}));
    Maps("a", "", 8, 4);
    const std::vector<int> plain = Levels("a_half_eqMap.iff", 8, 4);
    Maps("b", "", 8, 4, true);
    const std::vector<int> filled = Levels("b_half_eqMap.iff", 8, 4);
    ASSERT_EQ(plain.size(), 32u);
    ASSERT_EQ(filled.size(), 32u);
    for (int i = 0; i < 32; ++i) {
        if (i % 8 < 4) {
            EXPECT_GT(plain[i], 12) << i;
            EXPECT_EQ(filled[i], plain[i]) << i;
            if (i % 8 > 0) {
                EXPECT_LE(plain[i], plain[i - 1]) << i;
            }
        } else {
            EXPECT_EQ(plain[i], 0) << i;
            EXPECT_TRUE(filled[i] > 12 && filled[i] <= plain[i / 8 * 8 + 3]) << i;
        }
    }
    EXPECT_LT(plain[3], plain[0]);
}

// Blocks without an equalizer get one before their "}": the shared map of
// their reference name or the per-model default; every other line is kept.
TEST_F(Equalizer, HairFileUpdateKeepsEveryOtherLine) {
    const std::string hair = Path("u.hair");
    const std::string text =
        "// head\n"
        "hair \"own\" {\n\tdensity = 3 ;\n\tequalizer = 0.5 ;\n\tlength = 1 ;\n}\n"
        "hair \"ref\" {\n\treference_equalmap=\"skin\";\n\tlength = 2 ;\n}\n"
        "\n"
        "hair \"plain\" {\n\tlength = 3 ;\n}\n"
        "light \"key\" { shadow_type = 0 ; }\n";
    spit(hair, text);
    captured([&] { updateEqualizer(hair.c_str(), "maps", "pre", ".1"); });
    EXPECT_EQ(slurp(hair),
              "// head\n"
              "hair \"own\" {\n\tdensity = 3 ;\n\tequalizer = 0.5 ;\n\tlength = 1 ;\n}\n"
              "hair \"ref\" {\n\treference_equalmap=\"skin\";\n\tlength = 2 ;\n"
              "\tequalizer=image(\"maps/skin_eqMap.1.iff\", \"r\");\n}\n"
              "\n"
              "hair \"plain\" {\n\tlength = 3 ;\n"
              "\tequalizer=image(\"maps/pre_$M_eqMap.1.iff\", \"r\");\n}\n"
              "light \"key\" { shadow_type = 0 ; }\n");
    // With the prefix tmp reference names are not followed.
    spit(hair, text);
    captured([&] { updateEqualizer(hair.c_str(), ".", "tmp", ""); });
    EXPECT_NE(
        slurp(hair).find("\tlength = 2 ;\n\tequalizer=image(\"./tmp_$M_eqMap.iff\", \"r\");\n}"),
        std::string::npos);
}

TEST_F(Equalizer, HairFileUpdateFailuresLeaveTheFileAlone) {
    const std::string hair = Path("u.hair"), text = "hair \"plain\" {\n}\n";
    spit(hair, text);
    EXPECT_EQ(captured([&] { updateEqualizer(nullptr, ".", nullptr, ""); }),
              "ERROR: No .hair file specified\n");
    EXPECT_EQ(captured([&] { updateEqualizer(hair.c_str(), nullptr, nullptr, ""); }),
              "ERROR: No ouput directory specified\n");
    ASSERT_EQ(symlink("/dev/full", (hair + "_tmp").c_str()), 0);
    EXPECT_EQ(captured([&] { updateEqualizer(hair.c_str(), ".", nullptr, ""); }),
              "ERROR: Can't write to .desc file\n");
    EXPECT_EQ(slurp(hair), text);
}
