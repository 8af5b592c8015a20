// The child link with real children: /bin/sh scripts that learn their socket
// from the command line ($0) and talk through it.
#include "hostlink/process.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>

namespace {

constexpr std::uint64_t kUntouched = 0xABCDu;

int openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// What the other end writes until it closes its end, or up to a newline
// with line set; "<timeout>" at the end when nothing comes for 10 s.
std::string readFrom(int fd, bool line = false) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (poll(&p, 1, 10000) <= 0) return "<timeout>";
    return read(fd, &c, 1) != 1 ? "" : c + (line && c == '\n' ? "" : readFrom(fd, line));
}

// Polls a held process until it ends (or 10 s pass); its exit code.
std::int32_t exitCode(fur_process_handle h) {
    std::int32_t code = -99;
    for (int i = 0; i < 1000 && isProcessActive(h, &code); ++i) usleep(10000);
    return code;
}

}  // namespace

// Four children: one answers and exits with the code the parent sent, one
// dies of a signal (128 plus the signal), one still running is killed and
// collected, one without a conversion in its format exits at once (it may
// never be seen running, but the parent's end is handed over all the same);
// null handles are left alone. The parent keeps only its own end, so it sees
// the end once the child has gone.
TEST(ProcessLink, ChildrenTalkExitDieAndAreKilled) {
    unsetenv("KORVO_IP_TYPE");
    std::uint64_t sock[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    fur_process_handle h[4] = {};
    const char* formats[] = {
        "/bin/sh -c \"echo child $0 >&$0; read x <&$0; echo got $x >&$0; exit $x\" %d",
        "/bin/sh -c \"read x <&$0; kill -TERM $$\" %d", "sleep 30 %d", "/bin/sh -c \"exit 3\""};
    for (int i = 0; i < 4; ++i) setProcessId(h[i], createConnectedProcess(formats[i], sock[i]));
    EXPECT_NE(kUntouched, sock[3]);
    const int fd[4] = {int(sock[0]), int(sock[1]), int(sock[2]), int(sock[3])};
    const std::string said = readFrom(fd[0], true);
    EXPECT_TRUE(said.rfind("child ", 0) == 0 && std::atoi(said.c_str() + 6) > 2) << said;
    std::int32_t code = 77;
    EXPECT_TRUE(isProcessActive(h[1], &code) && code == 77) << "untouched while running";
    ASSERT_TRUE(write(fd[0], "5\n", 2) == 2 && write(fd[1], "x\n", 2) == 2);
    EXPECT_EQ("got 5\n", readFrom(fd[0]));
    EXPECT_EQ(10, exitCode(h[0]) + exitCode(h[0])) << "exit code 5, and the status stays readable";
    EXPECT_EQ(128 + SIGTERM, exitCode(h[1]));
    killOffProcess(h[2]);
    EXPECT_EQ("", readFrom(fd[2])) << "the child's end closed";
    EXPECT_EQ(nullptr, h[2]);
    for (int i = 0; i < 4; ++i) close(fd[i]), invalidateProcessId(h[i]);
    setProcessId(h[0], 0x7ffffff0);  // no such process, then a null handle
    killOffProcess(h[0]), killOffProcess(h[0]), invalidateProcessId(h[0]);
    EXPECT_TRUE(!validProcessId(h[0]) && !isProcessActive(nullptr, &code) && code == 0);
}

// Commands that cannot start and formats that do not take one integer give
// -1, leave the socket alone and close everything they made.
TEST(ProcessLink, FailuresLeaveTheSocketAloneAndCloseWhatTheyMade) {
    const int before = openDescriptors();
    for (const char* format : {"/nonexistent/worker %d", "", "\"\" %d", "worker %s", "worker %d %d",
                               "worker %", static_cast<const char*>(nullptr)}) {
        std::uint64_t sock = kUntouched;
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, createConnectedProcess(format, sock)) << (format ? format : "null");
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(sock == kUntouched && before == openDescriptors()) << format;
    }
}

// KORVO_IP_TYPE picks the family in any case.
TEST(ProcessLink, AddressFamily) {
    const std::pair<const char*, int> cases[] = {
        {"IPV6", AF_INET6}, {"Ipv4", AF_INET}, {"ipv44", AF_UNSPEC}, {"", AF_UNSPEC}};
    for (const auto& [text, family] : cases) {
        setenv("KORVO_IP_TYPE", text, 1);
        EXPECT_EQ(family, processAddressFamily()) << text;
    }
    unsetenv("KORVO_IP_TYPE");
}
