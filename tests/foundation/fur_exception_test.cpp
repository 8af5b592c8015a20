#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

// Each class is caught as FurException and carries its text.
TEST(FurException, EveryClassCarriesItsText) {
    EXPECT_EQ("Parsing failed", thrown<FurException>([] { throw FurEFailed("Parsing failed"); }));
    EXPECT_EQ("Illegal crop", thrown<FurException>([] { throw FurEBadParameter("Illegal crop"); }));
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    FurEFailed e("Writing image file");
    e.message() = "changed";  // message() returns an independent copy
    EXPECT_STREQ("Writing image file", e.message().asChar());
    // A status exception's message is its status's error string, not its text.
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
    EXPECT_STREQ(KorvoStatus().errorString().asChar(), FurEStatus("text").message().asChar());
}

TEST(FurException, DebugSettingReadOnceByFirstConstructor) {
    FurEFailed first("x");
    const char* kept = furExceptionDebugSetting();
    const std::string before = kept ? kept : "<unset>";
    setenv("FUREXCEPTION", "changed-after-first-read", 1);
    FurEFailed second("y");
    const char* after = furExceptionDebugSetting();
    EXPECT_EQ(before, after ? after : "<unset>");
    unsetenv("FUREXCEPTION");
}
