#include "foundation/kiv_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {
const char* raw(const string& s) {
    return s;
}
}  // namespace

TEST(KivString, NullCopiesAndOwnership) {
    const string none, fromNull(static_cast<const char*>(nullptr)), copyOfNull(none);
    EXPECT_TRUE(!raw(fromNull) && !raw(copyOfNull) && !raw(string(-1)));
    const char text[] = "hair";
    string a(text), b(a);
    EXPECT_NE(text, raw(a)) << "an owned copy";
    b[0] = 'f';
    EXPECT_STREQ("hair", raw(a));
    EXPECT_STREQ("fair", raw(b));
    b = a;
    b = static_cast<const string&>(b);  // self-assignment keeps the text
    EXPECT_STREQ("hair", raw(b));
    b = none;
    EXPECT_EQ(nullptr, raw(b));
    EXPECT_STREQ("hair", raw(string(std::move(a))));
    string buf(8);
    EXPECT_EQ(0, std::memcmp(raw(buf), "\0\0\0\0\0\0\0\0", 8)) << "a zeroed buffer";
}

TEST(KivString, EqualityConcatenationRindexAndCondAppend) {
    EXPECT_EQ(3, (string("abc") == string("abc")) + (string() == string()) + (string("x") == "x"));
    EXPECT_EQ(0, (string("abc") == string("abd")) + (string("abc") == string("ab")) +
                     (string() == string("")));
    EXPECT_STREQ("dir/file", raw(string("dir") + string("/file")));
    EXPECT_STREQ("/file", raw(string() + "/file"));
    string c("x"), d;
    c += string("yz");
    c += '!';
    d += 'q';
    EXPECT_STREQ("xyz!", raw(c));
    EXPECT_STREQ("q", raw(d));
    EXPECT_STREQ("/z", raw(string("x/y/z").rindex('/')));
    EXPECT_STREQ("xyz", raw(string("xyz").rindex('/')));
    EXPECT_EQ(nullptr, raw(string().rindex('/')));
    const char* cases[][2] = {
        {"a.rla", "a.rla"}, {"a", "a.rla"}, {"rla", "rla.rla"}, {"a.rl", "a.rl.rla"}};
    for (const auto& s : cases) EXPECT_STREQ(s[1], raw(string(s[0]).cond_append(".rla"))) << s[0];
}
