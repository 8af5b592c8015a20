#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

// Each class is caught as itself and as FurException, and carries its text.
template <typename E>
void expectCaughtAsBase(const char* text) {
    EXPECT_THROW(throw E(text), E);
    EXPECT_EQ(text, thrown<FurException>([&] { throw E(text); }));
}

TEST(FurException, EveryClassCarriesItsText) {
    expectCaughtAsBase<FurEFailed>("Parsing failed for data file a.hair");
    expectCaughtAsBase<FurEBadParameter>("Illegal crop window");
    expectCaughtAsBase<FurEMatrix>("singular");
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    // message() returns an independent copy.
    FurEFailed e("Writing image file");
    KorvoString m = e.message();
    m = "changed";
    EXPECT_STREQ("Writing image file", e.message().asChar());
    // A status exception's message is its status's error string, not its text.
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
    FurEStatus textOnly("text only");
    EXPECT_STREQ(KorvoStatus().errorString().asChar(), textOnly.message().asChar());
    EXPECT_STRNE("text only", textOnly.message().asChar());
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
