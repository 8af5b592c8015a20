// The library's socket to a controlling process.
//
// commPortSendInfo sends over the socket that getSocketFd returns. Until a
// caller stores one with setSocketFd, there is none: getSocketFd returns the
// invalid socket and those messages go nowhere.
#pragma once

#include <cstdint>

#include "foundation/messages.h"

// The library socket, or kFurInvalidSocket when none was stored. The
// arguments are accepted for callers of the exported form and not used.
std::uint64_t getSocketFd(bool create = false, const char* host = nullptr, bool wait = false);

// Stores the library socket; kFurInvalidSocket removes it. The socket stays
// owned by the caller, who closes it after removing it here.
void setSocketFd(std::uint64_t socket);
