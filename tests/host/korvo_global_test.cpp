#include "host/korvo_global.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the command through the current sink and returns what it printed.
std::string printedBy(const char* command) {
    testing::internal::CaptureStdout();
    KorvoGlobal::executeCommand(command, false, false);
    return testing::internal::GetCapturedStdout();
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
        {"CompleteProgress", ""},
        {"ProcessStatus 4 ", ""},
        {"println \"x\\n\"", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], printedBy(c[0])) << c[0];
}

TEST(KorvoGlobal, InstalledSinkSeesEveryCommandVerbatim) {
    std::vector<std::string> seen;
    KorvoGlobal::CommandSink previous =
        KorvoGlobal::setCommandSink([&seen](const char* command) { seen.push_back(command); });
    EXPECT_FALSE(previous) << "the default sink is the empty function";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(KorvoGlobal::executeCommand("print \"x\\n\"", false, false).error());
    KorvoGlobal::executeCommand("StartProgress a b", true, true);
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "it replaces the default sink";
    EXPECT_TRUE(KorvoGlobal::setCommandSink(previous));
    EXPECT_EQ((std::vector<std::string>{"print \"x\\n\"", "StartProgress a b"}), seen);
    EXPECT_EQ("y\n", printedBy("print \"y\\n\""));
    EXPECT_EQ(2u, seen.size());
}

TEST(KorvoGlobal, SinkMayReplaceItselfWhileRunning) {
    int calls = 0;
    KorvoGlobal::CommandSink previous;
    previous = KorvoGlobal::setCommandSink([&](const char*) {
        ++calls;
        KorvoGlobal::setCommandSink(previous);
    });
    EXPECT_EQ("", printedBy("print \"first\\n\""));
    EXPECT_EQ("second\n", printedBy("print \"second\\n\""));
    EXPECT_EQ(1, calls);
}
