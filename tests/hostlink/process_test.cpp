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

// Everything the other end writes until it closes its end (or 10 s pass).
std::string read_to_end(int fd) {
    std::string text;
    char buf[256];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return text;
        text.append(buf, static_cast<std::size_t>(n));
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
// script) and writes through the inherited descriptor; the parent reads it
// and sees the end once the child has gone, because it keeps no copy of the
// child's end. Only the parent's socket stays open here.
TEST_F(ProcessLink, ChildWritesThroughItsInheritedSocket) {
    const int before = open_descriptors();
    std::uint64_t sock = kUntouched;
    const std::int32_t pid =
        createConnectedProcess("/bin/sh -c \"echo child $0 >&$0; exit 5\" %d", sock);
    ASSERT_GT(pid, 0);
    ASSERT_NE(sock, kUntouched);
    EXPECT_EQ(open_descriptors(), before + 1);

    const int fd = static_cast<int>(sock);
    const std::string said = read_to_end(fd);
    ASSERT_EQ(said.compare(0, 6, "child "), 0) << said;
    const int childEnd = std::atoi(said.c_str() + 6);
    EXPECT_GT(childEnd, 2);
    EXPECT_EQ(said, "child " + std::to_string(childEnd) + "\n");

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

// A format without a conversion still starts the command. A child that exits
// at once is seen running or not (a race); either way the parent's socket is
// handed over and reads the end of the connection.
TEST_F(ProcessLink, ChildThatExitsAtOnceStillHandsOverTheSocket) {
    std::uint64_t sock = kUntouched;
    const std::int32_t pid = createConnectedProcess("/bin/sh -c \"exit 3\"", sock);
    ASSERT_NE(sock, kUntouched);
    EXPECT_EQ(read_to_end(static_cast<int>(sock)), "");
    ::close(static_cast<int>(sock));
    if (pid > 0) {
        fur_process_handle h = nullptr;
        setProcessId(h, pid);
        ASSERT_TRUE(validProcessId(h));
        EXPECT_EQ(wait_for_end(h), 3);
        invalidateProcessId(h);
    } else {
        EXPECT_EQ(pid, -1);
    }
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

TEST_F(ProcessLink, KillOffEndsARunningChild) {
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
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(read_to_end(static_cast<int>(sock)), "");
    ::close(static_cast<int>(sock));
}

// A second setProcessId releases the first handle; a process that does not
// exist gives the null handle; null handles are left alone.
TEST_F(ProcessLink, HandlesOfMissingProcessesAndNullHandles) {
    fur_process_handle h = nullptr;
    setProcessId(h, ::getpid());
    ASSERT_TRUE(validProcessId(h));
    EXPECT_TRUE(isProcessActive(h, nullptr));  // not a child, but running
    setProcessId(h, 0x7ffffff0);
    EXPECT_FALSE(validProcessId(h));
    setProcessId(h, -1);
    EXPECT_EQ(h, nullptr);

    std::int32_t code = 77;
    EXPECT_FALSE(isProcessActive(nullptr, &code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(isProcessActive(nullptr, nullptr));
    killOffProcess(h);
    invalidateProcessId(h);
    EXPECT_EQ(h, nullptr);
}

TEST_F(ProcessLink, IpTypeSelectsTheAddressFamily) {
    EXPECT_EQ(processAddressFamily(), AF_UNSPEC);
    const std::pair<const char*, int> cases[] = {
        {"IPV6", AF_INET6}, {"ipv6", AF_INET6},   {"Ipv4", AF_INET}, {"ipv4", AF_INET},
        {"ipv", AF_UNSPEC}, {"ipv44", AF_UNSPEC}, {"", AF_UNSPEC}};
    for (const auto& c : cases) {
        ::setenv("KORVO_IP_TYPE", c.first, 1);
        EXPECT_EQ(processAddressFamily(), c.second) << c.first;
    }
    // The connection itself uses the family.
    ::setenv("KORVO_IP_TYPE", "ipv4", 1);
    std::uint64_t sock = kUntouched;
    const std::int32_t pid = createConnectedProcess("/bin/sh -c \"exit 0\"", sock);
    ASSERT_NE(sock, kUntouched);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(static_cast<int>(sock), reinterpret_cast<sockaddr*>(&address), &length),
              0);
    EXPECT_EQ(address.ss_family, AF_INET);
    ::close(static_cast<int>(sock));
    fur_process_handle h = nullptr;
    setProcessId(h, pid);
    wait_for_end(h);
    invalidateProcessId(h);
}

TEST(ProcessSupport, SocketAddressStubAndErrorText) {
    sockaddr address;
    std::memset(&address, 0x5A, sizeof address);
    EXPECT_EQ(getSockAddr("localhost", address), -1);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(&address)[0], 0x5A);
    EXPECT_STREQ(processErrorText(ENOENT), std::strerror(ENOENT));
    const char* buffer = processErrorText(EACCES);
    EXPECT_EQ(buffer, processErrorText(ENOENT));  // one shared buffer
}
