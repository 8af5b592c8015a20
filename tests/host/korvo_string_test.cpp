#include "host/korvo_string.h"

#include <gtest/gtest.h>

// Owned text, comparison, concatenation, and format, which fills the first
// "^1s" with its argument as it stands.
TEST(KorvoString, TextComparisonConcatenationAndFormat) {
    KorvoString a("fur"), b(a), none(static_cast<const char*>(nullptr)),
        c = KorvoString("Korvo ") + KorvoString("Fur");
    b = "hair", c += c;
    EXPECT_STREQ("fur", a.asChar()) << "a copy owns its own text";
    EXPECT_TRUE(a != b && a == KorvoString("fur") && !(KorvoString("ab") == KorvoString("abc")) &&
                none == KorvoString());
    EXPECT_STREQ("Korvo FurKorvo Fur", c.asChar());
    EXPECT_EQ(18u, c.length());
    const char* cases[] = {"[^1s]", "",  "[]",   "^1s-^1s", "a",   "a-^1s",
                           "none",  "x", "none", "<^1s>",   "^1s", "<^1s>"};
    for (int i = 0; i < 12; i += 3)
        EXPECT_STREQ(cases[i + 2], KorvoString::format(cases[i], cases[i + 1]).asChar());
}

// A failed status carries its text and prints it after a caption; string
// resources give their default text and success.
TEST(KorvoStatus, ErrorStringPerrorAndResources) {
    KorvoStatus failed(KorvoStatus::kFailure, "no such node");
    EXPECT_TRUE(failed.error() && !KorvoStatus().error());
    testing::internal::CaptureStderr();
    failed.perror("curve lookup");
    EXPECT_EQ("curve lookup: no such node\n", testing::internal::GetCapturedStderr());
    EXPECT_STREQ("Error, ^1s",
                 KorvoStringResource::getString(
                     KorvoStringResourceId("Fur", "rErrorMessage", "Error, ^1s"), failed)
                     .asChar());
    EXPECT_FALSE(failed.error());
}
