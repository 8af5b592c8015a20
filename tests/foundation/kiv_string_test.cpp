#include "foundation/kiv_string.h"

#include <gtest/gtest.h>

// Null stays null through copies; copies own their text; and the documented
// results of comparison, concatenation, rindex and cond_append.
TEST(KivString, OwnershipAndOperations) {
    const string none, copyOfNull(none);
    string a("hair"), b(a), c("x");
    b[0] = 'f', c += string("yz"), c += '!';
    const std::vector<string> texts(
        {copyOfNull, a, b, c, string("dir") + string("/file"), string("x/y/z").rindex('/'),
         string("xyz").rindex('/'), string().rindex('/'), string("a.rla").cond_append(".rla"),
         string("a").cond_append(".rla"), string("rla").cond_append(".rla")});
    const char* expected[] = {nullptr, "hair",  "fair",  "xyz!",  "dir/file", "/z",
                              "xyz",   nullptr, "a.rla", "a.rla", "rla.rla"};
    for (int i = 0; i < 11; ++i) EXPECT_STREQ(expected[i], static_cast<const char*>(texts[i])) << i;
    b = a, b = static_cast<const string&>(b);  // self-assignment keeps the text
    EXPECT_STREQ("hair", static_cast<const char*>(b));
    EXPECT_EQ(3, (string("abc") == string("abc")) + (string() == string()) + (string("x") == "x"));
    EXPECT_EQ(0, (string("abc") == string("ab")) + (string() == string("")));
}
