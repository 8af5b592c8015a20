#include "host/korvo_global.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the command through the default sink and returns what it printed.
std::string printedBy(const char* command) {
    testing::internal::CaptureStdout();
    KorvoGlobal::executeCommand(command, false, false);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(KorvoGlobal, DefaultSinkPrintsTheTextOfPrintCommands) {
    EXPECT_EQ(" Korvo Fur Renderer: hello\n", printedBy("print \" Korvo Fur Renderer: hello\\n\""));
    EXPECT_EQ("\n", printedBy("print \"\\n\""));
    // Without the backslash-n the text is still one line.
    EXPECT_EQ("plain\n", printedBy("print \"plain\""));
    // Texts are not escaped: everything up to the last quote belongs to them.
    EXPECT_EQ("say \"hi\"\n", printedBy("print \"say \"hi\"\\n\""));
    // Only a trailing backslash-n is taken off.
    EXPECT_EQ("a\\nb\n", printedBy("print \"a\\nb\\n\""));
}

TEST(KorvoGlobal, DefaultSinkIgnoresOtherCommands) {
    EXPECT_EQ("", printedBy("StartProgress Reading"));
    EXPECT_EQ("", printedBy("CompleteProgress"));
    EXPECT_EQ("", printedBy("ProcessStatus 4 "));
    EXPECT_EQ("", printedBy("println \"x\\n\""));
    EXPECT_EQ("", printedBy(""));
}

TEST(KorvoGlobal, InstalledSinkSeesEveryCommandVerbatim) {
    std::vector<std::string> seen;
    KorvoGlobal::CommandSink previous =
        KorvoGlobal::setCommandSink([&seen](const char* command) { seen.push_back(command); });
    EXPECT_FALSE(previous) << "the default sink is the empty function";

    testing::internal::CaptureStdout();
    KorvoStatus status = KorvoGlobal::executeCommand("print \"x\\n\"", false, false);
    KorvoGlobal::executeCommand("StartProgress a b", true, true);
    std::string printed = testing::internal::GetCapturedStdout();

    KorvoGlobal::CommandSink mine = KorvoGlobal::setCommandSink(previous);
    EXPECT_TRUE(mine);
    EXPECT_FALSE(status.error());
    EXPECT_EQ("", printed) << "an installed sink replaces the default one";
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("print \"x\\n\"", seen[0]);
    EXPECT_EQ("StartProgress a b", seen[1]);

    // Back to the default sink.
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
    testing::internal::CaptureStdout();
    KorvoGlobal::executeCommand("print \"first\\n\"");
    KorvoGlobal::executeCommand("print \"second\\n\"");
    EXPECT_EQ("second\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, calls);
}
