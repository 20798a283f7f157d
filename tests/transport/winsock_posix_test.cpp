// The Linux sockets layer's own part: which Windows Sockets number reports
// each errno, and flags it cannot give Linux.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <set>

#include "framework/core/SysUtils.h"
#include "support/udp_peer.h"
#include "transport/IdStack.h"
#include "transport/IdWinSock2.h"

namespace {

class ErrnoCodeTest : public ::testing::Test {
 protected:
  void SetUp() override { stack_ = TIdStack::NewStack(); }
  std::unique_ptr<TIdStack> stack_;
};

TEST_F(ErrnoCodeTest, EveryTableCodeIsReachableFromAnErrno) {
  // Every row of the table but 10009 is what some Linux failure reports: a
  // bad descriptor reads as "not a socket", as on Windows.
  std::set<int> reached;
  for (int e = 1; e < 256; ++e) reached.insert(WinSockErrorFromErrno(e));
  for (int code = 10004; code <= 10066; ++code) {
    if (stack_->SocketErrorText(code) == Format("Socket Error # %d\r\n", code)) continue;
    if (code == WSAEBADF) continue;
    EXPECT_TRUE(reached.count(code)) << code << " is reported for no errno";
  }
  EXPECT_EQ(WinSockErrorFromErrno(EBADF), WSAENOTSOCK);
  EXPECT_EQ(WinSockErrorFromErrno(ELOOP), WSAELOOP);  // not 10000 + 40
}

TEST(WinSockFlagsTest, UnknownFlagsAreRefused) {
  loopback::StartLibrary();
  loopback::UdpSocket receiver;
  char buffer[4];
  EXPECT_EQ(ws2::recv(receiver.handle(), buffer, 4, 0x40), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEOPNOTSUPP);
}

}  // namespace
