#include "foundation/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/korvo_global.h"
#include "hostlink/socket_state.h"

namespace {

const std::string kBanner(74, '=');

// The host command that prints one line.
std::string printCommand(const std::string& text) {
    return "print \"" + text + "\\n\"";
}

std::string withHeader(const std::string& text) {
    return printCommand(" Korvo Fur Renderer: " + text);
}

std::string finishedBlockLine() {
    return printCommand("                      Korvo Fur Renderer [Finished]");
}

// A connected pair of stream sockets: end 0 for the library, end 1 for the
// controlling process.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fd)); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    std::uint64_t library() const { return static_cast<std::uint64_t>(fd[0]); }
    void closeController() {
        close(fd[1]);
        fd[1] = -1;
    }
};

// Every byte waiting on the descriptor, without blocking.
std::string readAvailable(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) bytes.append(buffer, n);
    return bytes;
}

// The NUL-separated lines in a stream of numbered messages.
std::vector<std::string> splitLines(const std::string& stream) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = stream.find('\0', start)) != std::string::npos) {
        lines.push_back(stream.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(stream.size(), start) << "the stream ends with a separator";
    return lines;
}

std::string numberedLine(int type, int index, const std::string& text) {
    return std::to_string(getpid()) + " " + std::to_string(type) + " " + std::to_string(index) +
           " `" + text;
}

// Captures the host commands and restores every piece of message state.
class MessageState : public testing::Test {
  protected:
    void SetUp() override {
        savedIndex_ = getMsgIndex();
        previousSink_ = KorvoGlobal::setCommandSink(
            [this](const char* command) { commands.push_back(command); });
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

    // Sends one message with the pipe handle set and returns its line.
    std::string sendAndReadLine(infoType type, const char* text) {
        SocketPair pair;
        setPfd(pair.library());
        sendInfo(type, text);
        setPfd(kFurInvalidSocket);
        std::vector<std::string> lines = splitLines(readAvailable(pair.fd[1]));
        EXPECT_EQ(1u, lines.size());
        return lines.empty() ? std::string() : lines[0];
    }

    std::vector<std::string> commands;

  private:
    int savedIndex_ = 1;
    KorvoGlobal::CommandSink previousSink_;
};

using SendInfo = MessageState;
using PipeSendInfo = MessageState;
using CommPortSendInfo = MessageState;
using Progress = MessageState;
using MessagePort = MessageState;

}  // namespace

// --- sendInfo: host output -----------------------------------------------------

TEST_F(SendInfo, MessageAndErrorCarryTheHeader) {
    sendInfo(infoMessage, "hello");
    sendInfo(infoError, "Can't open data file a.hair");
    sendInfo(infoMessage, nullptr);
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ(withHeader("hello"), commands[0]);
    EXPECT_EQ(withHeader("Error, Can't open data file a.hair"), commands[1]);
    EXPECT_EQ(withHeader(""), commands[2]);
}

TEST_F(SendInfo, StartPrintsBannersAroundTheStartLine) {
    sendInfo(infoStart, "ignored");
    std::vector<std::string> expected = {
        printCommand(kBanner), printCommand("                      Korvo Fur Renderer [Start]"),
        printCommand(kBanner)};
    EXPECT_EQ(expected, commands);
}

TEST_F(SendInfo, FinishedBlockNamesTheTextOrSaysFinished) {
    for (const char* finishedText : {"NULL", "NULLified", "", static_cast<const char*>(nullptr)}) {
        commands.clear();
        sendInfo(infoFinished, finishedText);
        std::vector<std::string> expected = {printCommand(kBanner), finishedBlockLine(),
                                             printCommand(kBanner)};
        EXPECT_EQ(expected, commands) << (finishedText ? finishedText : "(null)");
    }
    commands.clear();
    sendInfo(infoFinished, "frame 12");
    std::vector<std::string> expected = {
        printCommand(kBanner), printCommand("                      Korvo Fur Renderer [frame 12]"),
        printCommand(kBanner)};
    EXPECT_EQ(expected, commands);
    commands.clear();
    sendInfo(infoFinished, "Null");  // only the upper-case word means "no text"
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ(printCommand("                      Korvo Fur Renderer [Null]"), commands[1]);
}

TEST_F(SendInfo, TerminatedPrintsTerminatedThenFinishBlock) {
    sendInfo(infoTerminated, "NULL");
    std::vector<std::string> expected = {withHeader("Terminated"), printCommand(kBanner),
                                         finishedBlockLine(), printCommand(kBanner)};
    EXPECT_EQ(expected, commands);
    commands.clear();
    sendInfo(infoTerminated, "user abort");
    ASSERT_EQ(4u, commands.size());
    EXPECT_EQ(printCommand("                      Korvo Fur Renderer [user abort]"), commands[2]);
}

TEST_F(SendInfo, UnnamedTypesAndHeartbeatPrintNothing) {
    for (int type : {5, 6, 7, 0, 9, -1, 1000}) sendInfo(static_cast<infoType>(type), "x");
    EXPECT_TRUE(commands.empty());
}

TEST_F(SendInfo, DefaultSinkWritesTheLinesToStandardOutput) {
    KorvoGlobal::CommandSink mine = KorvoGlobal::setCommandSink(nullptr);
    testing::internal::CaptureStdout();
    sendInfo(infoMessage, "growing hair");
    sendInfo(infoFinished, nullptr);
    std::string printed = testing::internal::GetCapturedStdout();
    KorvoGlobal::setCommandSink(mine);
    EXPECT_EQ(" Korvo Fur Renderer: growing hair\n" + kBanner + "\n" +
                  "                      Korvo Fur Renderer [Finished]\n" + kBanner + "\n",
              printed);
}

TEST_F(SendInfo, AdvancedRenderSuppressesHostOutputOnly) {
    setAdvancedRender(true);
    setMsgIndex(3);
    std::string line = sendAndReadLine(infoMessage, "quiet");
    sendInfo(infoFinished, "done");
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(numberedLine(2, 3, "quiet"), line);
    EXPECT_EQ(5, getMsgIndex());
    setAdvancedRender(false);
    sendInfo(infoMessage, "loud");
    EXPECT_EQ(std::vector<std::string>{withHeader("loud")}, commands);
}

// --- sendInfo: numbering ---------------------------------------------------------

TEST_F(SendInfo, NumbersEachTypeAsDocumented) {
    struct Case {
        int type;
        int lineIndex;  // relative to the index before the call
        int indexAfter;
    };
    const Case cases[] = {{1, 0, 1}, {2, 0, 1}, {3, 0, 1}, {4, 1, 2},
                          {5, 0, 1}, {6, 0, 1}, {8, 0, 1}, {42, 0, 1}};
    for (const Case& c : cases) {
        setMsgIndex(10);
        std::string line = sendAndReadLine(static_cast<infoType>(c.type), "text");
        EXPECT_EQ(numberedLine(c.type, 10 + c.lineIndex, "text"), line) << "type " << c.type;
        EXPECT_EQ(10 + c.indexAfter, getMsgIndex()) << "type " << c.type;
    }
}

TEST_F(SendInfo, HeartbeatHasNoEffectAtAll) {
    SocketPair pair;
    setPfd(pair.library());
    setMsgIndex(7);
    sendInfo(infoHeartbeat, "");
    sendInfo(infoHeartbeat, "tick");
    EXPECT_EQ(7, getMsgIndex());
    EXPECT_EQ("", readAvailable(pair.fd[1]));
    EXPECT_TRUE(commands.empty());
}

TEST_F(SendInfo, ConsecutiveMessagesCarryConsecutiveIndexes) {
    SocketPair pair;
    setPfd(pair.library());
    setMsgIndex(1);
    sendInfo(infoMessage, "a");
    sendInfo(infoError, "b");
    sendInfo(infoTerminated, "c");
    sendInfo(infoMessage, nullptr);
    std::vector<std::string> expected = {numberedLine(2, 1, "a"), numberedLine(3, 2, "b"),
                                         numberedLine(4, 4, "c"), numberedLine(2, 5, "")};
    EXPECT_EQ(expected, splitLines(readAvailable(pair.fd[1])));
    EXPECT_EQ(6, getMsgIndex());
    // The line is not echoed to the host a second time.
    EXPECT_EQ(withHeader("a"), commands.front());
    EXPECT_EQ(withHeader(""), commands.back());
}

TEST_F(SendInfo, IndexWrapsInsteadOfOverflowing) {
    setMsgIndex(INT_MAX);
    sendInfo(infoMessage, "last");
    EXPECT_EQ(INT_MIN, getMsgIndex());
}

TEST_F(SendInfo, LongTextIsCutToTheLineBuffer) {
    std::string text(3000, 'x');
    std::string line = sendAndReadLine(infoMessage, text.c_str());
    EXPECT_EQ(static_cast<std::size_t>(kFurMessageLineSize - 1), line.size());
    infoType type;
    int pid, index;
    char decoded[kFurMessageLineSize];
    ASSERT_TRUE(decodeInfo(line.c_str(), type, pid, index, decoded));
    EXPECT_EQ(line.size() - line.find('`') - 1, std::strlen(decoded));
}

TEST_F(SendInfo, InvalidPipeHandleSendsNothingAndStillNumbers) {
    setMsgIndex(1);
    setPfd(static_cast<std::uint64_t>(INT_MAX) + 5);  // cannot be a descriptor
    sendInfo(infoMessage, "x");
    EXPECT_EQ(2, getMsgIndex());
    EXPECT_EQ(1u, commands.size());
}

// --- decodeInfo ------------------------------------------------------------------

TEST(DecodeInfo, ReadsNumbersAndTextUpToTheClosingBackquote) {
    infoType type = infoStart;
    int pid = 0, index = 0;
    char text[kFurMessageLineSize] = "unchanged";
    ASSERT_TRUE(decodeInfo("12 2 5 `hello` and more words", type, pid, index, text));
    EXPECT_EQ(12, pid);
    EXPECT_EQ(infoMessage, type);
    EXPECT_EQ(5, index);
    EXPECT_STREQ("hello", text);

    ASSERT_TRUE(decodeInfo("12 2 5 `hello and more", type, pid, index, text));
    EXPECT_STREQ("hello and more", text);
    ASSERT_TRUE(decodeInfo("-3 99 -7 no quote at all", type, pid, index, text));
    EXPECT_EQ(-3, pid);
    EXPECT_EQ(99, static_cast<int>(type));
    EXPECT_EQ(-7, index);
    EXPECT_STREQ("", text);
    ASSERT_TRUE(decodeInfo("1\t3\n  4`x`", type, pid, index, text));
    EXPECT_EQ(infoError, type);
    EXPECT_EQ(4, index);
    EXPECT_STREQ("x", text);
    ASSERT_TRUE(decodeInfo("1 2 3 ``", type, pid, index, text));
    EXPECT_STREQ("", text);
}

TEST(DecodeInfo, RejectsLinesWithoutThreeNumbers) {
    infoType type = infoFinished;
    int pid = 0, index = 0;
    char text[kFurMessageLineSize] = "unchanged";
    EXPECT_FALSE(decodeInfo(nullptr, type, pid, index, text));
    EXPECT_FALSE(decodeInfo("12 2 `hello`", type, pid, index, text));
    EXPECT_FALSE(decodeInfo("", type, pid, index, text));
    EXPECT_FALSE(decodeInfo("a 1 2 3 `x`", type, pid, index, text));
    EXPECT_FALSE(decodeInfo("1 2 - `x`", type, pid, index, text));
    EXPECT_EQ(infoFinished, type);
    EXPECT_STREQ("unchanged", text);
}

TEST(DecodeInfo, ClampsNumbersAndTextLength) {
    infoType type;
    int pid = 0, index = 0;
    char text[kFurMessageLineSize];
    ASSERT_TRUE(
        decodeInfo("99999999999999999999 2 -99999999999999999999 `t", type, pid, index, text));
    EXPECT_EQ(INT_MAX, pid);
    EXPECT_EQ(INT_MIN, index);
    std::string longLine = "1 2 3 `" + std::string(5000, 'y');
    ASSERT_TRUE(decodeInfo(longLine.c_str(), type, pid, index, text));
    EXPECT_EQ(1023u, std::strlen(text));
}

TEST_F(SendInfo, DecodeInfoRoundTripsEveryLine) {
    const char* texts[] = {"plain", "", "with `quote` inside", "tabs\tand spaces  "};
    setMsgIndex(100);
    for (int type : {1, 2, 3, 4, 5, 6, 8, 77}) {
        for (const char* sent : texts) {
            int before = getMsgIndex();
            std::string line = sendAndReadLine(static_cast<infoType>(type), sent);
            infoType decodedType;
            int pid = 0, index = 0;
            char decoded[kFurMessageLineSize];
            ASSERT_TRUE(decodeInfo(line.c_str(), decodedType, pid, index, decoded)) << line;
            EXPECT_EQ(getpid(), pid);
            EXPECT_EQ(type, static_cast<int>(decodedType));
            EXPECT_EQ(type == 4 ? before + 1 : before, index);
            // The text runs to the first backquote of the text itself.
            std::string expected(sent);
            expected = expected.substr(0, expected.find('`'));
            EXPECT_EQ(expected, decoded) << "type " << type << " text " << sent;
        }
    }
}

// --- Message state ------------------------------------------------------------------

TEST_F(MessagePort, PortIdIsCopiedIntoTheModuleBuffer) {
    char* buffer = getPortID();
    EXPECT_STREQ("", buffer);
    std::string id = "localhost:4711";
    setPortID(id.c_str());
    id[0] = 'X';
    EXPECT_STREQ("localhost:4711", getPortID());
    EXPECT_EQ(buffer, getPortID()) << "always the same buffer";
    setPortID(nullptr);
    EXPECT_STREQ("", getPortID());
    std::string longId(2000, 'p');
    setPortID(longId.c_str());
    EXPECT_EQ(1023u, std::strlen(getPortID()));
}

TEST_F(MessagePort, StateAccessorsStoreTheirValues) {
    EXPECT_EQ(kFurInvalidSocket, getPfd());
    setPfd(17);
    EXPECT_EQ(17u, getPfd());
    setMsgIndex(-4);
    EXPECT_EQ(-4, getMsgIndex());
    setBackground(1);  // no effect on anything
    sendInfo(infoMessage, "m");
    EXPECT_EQ(-3, getMsgIndex());
    EXPECT_EQ(std::vector<std::string>{withHeader("m")}, commands);
}

namespace {
std::vector<std::string> g_memoryTexts;
void recordMemoryUsage(char* text) {
    g_memoryTexts.push_back(text);
    text[0] = '#';  // the hook gets a copy it may change
}
}  // namespace

TEST_F(MessagePort, MemoryUsageHookIsCalledWhenInstalled) {
    g_memoryTexts.clear();
    EXPECT_EQ(nullptr, drv_display_mem_usage_ptr);
    drv_display_mem_usage("MEMORY AT TIME OF FAILURE\n");  // no hook: nothing happens
    drv_display_mem_usage_ptr = recordMemoryUsage;
    const char text[] = "ERROR: no more (internal) memory";
    drv_display_mem_usage(text);
    drv_display_mem_usage(nullptr);
    std::vector<std::string> expected = {text, ""};
    EXPECT_EQ(expected, g_memoryTexts);
    EXPECT_STREQ("ERROR: no more (internal) memory", text);
}

// --- pipeSendInfo ---------------------------------------------------------------------

TEST_F(PipeSendInfo, SendsTheTextWithoutTerminatorAndEchoesIt) {
    SocketPair pair;
    pipeSendInfo(pair.library(), "status 5");
    EXPECT_EQ("status 5", readAvailable(pair.fd[1]));
    EXPECT_EQ(std::vector<std::string>{printCommand("status 5")}, commands);
    EXPECT_NE(0, fcntl(pair.fd[0], F_GETFL) & O_NONBLOCK) << "the socket is now non-blocking";
    pipeSendInfo(pair.library(), "a");
    pipeSendInfo(pair.library(), "b");
    EXPECT_EQ("ab", readAvailable(pair.fd[1]));
}

TEST_F(PipeSendInfo, InvalidHandleOrEmptyTextDoesNothing) {
    SocketPair pair;
    pipeSendInfo(kFurInvalidSocket, "text");
    pipeSendInfo(pair.library(), "");
    pipeSendInfo(pair.library(), nullptr);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ("", readAvailable(pair.fd[1]));
    EXPECT_EQ(0, fcntl(pair.fd[0], F_GETFL) & O_NONBLOCK) << "the socket was not touched";
}

TEST_F(PipeSendInfo, FailedSendIsAbsorbed) {
    SocketPair pair;
    pair.closeController();
    pipeSendInfo(pair.library(), "nobody listens");  // no signal, no failure
    EXPECT_EQ(std::vector<std::string>{printCommand("nobody listens")}, commands);
}

// --- commPortSendInfo --------------------------------------------------------------------

TEST_F(CommPortSendInfo, EmptyTextOrNoSocketReturnsMinusOne) {
    SocketPair pair;
    EXPECT_EQ(-1, commPortSendInfo("no socket yet"));
    setSocketFd(pair.library());
    EXPECT_EQ(-1, commPortSendInfo(""));
    EXPECT_EQ(-1, commPortSendInfo(nullptr));
    EXPECT_EQ(0, fcntl(pair.fd[0], F_GETFL) & O_NONBLOCK) << "the socket was not touched";
    EXPECT_EQ("", readAvailable(pair.fd[1]));
}

TEST_F(CommPortSendInfo, SendsTextAndDiscardsWhatThePeerSent) {
    SocketPair pair;
    ASSERT_EQ(5, send(pair.fd[1], "reply", 5, 0));
    setSocketFd(pair.library());
    EXPECT_EQ(0, commPortSendInfo("render frame 3"));
    EXPECT_EQ("render frame 3", readAvailable(pair.fd[1]));
    EXPECT_EQ("", readAvailable(pair.fd[0])) << "the peer's bytes were drained";
    EXPECT_TRUE(commands.empty()) << "nothing is echoed to the host";
}

TEST_F(CommPortSendInfo, SendThatWouldBlockCountsAsSent) {
    SocketPair pair;
    setSocketFd(pair.library());
    fcntl(pair.fd[0], F_SETFL, fcntl(pair.fd[0], F_GETFL) | O_NONBLOCK);
    std::string block(65536, 'f');
    while (send(pair.fd[0], block.data(), block.size(), MSG_DONTWAIT) > 0) {
    }
    ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    EXPECT_EQ(0, commPortSendInfo("one more"));
}

TEST_F(CommPortSendInfo, FailedSendReturnsMinusOne) {
    SocketPair pair;
    pair.closeController();
    setSocketFd(pair.library());
    EXPECT_EQ(-1, commPortSendInfo("lost"));
}

// --- flushfd -------------------------------------------------------------------------------

TEST(FlushFd, ShutsSendingDownAndDrainsThePeer) {
    SocketPair pair;
    ASSERT_EQ(4, send(pair.fd[1], "left", 4, 0));
    pair.closeController();
    flushfd(pair.library());
    char byte;
    EXPECT_EQ(0, recv(pair.fd[0], &byte, 1, MSG_DONTWAIT)) << "only the end of stream is left";
    EXPECT_EQ(-1, send(pair.fd[0], "x", 1, MSG_NOSIGNAL)) << "sending side is shut down";
}

TEST(FlushFd, PeerSeesEndOfStream) {
    SocketPair pair;
    fcntl(pair.fd[0], F_SETFL, fcntl(pair.fd[0], F_GETFL) | O_NONBLOCK);
    ASSERT_EQ(3, send(pair.fd[1], "abc", 3, 0));
    flushfd(pair.library());
    EXPECT_EQ("", readAvailable(pair.fd[0])) << "pending bytes were read";
    char byte;
    EXPECT_EQ(0, recv(pair.fd[1], &byte, 1, MSG_DONTWAIT)) << "the peer reads the end of stream";
}

TEST(FlushFd, InvalidHandleIsIgnored) {
    flushfd(kFurInvalidSocket);
    flushfd(static_cast<std::uint64_t>(INT_MAX) + 1);
}

// --- Progress commands ----------------------------------------------------------------------

TEST_F(Progress, CommandsRunEvenInAdvancedRender) {
    setAdvancedRender(true);
    startProgress("Reading hair file");
    completeProgress();
    processStatus(42);
    processStatus(-1);
    startProgress(nullptr);
    std::vector<std::string> expected = {"StartProgress Reading hair file", "CompleteProgress",
                                         "ProcessStatus 42 ", "ProcessStatus -1 ",
                                         "StartProgress "};
    EXPECT_EQ(expected, commands);
}

TEST_F(Progress, ReporterFollowsItsMode) {
    FurProgressReporter reporter;
    reporter.status(1, 2);
    reporter.phase("a", "b");
    EXPECT_TRUE(commands.empty()) << "disabled by default";

    reporter.setEnabled(1);
    reporter.mode = 1;
    reporter.status(1, 2);
    reporter.phase("one", "zero");
    std::vector<std::string> mode1 = {"ProcessStatus 1 ", "CompleteProgress", "StartProgress one"};
    EXPECT_EQ(mode1, commands);

    commands.clear();
    reporter.mode = 0;
    testing::internal::CaptureStdout();
    reporter.status(1, 2);
    reporter.phase("one", "zero");
    std::string printed = testing::internal::GetCapturedStdout();
    std::vector<std::string> mode0 = {"ProcessStatus 2 ", "CompleteProgress", "StartProgress zero"};
    EXPECT_EQ(mode0, commands);
    EXPECT_EQ(
        "Generating default equalizer maps per fur description and copying to furAttrMap "
        "directory...\n",
        printed);

    commands.clear();
    reporter.mode = 2;
    reporter.status(1, 2);
    reporter.phase("one", "zero");
    EXPECT_EQ(std::vector<std::string>{"CompleteProgress"}, commands);

    commands.clear();
    reporter.setEnabled(0);
    reporter.mode = 1;
    reporter.phase("one", "zero");
    EXPECT_TRUE(commands.empty());
}
