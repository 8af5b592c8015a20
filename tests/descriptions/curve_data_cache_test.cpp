#include "descriptions/curve_data_cache.h"

#include "descriptions/descriptions_support.h"

namespace {

using CurveData = DescriptionsTest;

// The message of the FurEBadParameter a scalar lookup of path raises.
std::string rejectionOf(const std::string& path, std::string* printed = nullptr) {
    return thrown<FurEBadParameter>([&] { crvdata_lookup(path.c_str(), 0, 0); }, printed);
}

// Scalar values of the file at the frames, first frame 0.
std::vector<float> scalarsAt(const std::string& file, const std::vector<int>& frames,
                             int first = 0) {
    std::vector<float> values;
    for (int f : frames) values.push_back(crvdata_lookup(file.c_str(), first, f));
    return values;
}

}  // namespace

TEST_F(CurveData, ScalarElementsFollowTheFrame) {
    // first = 5: element 0 up to frame 5, element 3 at frame 8, element 9 from frame 14 on.
    EXPECT_EQ((std::vector<float>{0.5f, 0.5f, 0.5f, 10.5f, 30.5f, 90.5f, 90.5f, 90.5f}),
              scalarsAt(data("scalars10.crv"), {-100, 0, 5, 6, 8, 14, 15, 1000000}, 5));
    EXPECT_FLOAT_EQ(90.5f, crvdata_lookup(data("scalars10.crv").c_str(), -2147483647, 2147483647));
    expect_color(crvdata_lookup_clr(data("scalars10.crv").c_str(), 5, 8), 30.5f, 0, 0, 0);
    // Comments use up no element: seven lines, three comments, four elements;
    // the blank line's slot is the last and stays 0.
    EXPECT_EQ((std::vector<float>{1, 2, 3, 0, 0}),
              scalarsAt(data("comments.crv"), {0, 1, 2, 3, 50}));
    // A line that does not scan leaves its slot 0; Windows line ends are fine.
    EXPECT_EQ((std::vector<float>{7, 0}), scalarsAt(data("scalars_with_text.crv"), {1, 2}));
    EXPECT_EQ((std::vector<float>{2.5f}), scalarsAt(data("crlf_scalars.crv"), {1}));
}

TEST_F(CurveData, ColourAndStringKinds) {
    // Three components leave the matte 0.
    expect_color(crvdata_lookup_clr(data("colors3.crv").c_str(), 1, 2), 0.4f, 0.5f, 0.6f, 0);
    EXPECT_EQ(1.0f, crvdata_lookup_clr(data("colors3.crv").c_str(), 1, 99).r);
    expect_color(crvdata_lookup_clr(data("colors4.crv").c_str(), 0, 1), 0.5f, 0.6f, 0.7f, 0.8f);
    const std::string f = data("strings.crv");
    // A line that starts with a number is skipped; the last line has no
    // newline and keeps all its characters.
    const char* strings[] = {"skin.0001.tex", "skin.0002.tex", "skin.0003.tex", ""};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(strings[i], crvdata_lookup_str(f.c_str(), 10, 10 + i));
    expect_color(crvdata_lookup_clr(f.c_str(), 10, 11), 0, 0, 0, 0);
    EXPECT_STREQ("b.tex", crvdata_lookup_str(data("crlf_strings.crv").c_str(), 0, 1));
    // The wrong kind for the lookup.
    EXPECT_EQ("WARNING: crvdata file is not scalar values, using 0.0!\n",
              captured([] { EXPECT_EQ(0.0f, crvdata_lookup(data("colors4.crv").c_str(), 0, 1)); }));
    EXPECT_EQ("WARNING: crvdata file is not\tstring\tvalues, using 0.0!\n", captured([] {
                  EXPECT_STREQ("", crvdata_lookup_str(data("scalars10.crv").c_str(), 0, 0));
              }));
}

TEST_F(CurveData, RejectedFiles) {
    for (const char* bad : {"two_numbers.crv", "empty_first_line.crv", "empty.crv", "absent.crv"})
        EXPECT_EQ("Curve data read failed for file " + data(bad), rejectionOf(data(bad))) << bad;
    // Names from a description file may point anywhere: a device that never
    // ends and a directory are refused, not read.
    for (const std::string& odd : {std::string("/dev/zero"), testing::TempDir()})
        EXPECT_EQ("Curve data read failed for file " + odd, rejectionOf(odd)) << odd;
    std::string text, printed;
    for (int i = 0; i < 32768; ++i) text += "1\n";
    const std::string path = write_temp("long.crv", text);
    EXPECT_EQ("Curve data read failed for file " + path, rejectionOf(path, &printed));
    EXPECT_NE(std::string::npos, printed.find("more than 32767 lines"));
    std::remove(path.c_str());
    // A rejected file takes no slot: four good files still fit.
    for (const char* good : {"scalars10.crv", "colors3.crv", "colors4.crv", "strings.crv"})
        crvdata_lookup_clr(data(good).c_str(), 0, 0);
}

// Files are cached under their expanded names (model characters kept) until evicted.
TEST_F(CurveData, CachedUnderExpandedNamesUntilEvicted) {
    ASSERT_EQ(1, crvdata_init(1));
    defs.frame = 12;
    defs.model_name = "a|b:c";
    const std::string path = write_temp("_curve.a|b:c.0012.12.crv", "1\n");
    const std::string name = "$" + temp_path("_curve.$M.$F.$f.crv");
    EXPECT_FLOAT_EQ(1.0f, crvdata_lookup(name.c_str(), 0, 0));
    write_temp("_curve.a|b:c.0012.12.crv", "2\n");
    EXPECT_FLOAT_EQ(1.0f, crvdata_lookup(name.c_str(), 0, 0)) << "still cached";
    EXPECT_FLOAT_EQ(0.5f, crvdata_lookup(data("scalars10.crv").c_str(), 0, 0)) << "evicts it";
    EXPECT_FLOAT_EQ(2.0f, crvdata_lookup(name.c_str(), 0, 0)) << "read again";
    std::remove(path.c_str());
    defs.frame = 13;
    EXPECT_EQ("Curve data read failed for file " + temp_path("_curve.a|b:c.0013.13.crv"),
              rejectionOf(name));
    // Without a cache.
    EXPECT_EQ(0, crvdata_init(-1));
    EXPECT_EQ("FATAL: crvdata cache used before crvdata_init\n",
              captured([] { EXPECT_THROW(crvdata_lookup("x.crv", 0, 0), FurEFailed); }));
}
