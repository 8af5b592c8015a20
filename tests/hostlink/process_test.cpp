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
// with line set (or until 10 s pass).
std::string readFrom(int fd, bool line = false) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    if (poll(&p, 1, 10000) <= 0 || read(fd, &c, 1) != 1) return "";
    return c + (line && c == '\n' ? "" : readFrom(fd, line));
}

// Polls a held process until it ends (or 10 s pass); its exit code.
std::int32_t exitCode(fur_process_handle h) {
    std::int32_t code = -99;
    for (int i = 0; i < 1000 && isProcessActive(h, &code); ++i) usleep(10000);
    return code;
}

}  // namespace

// Start, exchange both ways and the exit code the parent asked for; the
// parent keeps only its own end, so it sees the end once the child has gone.
TEST(ProcessLink, ChildTalksThroughItsSocketAndExits) {
    unsetenv("KORVO_IP_TYPE");
    std::uint64_t sock = kUntouched;
    fur_process_handle h = nullptr;
    const char* talk =
        "/bin/sh -c \"echo child $0 >&$0; read x <&$0; echo got $x >&$0; exit $x\" %d";
    setProcessId(h, createConnectedProcess(talk, sock));
    ASSERT_TRUE(validProcessId(h));
    const int fd = static_cast<int>(sock);
    const std::string said = readFrom(fd, true);
    EXPECT_TRUE(said.rfind("child ", 0) == 0 && std::atoi(said.c_str() + 6) > 2) << said;
    ASSERT_EQ(2, write(fd, "5\n", 2));
    EXPECT_EQ("got 5\n", readFrom(fd));
    EXPECT_EQ(10, exitCode(h) + exitCode(h)) << "exit code 5, and the status stays readable";
    invalidateProcessId(h);
    EXPECT_FALSE(validProcessId(h));
    close(fd);
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

// A child that dies of a signal reads as 128 plus the signal; a running one is
// killed and collected; null handles are left alone. KORVO_IP_TYPE picks the
// family in any case; a format without a conversion still starts its command.
TEST(ProcessLink, DeathKillAndAddressFamily) {
    std::uint64_t dying = kUntouched, sleeping = kUntouched;
    fur_process_handle a = nullptr, b = nullptr;
    setProcessId(a, createConnectedProcess("/bin/sh -c \"read x <&$0; kill -TERM $$\" %d", dying));
    setProcessId(b, createConnectedProcess("sleep 30 %d", sleeping));
    std::int32_t code = 77;
    EXPECT_TRUE(isProcessActive(a, &code) && code == 77) << "untouched while running";
    ASSERT_EQ(2, write(static_cast<int>(dying), "x\n", 2));
    EXPECT_EQ(128 + SIGTERM, exitCode(a));
    killOffProcess(b);
    EXPECT_EQ(nullptr, b);
    EXPECT_EQ("", readFrom(static_cast<int>(sleeping))) << "the child's end closed";
    close(static_cast<int>(dying)), close(static_cast<int>(sleeping)), invalidateProcessId(a);
    setProcessId(a, 0x7ffffff0);                // no such process
    killOffProcess(a), invalidateProcessId(a);  // null handles are left alone
    EXPECT_TRUE(!validProcessId(a) && !isProcessActive(nullptr, &code) && code == 0);
    const std::pair<const char*, int> cases[] = {
        {"IPV6", AF_INET6}, {"Ipv4", AF_INET}, {"ipv44", AF_UNSPEC}, {"", AF_UNSPEC}};
    for (const auto& [text, family] : cases) {
        setenv("KORVO_IP_TYPE", text, 1);
        EXPECT_EQ(family, processAddressFamily()) << text;
    }
    unsetenv("KORVO_IP_TYPE");
    dying = kUntouched;  // a child that exits at once may never be seen running
    createConnectedProcess("/bin/sh -c \"exit 3\"", dying);
    ASSERT_NE(kUntouched, dying) << "the parent's end is handed over all the same";
    close(static_cast<int>(dying));
}
