#include "hostlink/process.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr std::uint64_t kUntouched = 0xABCDu;

// Open descriptors of this process.
int open_descriptors() {
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    int n = 0;
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
    return n;
}

// What the other end writes until it closes its end, or up to a newline
// with line set (or until 10 s pass).
std::string read_to_end(int fd, bool line = false) {
    std::string text;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        if (::read(fd, &c, 1) != 1) return text;
        text += c;
        if (line && c == '\n') return text;
    }
    return text + "<timeout>";
}

// Polls a held process until it ends (or 10 s pass); its exit code.
std::int32_t wait_for_end(fur_process_handle h) {
    std::int32_t code = -99;
    for (int i = 0; i < 1000 && isProcessActive(h, &code); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return code;
}

class ProcessLink : public testing::Test {
  protected:
    void SetUp() override { ::unsetenv("KORVO_IP_TYPE"); }
    void TearDown() override { ::unsetenv("KORVO_IP_TYPE"); }
};

}  // namespace

// The child learns its socket number from its command line ($0 of the shell
// script) and talks through the inherited descriptor both ways; the parent
// sees the end once the child has gone, because it keeps no copy of the
// child's end. Only the parent's socket stays open here.
TEST_F(ProcessLink, ChildWritesThroughItsInheritedSocket) {
    const int before = open_descriptors();
    std::uint64_t sock = kUntouched;
    const std::int32_t pid = createConnectedProcess(
        "/bin/sh -c \"echo child $0 >&$0; read x <&$0; "
        "echo got $x >&$0; exit 5\" %d",
        sock);
    ASSERT_GT(pid, 0);
    ASSERT_NE(sock, kUntouched);
    EXPECT_EQ(open_descriptors(), before + 1);

    const int fd = static_cast<int>(sock);
    const std::string said = read_to_end(fd, true);
    ASSERT_EQ(said.compare(0, 6, "child "), 0) << said;
    const int childEnd = std::atoi(said.c_str() + 6);
    EXPECT_GT(childEnd, 2);
    EXPECT_EQ(said, "child " + std::to_string(childEnd) + "\n");
    ASSERT_EQ(::write(fd, "bye\n", 4), 4);
    EXPECT_EQ(read_to_end(fd), "got bye\n");

    fur_process_handle h = nullptr;
    setProcessId(h, pid);
    ASSERT_TRUE(validProcessId(h));
    EXPECT_EQ(wait_for_end(h), 5);
    std::int32_t again = -1;
    EXPECT_FALSE(isProcessActive(h, &again));  // the status stays readable
    EXPECT_EQ(again, 5);
    invalidateProcessId(h);
    EXPECT_FALSE(validProcessId(h));
    ::close(fd);
    EXPECT_EQ(open_descriptors(), before);
}

// Commands that cannot start and formats that do not take one integer give
// -1, leave the socket alone and close everything they made.
TEST_F(ProcessLink, FailuresLeaveTheSocketAloneAndCloseWhatTheyMade) {
    const int before = open_descriptors();
    for (const char* format : std::initializer_list<const char*>{
             "/nonexistent/worker %d", "", "   ", "\"\" %d", "worker %s", "worker %d %d",
             "worker %ld", "worker %", nullptr}) {
        std::uint64_t sock = kUntouched;
        testing::internal::CaptureStderr();
        EXPECT_EQ(createConnectedProcess(format, sock), -1) << (format ? format : "null");
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(sock, kUntouched) << (format ? format : "null");
        EXPECT_EQ(open_descriptors(), before) << (format ? format : "null");
    }
}

// A running child is killed and collected; null handles and handles of
// processes that do not exist are left alone.
TEST_F(ProcessLink, KillOffAndNullHandles) {
    std::uint64_t sock = kUntouched;
    const std::int32_t pid = createConnectedProcess("sleep 30 %d", sock);
    ASSERT_GT(pid, 0);
    fur_process_handle h = nullptr;
    setProcessId(h, pid);
    std::int32_t code = 77;
    EXPECT_TRUE(isProcessActive(h, &code));
    EXPECT_EQ(code, 77);  // untouched while running
    killOffProcess(h);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(::kill(pid, 0), -1);  // gone and collected
    EXPECT_EQ(read_to_end(static_cast<int>(sock)), "");
    ::close(static_cast<int>(sock));

    setProcessId(h, ::getpid());
    EXPECT_TRUE(isProcessActive(h, nullptr));  // not a child, but running
    setProcessId(h, 0x7ffffff0);               // releases the first handle
    EXPECT_FALSE(validProcessId(h));
    EXPECT_FALSE(isProcessActive(nullptr, &code));
    EXPECT_EQ(code, 0);
    killOffProcess(h);
    invalidateProcessId(h);
    EXPECT_EQ(h, nullptr);
    sockaddr address;
    std::memset(&address, 0x5A, sizeof address);
    EXPECT_EQ(getSockAddr("localhost", address), -1);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&address)[0], 0x5A);
}

// The family comes from KORVO_IP_TYPE in any case. A format without a
// conversion still starts its command; a child that exits at once is seen
// running or not (a race), but the parent's socket is handed over either way.
TEST_F(ProcessLink, IpTypeAndAChildThatExitsAtOnce) {
    const std::pair<const char*, int> cases[] = {
        {"IPV6", AF_INET6}, {"Ipv4", AF_INET}, {"ipv44", AF_UNSPEC}, {"", AF_UNSPEC}};
    for (const auto& c : cases) {
        ::setenv("KORVO_IP_TYPE", c.first, 1);
        EXPECT_EQ(processAddressFamily(), c.second) << c.first;
    }
    ::setenv("KORVO_IP_TYPE", "ipv4", 1);
    std::uint64_t sock = kUntouched;
    const std::int32_t pid = createConnectedProcess("/bin/sh -c \"exit 3\"", sock);
    ASSERT_NE(sock, kUntouched);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(static_cast<int>(sock), reinterpret_cast<sockaddr*>(&address), &length),
              0);
    EXPECT_EQ(address.ss_family, AF_INET);
    EXPECT_EQ(read_to_end(static_cast<int>(sock)), "");
    ::close(static_cast<int>(sock));
    fur_process_handle h = nullptr;
    setProcessId(h, pid);
    if (pid > 0) {
        EXPECT_EQ(wait_for_end(h), 3);
    }
    invalidateProcessId(h);
}
