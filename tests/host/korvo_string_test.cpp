#include "host/korvo_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(KorvoString, ConstructsCopiesMovesAndCompares) {
    KorvoString empty, fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ("", fromNull.asChar());
    EXPECT_TRUE(fromNull == empty && empty.length() == 0);
    KorvoString a("fur"), b(a);
    EXPECT_NE(a.asChar(), b.asChar()) << "a copy owns its own text";
    b = "hair";
    EXPECT_STREQ("fur", a.asChar());
    EXPECT_TRUE(a != b && a == KorvoString("fur") && !(KorvoString("ab") == KorvoString("abc")));
    // A moved-from string reads empty, and so does a copy of it.
    KorvoString moved(std::move(b)), c;
    EXPECT_STREQ("", b.asChar());  // NOLINT: reading a moved-from value on purpose
    c = std::move(moved);
    EXPECT_STREQ("hair", c.asChar());
    EXPECT_STREQ("", KorvoString(moved).asChar());  // NOLINT
    // Assigning from its own text.
    KorvoString s("abcdef");
    s = s.asChar() + 2;
    s = s;
    EXPECT_STREQ("cdef", s.asChar());
}

TEST(KorvoString, ConcatenatesAndFormats) {
    KorvoString b = KorvoString("Korvo ") + KorvoString("Fur"), e;
    b += b;
    e += KorvoString();
    EXPECT_STREQ("Korvo FurKorvo Fur", b.asChar());
    EXPECT_EQ(18u, b.length());
    EXPECT_STREQ("", e.asChar());
    // format replaces the first placeholder and inserts the argument as it stands.
    const char* cases[][3] = {{" Korvo Fur Renderer: ^1s", "hello", " Korvo Fur Renderer: hello"},
                              {"[^1s]", "", "[]"},
                              {"^1s-^1s", "a", "a-^1s"},
                              {"no placeholder", "x", "no placeholder"},
                              {"<^1s>", "^1s", "<^1s>"}};
    for (const auto& c : cases)
        EXPECT_STREQ(c[2], KorvoString::format(c[0], c[1]).asChar()) << c[0];
}

TEST(KorvoStatus, ErrorStringPerrorAndResources) {
    KorvoStatus failed(KorvoStatus::kFailure, "no such node");
    EXPECT_TRUE(failed.error() && !KorvoStatus().error());
    EXPECT_GT(KorvoStatus(KorvoStatus::kInvalidParameter).errorString().length(), 0u);
    testing::internal::CaptureStderr();
    failed.perror("curve lookup");
    EXPECT_EQ("curve lookup: no such node\n", testing::internal::GetCapturedStderr());
    // String resources give their default text and success.
    KorvoString text = KorvoStringResource::getString(
        KorvoStringResourceId("Fur", "rErrorMessage", "Error, ^1s"), failed);
    EXPECT_STREQ("Error, ^1s", text.asChar());
    EXPECT_FALSE(failed.error());
}
