#include "descriptions/curve_data_cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "descriptions/cache_support.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"

namespace {

std::string Data(const char* file) {
    return std::string(KORVO_TEST_DATA) + "/descriptions/" + file;
}

// A curve-data cache of n entries for one test.
class CurveData : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(crvdata_init(4), 1); }
    void TearDown() override { crvdata_done(); }
};

std::string TempPath(const std::string& leaf) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return testing::TempDir() + info->name() + "_" + leaf;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The message of the FurEBadParameter a scalar lookup of path raises.
std::string RejectionOf(const std::string& path) {
    try {
        crvdata_lookup(path.c_str(), 0, 0);
    } catch (const FurEBadParameter& e) {
        return e.message().asChar();
    }
    return "accepted";
}

}  // namespace

TEST_F(CurveData, ScalarElementsFollowTheFrame) {
    const std::string f = Data("scalars10.crv");
    // first = 5: element 0 up to frame 5, element 3 at frame 8, element 9
    // from frame 14 on.
    for (int frame : {-100, 0, 5}) EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 5, frame), 0.5f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 5, 6), 10.5f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 5, 8), 30.5f);
    for (int frame : {14, 15, 1000000}) EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 5, frame), 90.5f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), -2147483647, 2147483647), 90.5f);
    const kivColor c = crvdata_lookup_clr(f.c_str(), 5, 8);
    EXPECT_FLOAT_EQ(c.r, 30.5f);
    EXPECT_EQ(c.g + c.b + c.a, 0.0f);
}

TEST_F(CurveData, CommentsUseUpNoElement) {
    const std::string f = Data("comments.crv");
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 0, 0), 1.0f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 0, 1), 2.0f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 0, 2), 3.0f);
    // Seven lines, three comments: four elements; the blank line's slot is
    // the last and stays 0.
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 0, 3), 0.0f);
    EXPECT_FLOAT_EQ(crvdata_lookup(f.c_str(), 0, 50), 0.0f);
    const std::string g = Data("scalars_with_text.crv");
    EXPECT_FLOAT_EQ(crvdata_lookup(g.c_str(), 0, 1), 7.0f);
    EXPECT_FLOAT_EQ(crvdata_lookup(g.c_str(), 0, 2), 0.0f);
}

TEST_F(CurveData, ColourKinds) {
    const std::string c3 = Data("colors3.crv");
    const kivColor a = crvdata_lookup_clr(c3.c_str(), 1, 2);
    EXPECT_FLOAT_EQ(a.r, 0.4f);
    EXPECT_FLOAT_EQ(a.g, 0.5f);
    EXPECT_FLOAT_EQ(a.b, 0.6f);
    EXPECT_EQ(a.a, 0.0f);  // three components leave the matte 0
    const kivColor last = crvdata_lookup_clr(c3.c_str(), 1, 99);
    EXPECT_EQ(last.r, 1.0f);

    const std::string c4 = Data("colors4.crv");
    const kivColor b = crvdata_lookup_clr(c4.c_str(), 0, 1);
    EXPECT_FLOAT_EQ(b.r, 0.5f);
    EXPECT_FLOAT_EQ(b.a, 0.8f);

    testing::internal::CaptureStdout();
    EXPECT_EQ(crvdata_lookup(c4.c_str(), 0, 1), 0.0f);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: crvdata file is not scalar values, using 0.0!\n");
}

TEST_F(CurveData, StringKind) {
    const std::string f = Data("strings.crv");
    EXPECT_STREQ(crvdata_lookup_str(f.c_str(), 10, 10), "skin.0001.tex");
    EXPECT_STREQ(crvdata_lookup_str(f.c_str(), 10, 11), "skin.0002.tex");
    // A line that starts with a number is skipped; the last line has no
    // newline and keeps all its characters.
    EXPECT_STREQ(crvdata_lookup_str(f.c_str(), 10, 12), "skin.0003.tex");
    EXPECT_STREQ(crvdata_lookup_str(f.c_str(), 10, 13), "");
    const kivColor c = crvdata_lookup_clr(f.c_str(), 10, 11);
    EXPECT_EQ(c.r + c.g + c.b + c.a, 0.0f);

    const std::string crlf = Data("crlf_strings.crv");
    EXPECT_STREQ(crvdata_lookup_str(crlf.c_str(), 0, 1), "b.tex");
    const std::string crlf_scalars = Data("crlf_scalars.crv");
    EXPECT_FLOAT_EQ(crvdata_lookup(crlf_scalars.c_str(), 0, 1), 2.5f);

    testing::internal::CaptureStdout();
    EXPECT_STREQ(crvdata_lookup_str(Data("scalars10.crv").c_str(), 0, 0), "");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: crvdata file is not\tstring\tvalues, using 0.0!\n");
}

TEST_F(CurveData, RejectedFiles) {
    for (const char* bad : {"two_numbers.crv", "empty_first_line.crv", "empty.crv", "absent.crv"}) {
        const std::string f = Data(bad);
        EXPECT_EQ(RejectionOf(f), "Curve data read failed for file " + f) << bad;
    }
    // A rejected file takes no slot: four good files still fit.
    for (const char* good : {"scalars10.crv", "colors3.crv", "colors4.crv", "strings.crv"})
        crvdata_lookup_clr(Data(good).c_str(), 0, 0);
}

TEST_F(CurveData, TooManyLinesAreRejected) {
    const std::string path = TempPath("long.crv");
    std::string text;
    for (int i = 0; i < 32768; ++i) text += "1\n";
    WriteFile(path, text);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RejectionOf(path), "Curve data read failed for file " + path);
    std::fflush(stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("more than 32767 lines"),
              std::string::npos);
    std::remove(path.c_str());
}

TEST_F(CurveData, ExpandedNamesKeepModelCharacters) {
    SettingsGuard guard;
    defs.frame = 12;
    defs.model_name = "a|b:c";
    const std::string path = TempPath("curve.a|b:c.0012.12.crv");
    WriteFile(path, "4.25\n");
    const std::string name = "$" + TempPath("curve.$M.$F.$f.crv");
    EXPECT_FLOAT_EQ(crvdata_lookup(name.c_str(), 0, 0), 4.25f);
    // Cached under the expanded name: removing the file changes nothing.
    std::remove(path.c_str());
    EXPECT_FLOAT_EQ(crvdata_lookup(name.c_str(), 0, 0), 4.25f);
    defs.frame = 13;
    EXPECT_EQ(RejectionOf(name),
              "Curve data read failed for file " + TempPath("curve.a|b:c.0013.13.crv"));
}

TEST_F(CurveData, EvictionRereadsTheFile) {
    crvdata_done();
    ASSERT_EQ(crvdata_init(1), 1);
    const std::string path = TempPath("evict.crv");
    WriteFile(path, "1\n");
    const std::string other = Data("scalars10.crv");
    EXPECT_FLOAT_EQ(crvdata_lookup(path.c_str(), 0, 0), 1.0f);
    WriteFile(path, "2\n");
    EXPECT_FLOAT_EQ(crvdata_lookup(path.c_str(), 0, 0), 1.0f);   // still cached
    EXPECT_FLOAT_EQ(crvdata_lookup(other.c_str(), 0, 0), 0.5f);  // evicts it
    EXPECT_FLOAT_EQ(crvdata_lookup(path.c_str(), 0, 0), 2.0f);   // read again
    std::remove(path.c_str());
}

TEST(CurveDataCache, UsedBeforeInit) {
    EXPECT_EQ(crvdata_init(-1), 0);
    testing::internal::CaptureStdout();
    EXPECT_THROW(crvdata_lookup("x.crv", 0, 0), FurEFailed);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FATAL: crvdata cache used before crvdata_init\n");
}

TEST_F(CurveData, NullNameIsAFailedRead) {
    EXPECT_THROW(crvdata_lookup(nullptr, 0, 0), FurEBadParameter);
}
