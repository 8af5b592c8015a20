#include "host/korvo_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(KorvoString, ConstructsCopiesAndCompares) {
    KorvoString empty;
    EXPECT_STREQ("", empty.asChar());
    EXPECT_EQ(0u, empty.length());

    KorvoString fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ("", fromNull.asChar());
    EXPECT_TRUE(fromNull == empty);

    KorvoString a("fur");
    KorvoString b(a);
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.asChar(), b.asChar()) << "a copy owns its own text";
    b = "hair";
    EXPECT_STREQ("fur", a.asChar());
    EXPECT_STREQ("hair", b.asChar());
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(KorvoString("ab") == KorvoString("abc"));
}

TEST(KorvoString, MovedFromStringReadsEmpty) {
    KorvoString a("text");
    KorvoString b(std::move(a));
    EXPECT_STREQ("text", b.asChar());
    EXPECT_STREQ("", a.asChar());  // NOLINT: reading a moved-from value on purpose
    EXPECT_TRUE(a == KorvoString());
    KorvoString c;
    c = std::move(b);
    EXPECT_STREQ("text", c.asChar());
    EXPECT_STREQ("", b.asChar());  // NOLINT
    KorvoString d(b);              // copying a moved-from string gives an empty one
    EXPECT_STREQ("", d.asChar());
}

TEST(KorvoString, AssignsFromItsOwnText) {
    KorvoString s("abcdef");
    s = s.asChar() + 2;
    EXPECT_STREQ("cdef", s.asChar());
    s = s;
    EXPECT_STREQ("cdef", s.asChar());
}

TEST(KorvoString, Concatenates) {
    KorvoString a("Korvo ");
    KorvoString b = a + KorvoString("Fur");
    EXPECT_STREQ("Korvo Fur", b.asChar());
    EXPECT_EQ(9u, b.length());
    b += b;
    EXPECT_STREQ("Korvo FurKorvo Fur", b.asChar());
    KorvoString e;
    e += KorvoString();
    EXPECT_STREQ("", e.asChar());
}

TEST(KorvoString, FormatReplacesFirstPlaceholder) {
    EXPECT_STREQ(" Korvo Fur Renderer: hello",
                 KorvoString::format(" Korvo Fur Renderer: ^1s", "hello").asChar());
    EXPECT_STREQ("Error, x", KorvoString::format("Error, ^1s", "x").asChar());
    EXPECT_STREQ("[]", KorvoString::format("[^1s]", "").asChar());
    EXPECT_STREQ("a-^1s", KorvoString::format("^1s-^1s", "a").asChar());
    EXPECT_STREQ("no placeholder", KorvoString::format("no placeholder", "x").asChar());
    // The argument is inserted as it stands, even when it holds a placeholder.
    EXPECT_STREQ("<^1s>", KorvoString::format("<^1s>", "^1s").asChar());
}

TEST(KorvoStatus, ErrorStringAndPerror) {
    KorvoStatus ok;
    EXPECT_FALSE(ok.error());
    KorvoStatus failed(KorvoStatus::kFailure, "no such node");
    EXPECT_TRUE(failed.error());
    EXPECT_STREQ("no such node", failed.errorString().asChar());
    KorvoStatus bare(KorvoStatus::kInvalidParameter);
    EXPECT_GT(bare.errorString().length(), 0u);

    testing::internal::CaptureStderr();
    failed.perror("curve lookup");
    EXPECT_EQ("curve lookup: no such node\n", testing::internal::GetCapturedStderr());
}

TEST(KorvoStringResource, ReturnsDefaultTextAndSuccess) {
    KorvoStatus status(KorvoStatus::kFailure);
    KorvoStringResourceId id("Fur", "rErrorMessage", "Error, ^1s");
    KorvoString text = KorvoStringResource::getString(id, status);
    EXPECT_STREQ("Error, ^1s", text.asChar());
    EXPECT_FALSE(status.error());
}
