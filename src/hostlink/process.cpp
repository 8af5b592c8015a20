#include "hostlink/process.h"

#include <netdb.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

struct fur_process {
    pid_t pid = 0;
    bool ended = false;  // the status below was collected
    std::int32_t code = 0;
};

namespace {

// Polls of a started process before giving up, and the pause between them.
constexpr int kStartPolls = 1000;
constexpr long kStartPollNanoseconds = 100L * 1000L * 1000L;

char g_errorText[kErrorTextSize];

// Closes a socket when the holder goes out of scope, unless released.
struct socket_guard {
    int fd = -1;
    ~socket_guard() {
        if (fd >= 0) ::close(fd);
    }
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

struct addrinfo_deleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

bool equals_ignoring_case(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// Whether format holds at most one integer conversion and otherwise only
// "%%": the child's socket number is the one argument it is given.
bool usable_format(const char* format) {
    int conversions = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        if (*++p == '%') continue;
        while (*p && std::strchr("-+ #0", *p)) ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9') ++p;
        }
        if (*p == '\0' || !std::strchr("diuxXo", *p) || ++conversions > 1) return false;
    }
    return true;
}

// Splits a command line into words at blanks; double quotes group.
std::vector<std::string> split_command(const char* line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char* p = line; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *p;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// Steps 3 and 4: a listener bound to the first resolved address that takes
// a bind, the child's end connected to it and the parent's end accepted.
// False with nothing left open on failure.
bool connect_pair(const addrinfo* list, socket_guard& listener, socket_guard& child,
                  socket_guard& parent) {
    const addrinfo* bound = nullptr;
    for (const addrinfo* a = list; a != nullptr && bound == nullptr; a = a->ai_next) {
        socket_guard s;
        s.fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s.fd < 0) continue;
        if (::bind(s.fd, a->ai_addr, a->ai_addrlen) == 0) {
            listener.fd = s.release();
            bound = a;
        }
    }
    if (bound == nullptr) return false;

    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::listen(listener.fd, 1) != 0 ||
        ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    // The child's end has no close-on-exec flag: the child inherits it.
    child.fd = ::socket(bound->ai_family, bound->ai_socktype, 0);
    if (child.fd < 0 || ::connect(child.fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return false;
    parent.fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    return parent.fd >= 0;
}

// Step 6: starts the command line; the child inherits every descriptor
// without the close-on-exec flag. 0 when it could not start.
pid_t start_command(const char* line) {
    const std::vector<std::string> words = split_command(line);
    if (words.empty()) return 0;
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
    return pid;
}

std::int32_t exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 0;
}

// Step 7: polls until the process is seen running (its id is the result) or
// has ended (it cannot run again, so the polls stop: -1).
std::int32_t wait_until_running(pid_t pid) {
    const timespec pause{0, kStartPollNanoseconds};
    for (int i = 0; i < kStartPolls; ++i) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == 0) return pid;
        if (r == pid) return -1;
        ::nanosleep(&pause, nullptr);
    }
    return -1;
}

}  // namespace

int processAddressFamily() {
    const char* type = std::getenv("KORVO_IP_TYPE");
    if (type == nullptr) return AF_UNSPEC;
    if (equals_ignoring_case(type, "ipv6")) return AF_INET6;
    if (equals_ignoring_case(type, "ipv4")) return AF_INET;
    return AF_UNSPEC;
}

const char* processErrorText(int code) {
    const char* text = ::strerror_r(code, g_errorText, sizeof g_errorText);
    if (text != g_errorText) std::snprintf(g_errorText, sizeof g_errorText, "%s", text);
    return g_errorText;
}

std::int32_t createConnectedProcess(const char* format, std::uint64_t& socket) {
    if (format == nullptr || !usable_format(format)) {
        std::fprintf(stderr, "createConnectedProcess: the command line format takes one integer\n");
        return -1;
    }
    // 1-2. Resolve the loop-back name for a passive stream socket.
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = 0;
    hints.ai_family = processAddressFamily();
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo("localhost", nullptr, &hints, &found);
    if (rc != 0) {
        std::fprintf(stderr, "getaddrinfo error:: [%s]\n",
                     rc == EAI_SYSTEM ? processErrorText(errno) : ::gai_strerror(rc));
        return -1;
    }
    std::unique_ptr<addrinfo, addrinfo_deleter> list(found);

    // 3-4. The connected pair.
    socket_guard listener, child, parent;
    if (!connect_pair(list.get(), listener, child, parent)) return -1;
    list.reset();

    // 5. The command line, with the child's socket number.
    const std::size_t size = std::strlen(format) + kProcessCommandSlack;
    std::unique_ptr<char[]> line(new (std::nothrow) char[size]);
    if (!line) return -1;
    std::snprintf(line.get(), size, format, child.fd);

    // 6-7. Start it and wait to see it running; the parent's end goes to the
    // caller whether or not it was seen.
    std::int32_t result = -1;
    if (const pid_t pid = start_command(line.get())) {
        result = wait_until_running(pid);
        socket = static_cast<std::uint64_t>(parent.release());
    }
    // 8. The guards close the child's end, the listener and (after a failed
    // start) the parent's end.
    return result;
}

void setProcessId(fur_process_handle& handle, std::int32_t pid) {
    invalidateProcessId(handle);
    if (pid <= 0 || ::kill(pid, 0) != 0) return;
    handle = new (std::nothrow) fur_process;
    if (handle) handle->pid = pid;
}

bool validProcessId(fur_process_handle handle) {
    return handle != nullptr;
}

void invalidateProcessId(fur_process_handle& handle) {
    delete handle;
    handle = nullptr;
}

void killOffProcess(fur_process_handle& handle) {
    if (handle == nullptr) return;
    if (!handle->ended) {
        ::kill(handle->pid, SIGKILL);
        int status = 0;
        ::waitpid(handle->pid, &status, 0);  // fails harmlessly for a non-child
    }
    invalidateProcessId(handle);
}

bool isProcessActive(fur_process_handle handle, std::int32_t* exitCode) {
    std::int32_t code = 0;
    if (handle != nullptr && !handle->ended) {
        int status = 0;
        const pid_t r = ::waitpid(handle->pid, &status, WNOHANG);
        if (r == 0) return true;
        if (r == handle->pid) {
            handle->ended = true;
            handle->code = exit_code_of(status);
        } else if (errno == ECHILD && ::kill(handle->pid, 0) == 0) {
            return true;  // running, but not our child: its status is not ours to read
        }
    }
    if (handle != nullptr && handle->ended) code = handle->code;
    if (exitCode != nullptr) *exitCode = code;
    return false;
}

int getSockAddr(const char* /*host*/, sockaddr& /*address*/) {
    return -1;
}
