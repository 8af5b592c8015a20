#include "host/korvo_global.h"

#include <vector>

#include "test_support.h"

// The default sink prints the text of print commands only (up to the last
// quote, a trailing backslash-n dropped); an installed sink sees every
// command as it is, and may put the previous one back while it runs.
TEST(KorvoGlobal, CommandSinks) {
    const char* cases[][2] = {{"print \"hi\\n\"", "hi\n"},
                              {"print \"plain\"", "plain\n"},
                              {"print \"say \"hi\"\\n\"", "say \"hi\"\n"},
                              {"print \"a\\nb\\n\"", "a\\nb\n"},
                              {"StartProgress Reading", ""},
                              {"println \"x\\n\"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], captured([&] { KorvoGlobal::executeCommand(c[0], false, false); })) << c[0];
    std::vector<std::string> seen;
    KorvoGlobal::CommandSink previous;
    previous = KorvoGlobal::setCommandSink(
        [&](const char* c) { seen.push_back(c), KorvoGlobal::setCommandSink(previous); });
    EXPECT_EQ(
        "second\n", captured([] {
            EXPECT_FALSE(KorvoGlobal::executeCommand("print \"first\\n\"", true, true).error());
            KorvoGlobal::executeCommand("print \"second\\n\"", false, false);
        }));
    EXPECT_EQ(std::vector<std::string>{"print \"first\\n\""}, seen);
}
