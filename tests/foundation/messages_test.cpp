#include "foundation/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/korvo_global.h"

namespace {

using Lines = std::vector<std::string>;

std::string print(const std::string& text) {
    return "print \"" + text + "\\n\"";
}
std::string header(const std::string& text) {
    return print(" Korvo Fur Renderer: " + text);
}
// The lines of a start or finish block, after the terminated line when asked.
Lines block(const std::string& label, bool terminated = false) {
    const std::string banner = print(std::string(74, '='));
    Lines lines{banner, print("                      Korvo Fur Renderer [" + label + "]"), banner};
    if (terminated) lines.insert(lines.begin(), header("Terminated"));
    return lines;
}

// A connected pair of stream sockets: end 0 for the library, end 1 for the controller.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fd)); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    std::uint64_t library() const { return static_cast<std::uint64_t>(fd[0]); }
    void closeController() { close(fd[1]), fd[1] = -1; }
    bool nonBlocking() const { return fcntl(fd[0], F_GETFL) & O_NONBLOCK; }
    // Every byte waiting at end k, without blocking.
    std::string read(int k = 1) const {
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = recv(fd[k], buffer, sizeof(buffer), MSG_DONTWAIT)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    }
};

std::string numbered(int type, int index, const std::string& text) {
    return std::to_string(getpid()) + " " + std::to_string(type) + " " + std::to_string(index) +
           " `" + text;
}

// decodeInfo's fields in the form of a numbered line, after "rejected " when
// it fails; the fields start as 0, infoFinished, 0 and "unchanged".
std::string decoded(const char* line) {
    infoType type = infoFinished;
    int pid = 0, index = 0;
    char text[kFurMessageLineSize] = "unchanged";
    const bool ok = decodeInfo(line, type, pid, index, text);
    return (ok ? "" : "rejected ") + std::to_string(pid) + " " + std::to_string(type) + " " +
           std::to_string(index) + " `" + text;
}

// Captures the host commands and restores every piece of message state.
class Messages : public testing::Test {
  protected:
    void SetUp() override {
        savedIndex_ = getMsgIndex();
        previousSink_ =
            KorvoGlobal::setCommandSink([this](const char* c) { commands.push_back(c); });
    }
    void TearDown() override {
        KorvoGlobal::setCommandSink(previousSink_);
        setMsgIndex(savedIndex_);
        setAdvancedRender(false);
        setPfd(kFurInvalidSocket);
        setSocketFd(kFurInvalidSocket);
        setPortID(nullptr);
        drv_display_mem_usage_ptr = nullptr;
    }
    // Sends one message with the pipe handle set and returns the one line it
    // wrote, checking that the line ends with the NUL separator.
    std::string sendAndReadLine(int type, const char* text) {
        SocketPair pair;
        setPfd(pair.library());
        EXPECT_EQ(pair.library(), getPfd());
        sendInfo(static_cast<infoType>(type), text);
        setPfd(kFurInvalidSocket);
        const std::string bytes = pair.read();
        EXPECT_EQ(bytes.size() - 1, bytes.find('\0')) << "one line, then its separator";
        return bytes.substr(0, bytes.find('\0'));
    }
    Lines commands;

  private:
    int savedIndex_ = 1;
    KorvoGlobal::CommandSink previousSink_;
};

}  // namespace

// For every type: the host lines, and the numbered line over the pipe with
// the documented index steps (cut to the line buffer), which decodes back up
// to the next backquote. The heartbeat is neither printed, numbered nor sent.
TEST_F(Messages, SendInfoHostAndNumberedLinesForEveryType) {
    const char* null = nullptr;
    const std::string quoted = "with `quote` inside", tabs = "tabs\tand spaces  ",
                      longText(3000, 'x');
    std::vector<std::tuple<int, const char*, Lines>> cases = {
        {infoMessage, "hello", {header("hello")}},
        {infoError, "Can't open data file a.hair", {header("Error, Can't open data file a.hair")}},
        {infoMessage, null, {header("")}},
        {infoMessage, quoted.c_str(), {header(quoted)}},
        {infoError, tabs.c_str(), {header("Error, " + tabs)}},
        {infoMessage, longText.c_str(), {header(longText)}},
        {infoStart, "ignored", block("Start")},
        {infoFinished, "NULL", block("Finished")},
        {infoFinished, "NULLified", block("Finished")},
        {infoFinished, "", block("Finished")},
        {infoFinished, null, block("Finished")},
        {infoFinished, "frame 12", block("frame 12")},
        {infoFinished, "Null", block("Null")},  // only the upper-case word means "no text"
        {infoTerminated, "NULL", block("Finished", true)},
        {infoTerminated, "user abort", block("user abort", true)},
        {infoTerminated, longText.c_str(), block(longText, true)},
        {infoHeartbeat, "tick", {}},
    };
    for (int unnamed : {5, 6, 0, 9, -1, 1000}) cases.emplace_back(unnamed, "x", Lines{});
    setMsgIndex(100);
    for (const auto& [type, text, expected] : cases) {
        SCOPED_TRACE(std::to_string(type) + " " + (text ? text : "(null)"));
        commands.clear();
        const int before = getMsgIndex(), lineIndex = before + (type == infoTerminated);
        const std::string line = sendAndReadLine(type, text);
        EXPECT_EQ(expected, commands);
        if (type == infoHeartbeat) {
            EXPECT_TRUE(line.empty() && getMsgIndex() == before);
            continue;
        }
        EXPECT_EQ(numbered(type, lineIndex, text ? text : "").substr(0, kFurMessageLineSize - 1),
                  line);
        EXPECT_EQ(lineIndex + 1, getMsgIndex());
        EXPECT_EQ(line.substr(0, line.find('`', line.find('`') + 1)), decoded(line.c_str()));
    }
}

TEST_F(Messages, AdvancedRenderSuppressesHostOutputButNotProgress) {
    setBackground(1);  // no effect on anything
    setAdvancedRender(true);
    setMsgIndex(3);
    const std::string line = sendAndReadLine(infoMessage, "quiet");
    sendInfo(infoFinished, "done");
    EXPECT_EQ(numbered(2, 3, "quiet"), line);
    EXPECT_EQ(5, getMsgIndex());
    startProgress("Reading hair file");
    completeProgress();
    processStatus(42);
    processStatus(-1);
    startProgress(nullptr);
    setAdvancedRender(false);
    sendInfo(infoMessage, "loud");
    EXPECT_EQ((Lines{"StartProgress Reading hair file", "CompleteProgress", "ProcessStatus 42 ",
                     "ProcessStatus -1 ", "StartProgress ", header("loud")}),
              commands);
}

TEST_F(Messages, IndexWrapsAndInvalidPipeStillNumbers) {
    setMsgIndex(INT_MAX);
    sendInfo(infoMessage, "last");
    EXPECT_EQ(INT_MIN, getMsgIndex());
    setPfd(static_cast<std::uint64_t>(INT_MAX) + 5);  // cannot be a descriptor
    sendInfo(infoMessage, "x");
    EXPECT_EQ(INT_MIN + 1, getMsgIndex());
    EXPECT_EQ((Lines{header("last"), header("x")}), commands);
}

TEST(DecodeInfo, ParsesClampsAndRejects) {
    const std::string rejected = "rejected 0 8 0 `unchanged";
    const std::pair<std::string, std::string> cases[] = {
        {"12 2 5 `hello` and more words", "12 2 5 `hello"},
        {"-3 99 -7 no quote at all", "-3 99 -7 `"},
        {"1\t3\n  4`x`", "1 3 4 `x"},
        {"1 2 3 ``", "1 2 3 `"},
        {"99999999999999999999 2 -99999999999999999999 `t", "2147483647 2 -2147483648 `t"},
        {"1 2 3 `" + std::string(5000, 'y'), "1 2 3 `" + std::string(1023, 'y')},
        {"12 2 `hello`", rejected},
        {"", rejected},
        {"a 1 2 3 `x`", rejected},
        {"1 2 - `x`", rejected},
    };
    for (const auto& [line, fields] : cases) EXPECT_EQ(fields, decoded(line.c_str())) << line;
    EXPECT_EQ(rejected, decoded(nullptr)) << "a null line";
}

TEST_F(Messages, PortIdBufferAndMemoryUsageHook) {
    char* buffer = getPortID();
    EXPECT_STREQ("", buffer);
    std::string id = "localhost:4711";
    setPortID(id.c_str());
    id[0] = 'X';
    EXPECT_STREQ("localhost:4711", getPortID());
    EXPECT_EQ(buffer, getPortID());
    setPortID(nullptr);
    EXPECT_STREQ("", getPortID());
    setPortID(std::string(2000, 'p').c_str());
    EXPECT_EQ(1023u, std::strlen(getPortID()));
    // The memory usage hook is called only when installed, with a copy it may change.
    static Lines texts;
    drv_display_mem_usage("MEMORY AT TIME OF FAILURE\n");
    drv_display_mem_usage_ptr = [](char* text) { texts.push_back(text), text[0] = '#'; };
    const char text[] = "ERROR: no more (internal) memory";
    drv_display_mem_usage(text);
    drv_display_mem_usage(nullptr);
    EXPECT_EQ((Lines{text, ""}), texts);
    EXPECT_STREQ("ERROR: no more (internal) memory", text);
}

TEST_F(Messages, PipeSendInfoSendsWithoutTerminatorAndEchoes) {
    SocketPair pair;
    pipeSendInfo(kFurInvalidSocket, "text");
    pipeSendInfo(pair.library(), "");
    pipeSendInfo(pair.library(), nullptr);
    EXPECT_TRUE(commands.empty());
    EXPECT_FALSE(pair.nonBlocking()) << "the socket was not touched";
    pipeSendInfo(pair.library(), "status 5");
    pipeSendInfo(pair.library(), "a");
    EXPECT_EQ("status 5a", pair.read());
    EXPECT_TRUE(pair.nonBlocking());
    pair.closeController();
    pipeSendInfo(pair.library(), "nobody listens");  // no signal, no failure
    EXPECT_EQ((Lines{print("status 5"), print("a"), print("nobody listens")}), commands);
}

TEST_F(Messages, CommPortSendInfoResults) {
    EXPECT_EQ(-1, commPortSendInfo("no socket yet"));
    {
        SocketPair pair;
        setSocketFd(pair.library());
        EXPECT_EQ(-1, commPortSendInfo("") + commPortSendInfo(nullptr) + 1);
        EXPECT_FALSE(pair.nonBlocking()) << "the socket was not touched";
        ASSERT_EQ(5, send(pair.fd[1], "reply", 5, 0));
        EXPECT_EQ(0, commPortSendInfo("render frame 3"));
        EXPECT_EQ("render frame 3", pair.read());
        EXPECT_EQ("", pair.read(0)) << "the peer's bytes were drained";
        EXPECT_TRUE(commands.empty()) << "nothing is echoed to the host";
        // A send that would block counts as sent.
        std::string chunk(65536, 'f');
        while (send(pair.fd[0], chunk.data(), chunk.size(), MSG_DONTWAIT) > 0) {
        }
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
        EXPECT_EQ(0, commPortSendInfo("one more"));
    }
    SocketPair closed;
    closed.closeController();
    setSocketFd(closed.library());
    EXPECT_EQ(-1, commPortSendInfo("lost"));
}

TEST(FlushFd, ShutsSendingDownAndDrainsThePeer) {
    SocketPair pair, closed;
    fcntl(pair.fd[0], F_SETFL, fcntl(pair.fd[0], F_GETFL) | O_NONBLOCK);
    ASSERT_EQ(3, send(pair.fd[1], "abc", 3, 0));
    flushfd(pair.library());
    char byte;
    EXPECT_EQ(-1, recv(pair.fd[0], &byte, 1, MSG_DONTWAIT)) << "pending bytes were read";
    EXPECT_EQ(0, recv(pair.fd[1], &byte, 1, MSG_DONTWAIT)) << "the peer reads the end of stream";
    EXPECT_EQ(-1, send(pair.fd[0], "x", 1, MSG_NOSIGNAL)) << "sending side is shut down";
    ASSERT_EQ(4, send(closed.fd[1], "left", 4, 0));
    closed.closeController();
    flushfd(closed.library());
    EXPECT_EQ(0, recv(closed.fd[0], &byte, 1, MSG_DONTWAIT)) << "only the end of stream is left";
    flushfd(kFurInvalidSocket);
    flushfd(static_cast<std::uint64_t>(INT_MAX) + 1);
}

TEST_F(Messages, ProgressReporterFollowsItsMode) {
    FurProgressReporter reporter;
    auto run = [&](int mode) {
        commands.clear();
        reporter.mode = mode;
        reporter.status(1, 2);
        reporter.phase("one", "zero");
        return commands;
    };
    EXPECT_TRUE(run(1).empty()) << "disabled by default";
    reporter.setEnabled(1);
    EXPECT_EQ((Lines{"ProcessStatus 1 ", "CompleteProgress", "StartProgress one"}), run(1));
    testing::internal::CaptureStdout();
    EXPECT_EQ((Lines{"ProcessStatus 2 ", "CompleteProgress", "StartProgress zero"}), run(0));
    EXPECT_EQ(
        "Generating default equalizer maps per fur description and copying to furAttrMap "
        "directory...\n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(Lines{"CompleteProgress"}, run(2));
    reporter.setEnabled(0);
    EXPECT_TRUE(run(1).empty());
}

TEST(LibrarySocket, NoSocketUntilOneIsStored) {
    EXPECT_EQ(kFurInvalidSocket, getSocketFd());
    EXPECT_EQ(~std::uint64_t(0), getSocketFd(true, "localhost", true));
    setSocketFd(9);
    EXPECT_EQ(9u, getSocketFd());
    EXPECT_EQ(9u, getSocketFd(false, nullptr, false));
    setSocketFd(kFurInvalidSocket);
    EXPECT_EQ(kFurInvalidSocket, getSocketFd());
}
