// Messages for the host and for a controlling process.
//
// sendInfo echoes a message into the host's script output (a print command
// with a fixed header, banners and localisable texts) and numbers it for a
// controlling process. The numbered message line is
//
//   <pid> <type> <index> `<text>
//
// with the process id, the message type and the message index as decimal
// integers separated by single blanks, then a blank, a backquote and the text;
// a closing backquote after the text is optional. decodeInfo reads it back on
// the receiving side. When a pipe handle is set (setPfd), sendInfo writes each
// line over it followed by a NUL byte, which separates the lines on the stream.
//
// pipeSendInfo and commPortSendInfo write plain texts over a socket connection
// to a controlling process; the connection itself is made by the host link.
#pragma once

#include <cstdint>

#include "host/korvo_string.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// The kind of a message. The library itself sends infoMessage, infoError and
// infoHeartbeat; a controlling program sends the others. Any 32-bit value may
// be passed: values without a name print nothing and are still numbered.
enum infoType : std::int32_t {
    infoStart = 1,       // start banner
    infoMessage = 2,     // the text with the header
    infoError = 3,       // "Error, <text>" with the header
    infoTerminated = 4,  // "Terminated" with the header, then the finish block
    infoHeartbeat = 7,   // nothing at all: not printed, not numbered
    infoFinished = 8,    // the finish block
};

// A socket handle; all bits set means no socket.
constexpr std::uint64_t kFurInvalidSocket = ~std::uint64_t(0);
// Size of a numbered message line, its terminator included, and of the text
// buffer that decodeInfo fills.
constexpr int kFurMessageLineSize = 1024;

// --- Host messages ---------------------------------------------------------

// Prints the message for the host and numbers it (see above).
void sendInfo(infoType type, const char* text);

// Parses a numbered message line. Returns false for a null line or one that
// does not start with three integers (type and text are then left as they
// were). The text is what follows the first backquote, up to the next
// backquote or the end of the line, at most 1023 characters; without a
// backquote it is empty. text must hold kFurMessageLineSize bytes.
bool decodeInfo(const char* line, infoType& type, int& pid, int& index, char* text);

// The message index: the number the next message gets. Starts at 1.
void setMsgIndex(int index);
int getMsgIndex();

// While set, the host-print step runs no command (messages are still
// numbered). Starts false.
void setAdvancedRender(bool on);

// Kept for callers; has no effect.
void setBackground(int on);

// --- Connection to a controlling process -------------------------------------

// The pipe handle over which sendInfo writes its numbered lines; starts as
// kFurInvalidSocket.
void setPfd(std::uint64_t handle);
std::uint64_t getPfd();

// The library socket, or kFurInvalidSocket when none was stored (until a
// caller stores one, messages for it go nowhere). The arguments are
// accepted for callers of the exported form and not used.
std::uint64_t getSocketFd(bool create = false, const char* host = nullptr, bool wait = false);
// Stores the library socket; kFurInvalidSocket removes it. The socket stays
// owned by the caller, who closes it after removing it here.
void setSocketFd(std::uint64_t socket);

// Echoes the text to the host (without header) and sends its bytes, without
// terminator, over the socket in non-blocking mode. Does nothing for the
// invalid handle or a null or empty text. A failed send is absorbed.
void pipeSendInfo(std::uint64_t handle, const char* text);

// Sends the text's bytes, without terminator, over the library socket
// (getSocketFd) and discards whatever the peer has sent. Returns 0 when sent
// (a send that would block counts as sent), -1 for a null or empty text, no
// socket, or a failed send. Nothing is echoed to the host.
int commPortSendInfo(const char* text);

// The port identifier: a 1024-byte buffer, empty at first. setPortID copies
// the text (null stores the empty text; longer texts are cut to 1023 bytes);
// getPortID returns the buffer itself.
void setPortID(const char* id);
char* getPortID();

// Shuts the sending side of the socket down, waits at most 0.1 s for it to
// become readable and then reads and discards until the peer has nothing more
// (on a blocking socket: until the peer closes). The invalid handle is ignored.
void flushfd(std::uint64_t handle);

// --- Memory-usage hook ------------------------------------------------------

// Installed by the host; called just before an out-of-memory exception.
extern void (*drv_display_mem_usage_ptr)(char* text);

// Calls the hook, when one is installed, with a copy of the text (at most
// 1023 characters).
void drv_display_mem_usage(const char* text);

// --- Building blocks of sendInfo --------------------------------------------

// The localised text of a resource of the group "Fur", or its default.
KorvoString furResourceString(const char* id, const char* defaultText);

// Runs the host command print "<text>\n", with the text placed in the header
// resource when withHeader is set; runs nothing while advanced render is on.
void printInfo(const char* text, bool withHeader);

// The host output of sendInfo for each message type.
void reportInfo(const char* text, infoType type);

// --- Progress commands --------------------------------------------------------
// Host script commands, run whatever the advanced-render flag says.

void startProgress(const char* text);  // "StartProgress <text>"
void completeProgress();               // "CompleteProgress"
void processStatus(int n);             // "ProcessStatus <n> "

// Drives the progress commands for one of two kinds of run (mode 1 or 0).
struct FurProgressReporter {
    std::int32_t mode = 0;
    std::int32_t enabled = 0;

    void setEnabled(std::int32_t on) { enabled = on; }
    // When enabled: processStatus(a) in mode 1, processStatus(b) in mode 0.
    void status(int a, int b);
    // When enabled: completeProgress(), then startProgress(text1) in mode 1,
    // or startProgress(text2) and a console line in mode 0.
    void phase(const char* text1, const char* text2);
};

KORVO_EXPORT_END
