// The sockets platform layer: the library's life (stub error before start-up,
// clean-up, unloading), Windows Sockets numbers for real failures, datagrams
// longer than the buffer, the readiness wait on poll, options in Windows
// numbering and name look-ups.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/SysUtils.h"
#include "support/udp_peer.h"
#include "support/wine.h"
#include "transport/IdException.h"
#include "transport/IdWinSock2.h"

namespace {

using loopback::UdpSocket;

// Death tests re-run this program for the one test, so the child starts with
// the library not loaded, as a program does.
class WinSockLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

#define CHILD_CHECK(cond)                                      \
  do {                                                         \
    if (!(cond)) {                                             \
      std::fprintf(stderr, "child check failed: %s\n", #cond); \
      std::exit(1);                                            \
    }                                                          \
  } while (0)

TEST_F(WinSockLifecycleTest, CallBeforeStartUpRaisesStubErrorNamingTheEntry) {
  EXPECT_EXIT(
      {
        CHILD_CHECK(!WinSockLoaded());
        try {
          ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
        } catch (const EIdWS2StubError& e) {
          CHILD_CHECK(e.SystemError() == 10093);
          CHILD_CHECK(e.BaseMessage() == "Error on call Winsock2 library function socket");
          CHILD_CHECK(e.SystemErrorText() == WinSockSystemErrorText(10093));
          CHILD_CHECK(!e.SystemErrorText().empty());
          CHILD_CHECK(e.Message() == e.BaseMessage() + ": " + e.SystemErrorText());
          std::exit(0);
        }
        std::exit(2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(WinSockLifecycleTest, CleanUpStopsEntriesAndUnloadBringsBackTheStubs) {
  EXPECT_EXIT(
      {
        TWSAData data;
        CHILD_CHECK(ws2::WSAStartup(0x0202, &data) == 0);
        CHILD_CHECK(data.wVersion == 0x0202);
        TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
        CHILD_CHECK(s != INVALID_SOCKET);
        CHILD_CHECK(ws2::closesocket(s) == 0);

        CHILD_CHECK(ws2::WSACleanup() == 0);
        CHILD_CHECK(ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0) == INVALID_SOCKET);
        CHILD_CHECK(ws2::WSAGetLastError() == WSANOTINITIALISED);
        CHILD_CHECK(ws2::WSACleanup() == SOCKET_ERROR);

        CHILD_CHECK(ws2::WSAStartup(0x0202, &data) == 0);
        s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
        CHILD_CHECK(s != INVALID_SOCKET);
        ws2::closesocket(s);

        WinSockUnload();
        WinSockUnload();
        CHILD_CHECK(!WinSockLoaded());
        try {
          ws2::bind(0, nullptr, 0);
        } catch (const EIdWS2StubError& e) {
          CHILD_CHECK(e.BaseMessage() == "Error on call Winsock2 library function bind");
          std::exit(0);
        }
        std::exit(2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(WinSockStartUp, VersionZeroIsRefused) {
  TWSAData data;
  EXPECT_EQ(ws2::WSAStartup(0x0000, &data), WSAVERNOTSUPPORTED);
}

TEST(WinSockStubError, CodeZeroKeepsTheBaseMessageAlone) {
  EIdWS2StubError error("Error on loading Winsock2 library (WS2_32.DLL)", 0);
  EXPECT_EQ(error.Message(), "Error on loading Winsock2 library (WS2_32.DLL)");
  EXPECT_EQ(error.SystemErrorText(), "");
  EXPECT_EQ(error.SystemError(), 0u);
}

class WinSockTest : public ::testing::Test {
 protected:
  void SetUp() override { loopback::StartLibrary(); }
};

TEST_F(WinSockTest, HandleThatIsNoSocketReports10038) {
  TSockAddrIn address = loopback::Address("127.0.0.1", 9);
  EXPECT_EQ(ws2::sendto(-1, "x", 1, 0, &address, sizeof address), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAENOTSOCK);
  TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  ws2::closesocket(s);
  EXPECT_EQ(ws2::sendto(s, "x", 1, 0, &address, sizeof address), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinSockTest, BroadcastWithoutTheOptionReports10013) {
  UdpSocket sender;
  TSockAddrIn to = loopback::Address("127.255.255.255", 9);
  EXPECT_EQ(ws2::sendto(sender.handle(), "x", 1, 0, &to, sizeof to), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEACCES);
}

TEST_F(WinSockTest, LastErrorBelongsToTheFailingThread) {
  UdpSocket holder;
  TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  TSockAddrIn address = loopback::Address("127.0.0.1", holder.port());
  // The other thread exists before the bind fails and is waited for by
  // watching flags: on Windows the last error is the thread's system error,
  // which starting or joining a thread may overwrite.
  std::atomic<bool> go{false}, done{false};
  std::atomic<int> other_thread_error{-1};
  std::thread other([&] {
    while (!go.load()) std::this_thread::yield();
    ws2::closesocket(-1);
    other_thread_error.store(ws2::WSAGetLastError());
    done.store(true);
  });
  ASSERT_EQ(ws2::bind(s, &address, sizeof address), SOCKET_ERROR);
  go.store(true);
  while (!done.load()) std::this_thread::yield();
  const int own_error = ws2::WSAGetLastError();
  other.join();
  EXPECT_EQ(other_thread_error.load(), WSAENOTSOCK);
  EXPECT_EQ(own_error, WSAEADDRINUSE);
  ws2::closesocket(s);
}

TEST_F(WinSockTest, DatagramLongerThanTheBufferFailsWith10040AndIsDropped) {
  UdpSocket receiver, sender;
  ASSERT_EQ(sender.SendTo(receiver.port(), "0123456789"), 10);
  ASSERT_EQ(sender.SendTo(receiver.port(), "next"), 4);
  std::string first = receiver.Receive(4);
  EXPECT_EQ(first, "<none>");
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEMSGSIZE);
  // The cut datagram is gone; the next one arrives whole.
  EXPECT_EQ(receiver.Receive(), "next");
}

TEST_F(WinSockTest, OversizedDatagramFillsTheBufferBeforeFailing) {
  UdpSocket receiver, sender;
  ASSERT_EQ(sender.SendTo(receiver.port(), "abcdef"), 6);
  ASSERT_TRUE(loopback::WaitReadable(receiver.handle()));
  char buffer[3] = {};
  TSockAddrIn from{};
  int from_length = sizeof from;
  EXPECT_EQ(ws2::recvfrom(receiver.handle(), buffer, 3, 0, &from, &from_length), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(WinSockTest, PeekAtAnOversizedDatagramKeepsIt) {
  UdpSocket receiver, sender;
  ASSERT_EQ(sender.SendTo(receiver.port(), "abcdef"), 6);
  ASSERT_TRUE(loopback::WaitReadable(receiver.handle()));
  char buffer[2];
  EXPECT_EQ(ws2::recv(receiver.handle(), buffer, 2, MSG_PEEK_WS), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(receiver.Receive(), "abcdef");
}

TEST_F(WinSockTest, ZeroByteDatagramIsNoError) {
  UdpSocket receiver, sender;
  ASSERT_EQ(sender.SendTo(receiver.port(), ""), 0);
  EXPECT_EQ(receiver.Receive(), "");
}

class WinSockSelectTest : public WinSockTest {};

TEST_F(WinSockSelectTest, ClosedOrNegativeHandleReports10038) {
  TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  ws2::closesocket(s);
  TFdSet set;
  set.fd_count = 1;
  set.fd_array[0] = s;
  TTimeVal limit;
  EXPECT_EQ(ws2::select(0, &set, nullptr, nullptr, &limit), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAENOTSOCK);
  set.fd_count = 1;
  set.fd_array[0] = -1;
  EXPECT_EQ(ws2::select(0, &set, nullptr, nullptr, &limit), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinSockSelectTest, NoSetsOrANegativeTimeLimitAreInvalid) {
  TTimeVal limit;
  EXPECT_EQ(ws2::select(0, nullptr, nullptr, nullptr, &limit), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEINVAL);
  UdpSocket s;
  TFdSet set;
  set.fd_count = 1;
  set.fd_array[0] = s.handle();
  if (UnderWine()) GTEST_SKIP() << "Wine takes a negative time limit; Windows refuses it";
  limit.tv_usec = -1000;
  EXPECT_EQ(ws2::select(0, &set, nullptr, nullptr, &limit), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAEINVAL);
}

TEST_F(WinSockTest, OptionsTakeWindowsNumbers) {
  UdpSocket s;
  int on = -1;
  ASSERT_EQ(ws2::setsockopt(s.handle(), SOL_SOCKET_WS, SO_BROADCAST_WS, &on, 4), 0);
  int value = 0;
  int length = 4;
  ASSERT_EQ(ws2::getsockopt(s.handle(), SOL_SOCKET_WS, SO_BROADCAST_WS, &value, &length), 0);
  EXPECT_NE(value, 0);
  ASSERT_EQ(ws2::getsockopt(s.handle(), SOL_SOCKET_WS, SO_TYPE_WS, &value, &length), 0);
  EXPECT_EQ(value, SOCK_DGRAM_WS);

  std::uint32_t ms = 1500;
  ASSERT_EQ(ws2::setsockopt(s.handle(), SOL_SOCKET_WS, SO_RCVTIMEO_WS, &ms, 4), 0);
  std::uint32_t read_back = 0;
  ASSERT_EQ(ws2::getsockopt(s.handle(), SOL_SOCKET_WS, SO_RCVTIMEO_WS, &read_back, &length), 0);
  EXPECT_EQ(read_back, 1500u);
}

TEST_F(WinSockTest, NameWithANulIsNotLookedUpByItsPrefix) {
  std::vector<in_addr> addresses;
  EXPECT_EQ(ws2::gethostbyname(std::string("localhost\0.invalid", 18), &addresses), SOCKET_ERROR);
  EXPECT_EQ(ws2::WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_TRUE(addresses.empty());
}

}  // namespace
