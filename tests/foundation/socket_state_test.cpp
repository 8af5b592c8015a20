#include "foundation/socket_state.h"

#include <gtest/gtest.h>

TEST(SocketState, NoSocketUntilOneIsStored) {
    EXPECT_EQ(kFurInvalidSocket, getSocketFd());
    EXPECT_EQ(~std::uint64_t(0), getSocketFd(true, "localhost", true));
    setSocketFd(9);
    EXPECT_EQ(9u, getSocketFd());
    EXPECT_EQ(9u, getSocketFd(false, nullptr, false));
    setSocketFd(kFurInvalidSocket);
    EXPECT_EQ(kFurInvalidSocket, getSocketFd());
}
