#include "foundation/socket_state.h"

namespace {

std::uint64_t g_librarySocket = kFurInvalidSocket;

}  // namespace

std::uint64_t getSocketFd(bool /*create*/, const char* /*host*/, bool /*wait*/) {
    return g_librarySocket;
}

void setSocketFd(std::uint64_t socket) {
    g_librarySocket = socket;
}
