#include "maptools/equalizer.h"

#include <vector>

#include "imagefile/iff_image.h"
#include "maptools/maptools_support.h"

namespace {

class Equalizer : public MapScene {
  protected:
    // The area pass alone (mode not 0) or the map pass alone (mode 0) into the
    // test directory, 8 x 6; what it printed.
    std::string Run(int mode, const char* ass, const char* prefix = nullptr,
                    const char* suffix = "", bool fill = false) {
        return captured([&] {
            mdldb_area_norm(dir_.c_str(), prefix, 8, 6, mode, ass, 0, 0, !mode, suffix, fill);
        });
    }
    // The grey levels of an 8 x 6 map, row 0 first; -1 for a pixel that is not opaque.
    std::vector<int> Levels(const std::string& file) {
        IffImage im;
        std::vector<int> levels(48, -2);
        if (iff_read_file(file.c_str(), im) && im.width == 8 && im.height == 6)
            for (int i = 0; i < 48; ++i)
                levels[i] = im.rgba[4 * i + 3] == 255 ? im.rgba[4 * i + 1] : -1;
        return levels;
    }
};

}  // namespace

// "small" (1 x 1) and "big" (2 x 1.5) carry fur, "big" down as well; "gone"
// is excluded and "bare" has no hair. Mode 1: the largest model is 1, the
// others relative to it; mode 2: one block per description. Running again
// replaces a block; every other line is kept. The hair file update gives
// blocks without an equalizer one before their "}": the shared map of their
// reference name or the per-model default. A copy that cannot be made or
// written leaves either file as it was, with every message exact.
TEST_F(Equalizer, AreaValuesHairFileUpdateAndFailedRewrites) {
    Load("areas");
    for (int i = 0; i < 2; ++i)
        Run(EQUALIZER_AREA_ALL, "areas.assign"), Run(EQUALIZER_AREA_PER_HAIR, "areas.assign");
    captured([] { updateEqualizer("update.hair", "maps", "pre", ".1"); });
    EXPECT_EQ("<missing>", slurp("areas.assign_tmp"));
    std::string printed = Run(1, nullptr) + Run(1, "none");
    ASSERT_TRUE(std::filesystem::create_directory("areas.assign_tmp"));
    printed += Run(1, "areas.assign");
    std::filesystem::remove("areas.assign_tmp");
    for (const char* tmp : {"areas.assign_tmp", "update.hair_tmp"})
        std::filesystem::create_symlink("/dev/full", tmp);
    printed += Run(1, "areas.assign") + captured([] {
                   updateEqualizer(nullptr, ".", nullptr, "");
                   updateEqualizer("update.hair", nullptr, nullptr, "");
                   updateEqualizer("update.hair", ".", nullptr, "");
               });
    EXPECT_EQ(slurp("failures.printed"), printed);
    EXPECT_EQ(slurp("areas.expected") + slurp("update.expected"),  // after the failures too
              slurp("areas.assign") + slurp("update.hair"));
}

// A uniform patch or quad is flat at the top level; a patch stretched along
// x (u, map columns) and less along y (v, map rows) grows along both, more
// steeply along u; a quad over the lower half of v leaves the upper rows
// empty, and the fill covers them.
TEST_F(Equalizer, MapsFollowSurfaceAreaInUAndV) {
    Load("maps");
    EXPECT_EQ(slurp("maps.printed"), Run(0, nullptr, nullptr, ".7"));
    EXPECT_EQ(std::vector<int>(48, 255), Levels("equal_even_eqMap.7.iff"));
    EXPECT_EQ(std::vector<int>(48, 255), Levels("equal_square_eqMap.7.iff"));
    const std::vector<int> s = Levels("equal_stretched_eqMap.7.iff"),
                           half = Levels("equal_half_eqMap.7.iff");
    for (int i = 0; i < 48; ++i) {
        EXPECT_TRUE(i % 8 == 0 || s[i] >= s[i - 1]) << "along u " << i;
        EXPECT_TRUE(i < 8 || s[i] >= s[i - 8]) << "along v " << i;
        EXPECT_EQ(half[i] > 0, i < 24) << i;
    }
    EXPECT_TRUE(s[0] < 100 && s[47] == 255 && s[40] < s[7] && s[7] < 255) << "steeper along u";
    Run(0, nullptr, "filled", "", true);
    for (int level : Levels("filled_half_eqMap.iff")) EXPECT_GT(level, 0);
}

// Shared maps for an empty reference name (else per reference name), a map of
// its own for a single blank, per-model names for the prefix tmp; a map that
// cannot be created ends the call.
TEST_F(Equalizer, MapFileNames) {
    Load("names");
    Run(0, nullptr, "pre", "_x"), Run(0, nullptr, "tmp");
    for (const char* f : {"equal_eqMap_x.iff", "pre_mine_eqMap_x.iff", "body_eqMap_x.iff",
                          "tmp_a_b_c_eqMap.iff", "tmp_skin_eqMap.iff"})
        EXPECT_TRUE(std::filesystem::exists(f)) << f;
    EXPECT_FALSE(std::filesystem::exists("pre_a_b_c_eqMap_x.iff"));
    EXPECT_EQ("Fur: Couldn't open no/equal_eqMap.iff", thrown<FurEFailed>([&] {
                  mdldb_area_norm("no", nullptr, 4, 4, 0, nullptr, false, nullptr, true, "", false);
              }));
}
