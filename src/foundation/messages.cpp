#include "foundation/messages.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/korvo_global.h"

void (*drv_display_mem_usage_ptr)(char* text) = nullptr;

namespace {

// --- Module state ------------------------------------------------------------
int g_msgIndex = 1;
bool g_advancedRender = false;
std::uint64_t g_pfd = kFurInvalidSocket;
std::uint64_t g_librarySocket = kFurInvalidSocket;
char g_portId[kFurMessageLineSize] = "";

// The banner line printed around the start and finish texts.
const char kBanner[] = "==========================================================================";
static_assert(sizeof(kBanner) - 1 == 74, "the banner is 74 characters wide");

// Advances the message index; it wraps instead of overflowing.
void advanceMsgIndex() {
    g_msgIndex = static_cast<int>(static_cast<unsigned>(g_msgIndex) + 1u);
}

// --- Sockets -------------------------------------------------------------------

// The descriptor of a socket handle, or -1 when the handle cannot be one.
int descriptorOf(std::uint64_t handle) {
    if (handle > static_cast<std::uint64_t>(INT_MAX)) return -1;
    return static_cast<int>(handle);
}

void setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags != -1) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Reads (and drops) the socket's pending error after a failed call.
void absorbSocketError(int fd) {
    int error = 0;
    socklen_t size = sizeof(error);
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
}

// One non-blocking send; true when the bytes were handed to the socket.
bool sendBytes(int fd, const char* bytes, std::size_t length) {
    if (fd < 0) return false;
    setNonBlocking(fd);
    return send(fd, bytes, length, MSG_NOSIGNAL) >= 0;
}

// Reads and discards until recv returns less than 1.
void drain(int fd) {
    char buffer[1024];
    while (recv(fd, buffer, sizeof(buffer) - 1, 0) >= 1) {
    }
}

// --- Line parsing ----------------------------------------------------------------

// Reads an optionally signed decimal integer after optional white space, as
// the %d conversion does, clamping values beyond the int range.
bool scanInt(const char*& p, int& value) {
    const char* s = p;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    if (*s < '0' || *s > '9') return false;
    long long magnitude = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (*s - '0');
    }
    if (negative)
        value = magnitude > static_cast<long long>(INT_MAX) + 1 ? INT_MIN
                                                                : static_cast<int>(-magnitude);
    else
        value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
    p = s;
    return true;
}

// --- Host output ------------------------------------------------------------------

void printResource(const char* id, const char* defaultText, bool withHeader) {
    printInfo(furResourceString(id, defaultText).asChar(), withHeader);
}

// Banner, the finished line or the given text in brackets, banner.
void printFinishBlock(const char* text) {
    printInfo(kBanner, false);
    if (text != nullptr && text[0] != '\0' && std::strncmp(text, "NULL", 4) != 0) {
        KorvoString line =
            KorvoString::format(furResourceString("rKorvoFurRenderer",
                                                  "                      Korvo Fur Renderer [^1s]"),
                                text);
        printInfo(line.asChar(), false);
    } else {
        printResource("rFurRendererFinished", "                      Korvo Fur Renderer [Finished]",
                      false);
    }
    printInfo(kBanner, false);
}

}  // namespace

// --- Host messages ---------------------------------------------------------

KorvoString furResourceString(const char* id, const char* defaultText) {
    KorvoStatus status;
    return KorvoStringResource::getString(KorvoStringResourceId("Fur", id, defaultText), status);
}

void printInfo(const char* text, bool withHeader) {
    KorvoString command("print \"");
    if (withHeader)
        command += KorvoString::format(
            furResourceString("rKorvoFurRendererHeader", " Korvo Fur Renderer: ^1s"), text);
    else
        command += KorvoString(text);
    command += KorvoString("\\n\"");
    if (!g_advancedRender) KorvoGlobal::executeCommand(command, false, false);
}

void reportInfo(const char* text, infoType type) {
    switch (type) {
        case infoStart:
            printInfo(kBanner, false);
            printResource("rFurRendererStart", "                      Korvo Fur Renderer [Start]",
                          false);
            printInfo(kBanner, false);
            break;
        case infoMessage:
            printInfo(text, true);
            break;
        case infoError: {
            KorvoString line =
                KorvoString::format(furResourceString("rErrorMessage", "Error, ^1s"), text);
            printInfo(line.asChar(), true);
            break;
        }
        case infoTerminated:
            printResource("rTerminated", "Terminated", true);
            printFinishBlock(text);
            break;
        case infoFinished:
            printFinishBlock(text);
            break;
        default:  // heartbeats and unnamed types print nothing
            break;
    }
}

void sendInfo(infoType type, const char* text) {
    reportInfo(text, type);
    if (type == infoHeartbeat) return;
    if (type == infoTerminated) advanceMsgIndex();

    char line[kFurMessageLineSize];
    std::snprintf(line, sizeof(line), "%d %d %d `%s", static_cast<int>(getpid()),
                  static_cast<int>(type), g_msgIndex, text != nullptr ? text : "");
    advanceMsgIndex();

    // The line goes to a controlling process over the pipe handle, if any,
    // with its NUL terminator as separator; it is not echoed to the host.
    if (g_pfd != kFurInvalidSocket) {
        int fd = descriptorOf(g_pfd);
        if (!sendBytes(fd, line, std::strlen(line) + 1) && fd >= 0) absorbSocketError(fd);
    }
}

bool decodeInfo(const char* line, infoType& type, int& pid, int& index, char* text) {
    if (line == nullptr || text == nullptr) return false;
    const char* p = line;
    int numbers[3];
    // Like "%d %d %d": white space before each number is skipped.
    for (int& n : numbers)
        if (!scanInt(p, n)) return false;
    pid = numbers[0];
    type = static_cast<infoType>(numbers[1]);
    index = numbers[2];

    std::size_t length = 0;
    if (const char* open = std::strchr(line, '`')) {
        const char* start = open + 1;
        while (start[length] != '\0' && start[length] != '`' &&
               length < static_cast<std::size_t>(kFurMessageLineSize - 1))
            ++length;
        std::memcpy(text, start, length);
    }
    text[length] = '\0';
    return true;
}

void setMsgIndex(int index) {
    g_msgIndex = index;
}

int getMsgIndex() {
    return g_msgIndex;
}

void setAdvancedRender(bool on) {
    g_advancedRender = on;
}

void setBackground(int /*on*/) {}

// --- Connection to a controlling process -------------------------------------

std::uint64_t getSocketFd(bool /*create*/, const char* /*host*/, bool /*wait*/) {
    return g_librarySocket;
}

void setSocketFd(std::uint64_t socket) {
    g_librarySocket = socket;
}

void setPfd(std::uint64_t handle) {
    g_pfd = handle;
}

std::uint64_t getPfd() {
    return g_pfd;
}

void pipeSendInfo(std::uint64_t handle, const char* text) {
    if (handle == kFurInvalidSocket || text == nullptr || text[0] == '\0') return;
    int fd = descriptorOf(handle);
    printInfo(text, false);
    if (!sendBytes(fd, text, std::strlen(text)) && fd >= 0) absorbSocketError(fd);
}

int commPortSendInfo(const char* text) {
    if (text == nullptr || text[0] == '\0') return -1;
    std::uint64_t handle = getSocketFd();
    if (handle == kFurInvalidSocket) return -1;
    int fd = descriptorOf(handle);
    if (fd < 0) return -1;

    if (!sendBytes(fd, text, std::strlen(text)) && errno != EAGAIN && errno != EWOULDBLOCK) {
        absorbSocketError(fd);
        return -1;
    }
    drain(fd);
    return 0;
}

void setPortID(const char* id) {
    if (id == nullptr) id = "";
    std::snprintf(g_portId, sizeof(g_portId), "%s", id);
}

char* getPortID() {
    return g_portId;
}

void flushfd(std::uint64_t handle) {
    int fd = descriptorOf(handle);
    if (fd < 0) return;
    shutdown(fd, SHUT_WR);
    pollfd readable = {fd, POLLIN, 0};
    if (poll(&readable, 1, 100) > 0) drain(fd);
}

// --- Memory-usage hook ------------------------------------------------------

void drv_display_mem_usage(const char* text) {
    if (drv_display_mem_usage_ptr == nullptr) return;
    // The hook takes a modifiable text: hand it a copy.
    char copy[kFurMessageLineSize];
    std::snprintf(copy, sizeof(copy), "%s", text != nullptr ? text : "");
    drv_display_mem_usage_ptr(copy);
}

// --- Progress commands ------------------------------------------------------------

void startProgress(const char* text) {
    KorvoGlobal::executeCommand(KorvoString("StartProgress ") + KorvoString(text), false, false);
}

void completeProgress() {
    KorvoGlobal::executeCommand(KorvoString("CompleteProgress"), false, false);
}

void processStatus(int n) {
    char command[64];
    std::snprintf(command, sizeof(command), "ProcessStatus %d ", n);
    KorvoGlobal::executeCommand(KorvoString(command), false, false);
}

void FurProgressReporter::status(int a, int b) {
    if (!enabled) return;
    if (mode == 1)
        processStatus(a);
    else if (mode == 0)
        processStatus(b);
}

void FurProgressReporter::phase(const char* text1, const char* text2) {
    if (!enabled) return;
    completeProgress();
    if (mode == 1) {
        startProgress(text1);
    } else if (mode == 0) {
        startProgress(text2);
        std::printf(
            "Generating default equalizer maps per fur description and copying to furAttrMap "
            "directory...\n");
    }
}
