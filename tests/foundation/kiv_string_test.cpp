#include "foundation/kiv_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

TEST(KivString, NullAndCopies) {
    const string none;
    EXPECT_EQ(static_cast<char*>(none), nullptr);
    const string fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(static_cast<char*>(fromNull), nullptr);
    const string copyOfNull(none);
    EXPECT_EQ(static_cast<char*>(copyOfNull), nullptr);

    const char text[] = "hair";
    string a(text);
    EXPECT_NE(static_cast<char*>(a), text);  // an owned copy
    EXPECT_STREQ(a, "hair");
    string b(a);
    b[0] = 'f';
    EXPECT_STREQ(a, "hair");
    EXPECT_STREQ(b, "fair");

    b = a;
    EXPECT_STREQ(b, "hair");
    const string& alias = b;
    b = alias;  // self-assignment keeps the text
    EXPECT_STREQ(b, "hair");
    b = none;
    EXPECT_EQ(static_cast<char*>(b), nullptr);

    string moved(std::move(a));
    EXPECT_STREQ(moved, "hair");
}

TEST(KivString, SizedBuffer) {
    string buf(8);
    ASSERT_NE(static_cast<char*>(buf), nullptr);
    std::strcpy(buf, "1234567");
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[3], '4');
}

TEST(KivString, Equality) {
    EXPECT_EQ(string("abc") == string("abc"), 1);
    EXPECT_EQ(string("abc") == string("abd"), 0);
    EXPECT_EQ(string("abc") == string("ab"), 0);
    EXPECT_EQ(string() == string(), 1);
    EXPECT_EQ(string() == string(""), 0);
    EXPECT_EQ(string("x") == "x", 1);
}

TEST(KivString, Concatenation) {
    const string a("dir"), b("/file");
    const string joined = a + b;
    EXPECT_STREQ(joined, "dir/file");
    EXPECT_STREQ(a, "dir");
    EXPECT_STREQ(string() + b, "/file");
    string c("x");
    c += string("yz");
    c += '!';
    EXPECT_STREQ(c, "xyz!");
    string d;
    d += 'q';
    EXPECT_STREQ(d, "q");
}

TEST(KivString, RindexAndCondAppend) {
    EXPECT_STREQ(string("x/y/z").rindex('/'), "/z");
    EXPECT_STREQ(string("xyz").rindex('/'), "xyz");
    EXPECT_EQ(static_cast<char*>(string().rindex('/')), nullptr);

    EXPECT_STREQ(string("a.rla").cond_append(".rla"), "a.rla");
    EXPECT_STREQ(string("a").cond_append(".rla"), "a.rla");
    EXPECT_STREQ(string("rla").cond_append(".rla"), "rla.rla");  // shorter than the suffix
    EXPECT_STREQ(string("a.rl").cond_append(".rla"), "a.rl.rla");
}
