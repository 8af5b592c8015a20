#include "foundation/messages.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "host/korvo_global.h"
#include "test_support.h"

namespace {

// A connected pair of stream sockets: end 0 for the library, end 1 for the controller.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fd)); }
    ~SocketPair() { close(fd[0]), close(fd[1]); }
    std::uint64_t library() const { return static_cast<std::uint64_t>(fd[0]); }
    bool nonBlocking() const { return fcntl(fd[0], F_GETFL) & O_NONBLOCK; }
    std::string read(int k = 1) const {  // every byte waiting at end k
        char buffer[4096];
        const ssize_t n = recv(fd[k], buffer, sizeof(buffer), MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, n) + read(k) : "";
    }
};

// decodeInfo's fields as a numbered line, after "rejected " when it fails;
// the fields start as 0, infoFinished, 0 and "unchanged".
std::string decoded(const char* line) {
    infoType type = infoFinished;
    int pid = 0, index = 0;
    char text[kFurMessageLineSize] = "unchanged";
    const bool ok = decodeInfo(line, type, pid, index, text);
    return (ok ? "" : "rejected ") + std::to_string(pid) + " " + std::to_string(type) + " " +
           std::to_string(index) + " `" + text;
}

// Captures the host commands, one a line, and restores every piece of message state.
class Messages : public testing::Test {
  protected:
    void TearDown() override {
        KorvoGlobal::setCommandSink(sink_);
        setMsgIndex(1), setAdvancedRender(false), setPfd(kFurInvalidSocket);
        setSocketFd(kFurInvalidSocket);
    }
    std::string commands;
    KorvoGlobal::CommandSink sink_ =
        KorvoGlobal::setCommandSink([this](const char* c) { (commands += c) += '\n'; });
};

}  // namespace

// For every type: the host lines (sendinfo.printed holds them, each case
// after a line "-- type"), and the numbered line sent over the pipe handle
// (NUL-separated, cut to the line buffer) with the documented index steps,
// which decodes back. Only the upper-case word "NULL" means no text for
// infoFinished. The heartbeat is neither printed, numbered nor sent;
// the advanced-render flag silences the prints only, not the progress
// commands.
TEST_F(Messages, SendInfoHostAndNumberedLinesForEveryType) {
    const std::string longText(1100, 'x'), pid = std::to_string(getpid()) + " ";
    // 1 start, 2 message, 3 error, 4 terminated, 7 heartbeat, 8 finished; no names for the rest.
    const int types[] = {2, 3, 2, 2, 1, 8, 8, 8, 4, 7, 5, 6, 0, 9, -1};
    const std::vector<const char*> texts({"hello", "Can't open data file a", nullptr,
                                          longText.c_str(), "ignored", "NULLified", "", "Null",
                                          "user abort", "tick", "x", "x", "x", "x", "x"});
    setMsgIndex(100);
    for (bool advanced : {false, true}) {
        setAdvancedRender(advanced);
        for (int i = 0; i < 15; ++i) {
            const int type = types[i];
            SCOPED_TRACE(i);
            SocketPair pair;
            setPfd(pair.library());
            commands += advanced ? "" : "-- " + std::to_string(type) + "\n";
            const int before = getMsgIndex(), index = before + (type == infoTerminated);
            sendInfo(static_cast<infoType>(type), texts[i]);
            const std::string bytes = pair.read(), line = bytes.substr(0, bytes.find('\0'));
            const bool numbered = type != infoHeartbeat;
            EXPECT_EQ(numbered ? index + 1 : before, getMsgIndex());
            EXPECT_EQ(numbered ? line.size() + 1 : 0, bytes.size()) << "the line, then a NUL";
            if (!numbered) continue;
            const std::string want = pid + std::to_string(type) + " " + std::to_string(index) +
                                     " `" + (texts[i] ? texts[i] : "");
            EXPECT_EQ(want.substr(0, kFurMessageLineSize - 1), line);
            EXPECT_EQ(line, decoded(line.c_str()));
        }
    }
    std::ifstream file(KORVO_TEST_DATA "/foundation/sendinfo.printed");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), commands);
    commands.clear();  // progress commands are not silenced
    startProgress("Reading hair file"), completeProgress(), processStatus(42);
    EXPECT_EQ("StartProgress Reading hair file\nCompleteProgress\nProcessStatus 42 \n", commands);
}

TEST(DecodeInfo, ParsesClampsAndRejects) {
    const std::string rejected = "rejected 0 8 0 `unchanged";
    const std::pair<std::string, std::string> cases[] = {
        {"12 2 5 `hello` and more words", "12 2 5 `hello"},
        {"-3 99 -7 no quote at all", "-3 99 -7 `"},
        {"1 2 3 `" + std::string(5000, 'y'), "1 2 3 `" + std::string(1023, 'y')},
        {"12 2 `hello`", rejected},
        {"a 1 2 3 `x`", rejected}};
    for (const auto& [line, fields] : cases) EXPECT_EQ(fields, decoded(line.c_str())) << line;
    EXPECT_EQ(rejected, decoded(nullptr)) << "a null line";
}

// The pipe sender echoes and sends without terminator; the port sender uses
// the library socket, echoes nothing, drains the peer and counts a send that
// would block as sent. Neither touches a socket for an empty text. flushfd
// shuts the sending side down and drains the peer.
TEST_F(Messages, PipeAndPortSenders) {
    SocketPair pipe, port;
    pipeSendInfo(kFurInvalidSocket, "text"), pipeSendInfo(pipe.library(), "");
    EXPECT_EQ(-1, commPortSendInfo("no socket yet"));
    setSocketFd(port.library());
    EXPECT_EQ(-2, commPortSendInfo("") + commPortSendInfo(nullptr));
    EXPECT_TRUE(commands.empty() && !pipe.nonBlocking() && !port.nonBlocking());
    pipeSendInfo(pipe.library(), "status 5"), pipeSendInfo(pipe.library(), "a");
    ASSERT_EQ(5, ::send(port.fd[1], "reply", 5, 0));
    EXPECT_EQ(0, commPortSendInfo("render frame 3"));
    EXPECT_EQ("status 5a", pipe.read());
    EXPECT_EQ("render frame 3", port.read());
    EXPECT_EQ("", port.read(0)) << "the peer's bytes were drained";
    EXPECT_TRUE(pipe.nonBlocking() && commands == "print \"status 5\\n\"\nprint \"a\\n\"\n");
    std::string chunk(65536, 'f');
    while (::send(port.fd[0], chunk.data(), chunk.size(), MSG_DONTWAIT) > 0) continue;
    ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    EXPECT_EQ(0, commPortSendInfo("one more"));
    ASSERT_EQ(3, ::send(pipe.fd[1], "abc", 3, 0));
    flushfd(pipe.library());
    EXPECT_EQ("", pipe.read(0)) << "pending bytes were read";
    EXPECT_EQ(0, recv(pipe.fd[1], chunk.data(), 1, MSG_DONTWAIT)) << "the peer sees the end";
}
