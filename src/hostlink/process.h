// The child process link: starting a worker process connected to this one by
// a private TCP connection on the local machine, and holding, testing and
// ending process handles.
//
// createConnectedProcess listens on a loop-back port the system chooses,
// connects a second socket to it and accepts the connection: the accepted
// socket is the parent's end, the connecting socket the child's. The child is
// started with its end inherited and the number of that end formatted into
// its command line, so that it can talk back at once.
//
// On POSIX systems a process handle records a process id and, once the
// process has been seen to end, its exit status. A running process reads as
// the exit code 259 (kProcessStillActive), which no POSIX process can end
// with, so that callers can keep testing for that value.
#pragma once

#include <cstdint>

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// The exit code that means "still running".
constexpr int kProcessStillActive = 259;

// Longest command line createConnectedProcess builds: the format plus this
// many characters for the formatted socket number and anything else.
constexpr int kProcessCommandSlack = 1000;

// A process held by the caller; null means no process.
struct fur_process;
using fur_process_handle = fur_process*;

struct sockaddr;

// Starts the command line made from format (one optional integer conversion,
// which receives the child's socket number) as a new process connected to
// this one. Returns the new process's id and stores the parent's socket in
// socket; -1 when the connection could not be made, the command could not
// start or it was never seen running (socket untouched in the first two cases,
// set in the last). The family of the loop-back address comes from the
// environment variable "KORVO_IP_TYPE": "ipv6" or "ipv4", in any case;
// anything else lets the resolver choose.
//
// The command line is split into words at blanks; double quotes group words
// with blanks in them and are removed. The first word is looked up along
// PATH. A format with any conversion other than one integer conversion
// (d, i, u, x, X or o with flags and width) and "%%" is refused with -1.
std::int32_t createConnectedProcess(const char* format, std::uint64_t& socket);

// The address family "KORVO_IP_TYPE" selects: AF_INET6, AF_INET or AF_UNSPEC.
int processAddressFamily();

// Releases any handle already held, then opens process id pid for
// termination and status queries; the handle is null when there is no such
// process or it may not be signalled.
void setProcessId(fur_process_handle& handle, std::int32_t pid);
// True when the handle is not null.
bool validProcessId(fur_process_handle handle);
// Closes a held handle and sets it to null; nothing for a null handle.
void invalidateProcessId(fur_process_handle& handle);
// Ends the process (SIGKILL; the status of one of this process's children
// is collected), closes the handle and sets it to null; nothing for null.
void killOffProcess(fur_process_handle& handle);
// True while the held process runs (exit code kProcessStillActive); the
// exit code is then left untouched. Otherwise writes the exit code read (0
// when none can be read or the handle is null) to exitCode, when given, and
// returns false. The exit status of a process ended by a signal reads as 128
// plus the signal number.
bool isProcessActive(fur_process_handle handle, std::int32_t* exitCode);

// Kept for callers of the exported interface: does nothing and returns -1.
int getSockAddr(const char* host, sockaddr& address);

// The text of system error number code, in one module-wide buffer of
// kErrorTextSize bytes that the next call overwrites.
constexpr int kErrorTextSize = 1024;
const char* processErrorText(int code);

KORVO_EXPORT_END
