#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include <string>

// Each class can be caught as itself and as FurException, and carries its text.
template <typename E>
void expectCaughtAsBase(const char* text) {
    try {
        throw E(text);
    } catch (const FurException& e) {
        EXPECT_STREQ(text, e.message().asChar());
        EXPECT_NE(nullptr, dynamic_cast<const E*>(&e));
        return;
    }
    ADD_FAILURE() << "not caught as FurException";
}

TEST(FurException, EveryClassCarriesItsText) {
    expectCaughtAsBase<FurEFailed>("Parsing failed for data file a.hair");
    expectCaughtAsBase<FurEBadParameter>("Illegal crop window");
    expectCaughtAsBase<FurEMatrix>("singular");
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
}

TEST(FurException, CaughtAsOwnClass) {
    EXPECT_THROW(throw FurEFailed("Memory failure"), FurEFailed);
    EXPECT_THROW(throw FurEBadParameter("Illegal crop window"), FurEBadParameter);
    EXPECT_THROW(furRaiseMatrixError("no inverse"), FurEMatrix);
    try {
        furRaiseMatrixError("no inverse");
    } catch (const FurException& e) {
        EXPECT_STREQ("no inverse", e.message().asChar());
    }
}

TEST(FurEStatus, MessageIsStatusErrorStringNotText) {
    KorvoStatus status(KorvoStatus::kFailure, "plug not found");
    FurEStatus e(status, "constructed text");
    EXPECT_STREQ("plug not found", e.message().asChar());
    const FurException& base = e;
    EXPECT_STREQ("plug not found", base.message().asChar()) << "message is virtual";
    // Without a status of its own, the message is the default status's string.
    FurEStatus textOnly("text only");
    EXPECT_STREQ(KorvoStatus().errorString().asChar(), textOnly.message().asChar());
    EXPECT_STRNE("text only", textOnly.message().asChar());
}

TEST(FurException, MessageReturnsIndependentCopy) {
    FurEFailed e("Writing image file");
    KorvoString m = e.message();
    m = "changed";
    EXPECT_STREQ("Writing image file", e.message().asChar());
}

TEST(FurException, DebugSettingReadOnceByFirstConstructor) {
    // Some exception has been built earlier in this process or is built now:
    // after that the kept value no longer follows the environment.
    FurEFailed first("x");
    const char* kept = furExceptionDebugSetting();
    std::string before = kept ? kept : "<unset>";
    setenv("FUREXCEPTION", "changed-after-first-read", 1);
    FurEFailed second("y");
    const char* after = furExceptionDebugSetting();
    EXPECT_EQ(before, after ? after : "<unset>");
    unsetenv("FUREXCEPTION");
}
