#include "host/korvo_global.h"

#include <vector>

#include "test_support.h"

namespace {

// Runs the command through the current sink and returns what it printed.
std::string printedBy(const char* command) {
    return captured([&] { KorvoGlobal::executeCommand(command, false, false); });
}

}  // namespace

TEST(KorvoGlobal, DefaultSinkPrintsTheTextOfPrintCommandsOnly) {
    const char* cases[][2] = {
        {"print \" Korvo Fur Renderer: hello\\n\"", " Korvo Fur Renderer: hello\n"},
        {"print \"\\n\"", "\n"},
        {"print \"plain\"", "plain\n"},               // without backslash-n, still one line
        {"print \"say \"hi\"\\n\"", "say \"hi\"\n"},  // not escaped: up to the last quote
        {"print \"a\\nb\\n\"", "a\\nb\n"},            // only a trailing backslash-n goes
        {"StartProgress Reading", ""},
        {"println \"x\\n\"", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], printedBy(c[0])) << c[0];
}

TEST(KorvoGlobal, InstalledSinkSeesEveryCommandVerbatimAndMayReplaceItself) {
    std::vector<std::string> seen;
    KorvoGlobal::CommandSink previous =
        KorvoGlobal::setCommandSink([&seen](const char* command) { seen.push_back(command); });
    EXPECT_FALSE(previous) << "the default sink is the empty function";
    EXPECT_EQ("", captured([] {
                  EXPECT_FALSE(KorvoGlobal::executeCommand("print \"x\\n\"", false, false).error());
                  KorvoGlobal::executeCommand("StartProgress a b", true, true);
              }))
        << "it replaces the default sink";
    EXPECT_TRUE(KorvoGlobal::setCommandSink(previous));
    EXPECT_EQ((std::vector<std::string>{"print \"x\\n\"", "StartProgress a b"}), seen);
    EXPECT_EQ("y\n", printedBy("print \"y\\n\""));
    // A sink that puts the previous one back while it runs.
    KorvoGlobal::setCommandSink([&](const char* c) {
        seen.push_back(c);
        KorvoGlobal::setCommandSink(previous);
    });
    EXPECT_EQ("", printedBy("print \"first\\n\""));
    EXPECT_EQ("second\n", printedBy("print \"second\\n\""));
    EXPECT_EQ(3u, seen.size());
}
