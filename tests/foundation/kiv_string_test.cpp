#include "foundation/kiv_string.h"

#include <gtest/gtest.h>

// Null stays null through copies; copies own their text; and the documented
// results of comparison, concatenation, rindex and cond_append.
TEST(KivString, OwnershipAndOperations) {
    const string none, fromNull(static_cast<const char*>(nullptr)), copyOfNull(none);
    string a("hair"), b(a), c("x");
    b[0] = 'f';
    c += string("yz"), c += '!';
    const string texts[] = {fromNull,
                            copyOfNull,
                            a,
                            b,
                            c,
                            string("dir") + string("/file"),
                            string("x/y/z").rindex('/'),
                            string("xyz").rindex('/'),
                            string().rindex('/')};
    const char* expected[] = {nullptr,    nullptr, "hair", "fair", "xyz!",
                              "dir/file", "/z",    "xyz",  nullptr};
    for (int i = 0; i < 9; ++i) EXPECT_STREQ(expected[i], static_cast<const char*>(texts[i])) << i;
    b = a;
    b = static_cast<const string&>(b);  // self-assignment keeps the text
    EXPECT_STREQ("hair", static_cast<const char*>(b));
    EXPECT_EQ(3, (string("abc") == string("abc")) + (string() == string()) + (string("x") == "x"));
    EXPECT_EQ(0, (string("abc") == string("abd")) + (string("abc") == string("ab")) +
                     (string() == string("")));
    const char* cases[][2] = {
        {"a.rla", "a.rla"}, {"a", "a.rla"}, {"rla", "rla.rla"}, {"a.rl", "a.rl.rla"}};
    for (const auto& s : cases)
        EXPECT_STREQ(s[1], static_cast<const char*>(string(s[0]).cond_append(".rla"))) << s[0];
}
