// The socket stack: IPv4 texts, error texts and checks, name resolution, the
// readiness wait, sending, binding and socket creation, host and service
// look-ups, and the stack's own life.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/SysUtils.h"
#include "support/udp_peer.h"
#include "support/wine.h"
#include "transport/IdException.h"
#include "transport/IdStack.h"
#include "transport/IdStackWindows.h"

namespace {

using loopback::UdpSocket;

std::string Text(const TIdIPv4Address& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

struct IPTextCase {
  const char* text;
  const char* address;  // null: rejected
};

// Every shape, both number bases, signs, blanks and the ways a text is cut.
constexpr IPTextCase kIPTexts[] = {
    {"192.168.0.1", "192.168.0.1"},
    {"10.1", "10.0.0.1"},
    {"10.1.2", "10.1.0.2"},
    {"256", "0.0.1.0"},
    {"0x7F.1", "127.0.0.1"},
    {"$7f.0.0.1", "127.0.0.1"},
    {"X7f.0.0.1", "127.0.0.1"},
    {"0XfF.0.0.1", "255.0.0.1"},
    {"012.0.0.1", "12.0.0.1"},
    {" 10.0.0.1", "10.0.0.1"},
    {"10. 0.0.1", "10.0.0.1"},
    {"1..2", "0.0.0.1"},
    {"1.2..4", "1.0.0.2"},
    {"1.2.3.", "1.2.0.3"},
    {"-0.0.0.0", "0.0.0.0"},
    {"+1.2.3.4", "1.2.3.4"},
    {"4294967295", "255.255.255.255"},
    {"0", "0.0.0.0"},
    {"1.16777215", "1.255.255.255"},
    {"1.2.65535", "1.2.255.255"},
    {"10.0.0.1 ", nullptr},
    {"1.2.3.4.5", nullptr},
    {"256.1.1.1", nullptr},
    {"1.256.1.1", nullptr},
    {"1.16777216", nullptr},
    {"1.2.65536", nullptr},
    {"4294967296", nullptr},
    {"99999999999999999999", nullptr},
    {"-1", nullptr},
    {"1.-1.0.0", nullptr},
    {"+", nullptr},
    {"$", nullptr},
    {"0x", nullptr},
    {"", nullptr},
    {" ", nullptr},
    {".", nullptr},
    {".1.2.3", nullptr},
    {"1.2.3.4x", nullptr},
    {"a.b.c.d", nullptr},
    {"localhost", nullptr},
    {"1,2.3.4", nullptr},
};

TEST(ParseIPText, AcceptsTheFourShapesAndRejectsEverythingElse) {
  for (const IPTextCase& c : kIPTexts) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    TIdIPv4Address address{9, 9, 9, 9};
    const bool valid = TIdStack::ParseIPText(c.text, &address);
    if (c.address == nullptr) {
      EXPECT_FALSE(valid) << "read as " << Text(address);
    } else {
      EXPECT_TRUE(valid);
      EXPECT_EQ(Text(address), c.address);
    }
    EXPECT_EQ(TIdStack::IsIPText(c.text), c.address != nullptr);
  }
}

TEST(ParseIPText, TextWithANulIsNotAnAddress) {
  TIdIPv4Address address;
  EXPECT_FALSE(TIdStack::ParseIPText(std::string_view("1.2.3.4\0", 8), &address));
  EXPECT_FALSE(TIdStack::ParseIPText(std::string_view("1\0.2.3.4", 8), &address));
}

class StackTest : public ::testing::Test {
 protected:
  void SetUp() override { stack_ = TIdStack::NewStack(); }
  std::unique_ptr<TIdStack> stack_;
};

TEST_F(StackTest, AddressTextHasNoLeadingZeros) {
  EXPECT_EQ(stack_->AddressToIPText({192, 168, 0, 1}), "192.168.0.1");
  EXPECT_EQ(stack_->AddressToIPText({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(stack_->AddressToIPText({255, 255, 255, 255}), "255.255.255.255");
  EXPECT_EQ(stack_->AddressToIPText({10, 0, 100, 9}), "10.0.100.9");
}

TEST_F(StackTest, InvalidTextNamesItselfInTheMessage) {
  try {
    stack_->IPTextToAddress("1.2.3.4.5");
    FAIL() << "no exception";
  } catch (const EIdInvalidIPAddress& e) {
    EXPECT_EQ(e.Message(), "1.2.3.4.5 is not a valid IP address.");
  }
  try {
    stack_->IPTextToAddress("");
    FAIL() << "no exception";
  } catch (const EIdInvalidIPAddress& e) {
    EXPECT_EQ(e.Message(), " is not a valid IP address.");
  }
  EXPECT_EQ(Text(stack_->IPTextToAddress("127.1")), "127.0.0.1");
}

class ErrorTextTest : public StackTest {};

TEST_F(ErrorTextTest, TableTextsKeepTheirExactBytes) {
  EXPECT_EQ(stack_->SocketErrorText(10048), "Socket Error # 10048\r\nAddress already in use.");
  EXPECT_EQ(stack_->SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(stack_->SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(stack_->SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
  EXPECT_EQ(stack_->SocketErrorText(10047),
            "Socket Error # 10047\r\nAddress family not supported by protocol family.");
  EXPECT_EQ(stack_->SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
}

TEST_F(ErrorTextTest, CodeOutsideTheTableEndsWithTheLineBreak) {
  EXPECT_EQ(stack_->SocketErrorText(10093), "Socket Error # 10093\r\n");
  EXPECT_EQ(stack_->SocketErrorText(0), "Socket Error # 0\r\n");
  EXPECT_EQ(stack_->SocketErrorText(11002), "Socket Error # 11002\r\n");
}

TEST_F(ErrorTextTest, ThrowSocketErrorCarriesCodeAndText) {
  try {
    stack_->ThrowSocketError(10061);
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
}

class CheckSocketResultTest : public StackTest {};

TEST_F(CheckSocketResultTest, IgnoredCodeReturnsTrueAndIsRemembered) {
  UdpSocket holder;
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  int r = stack_->SockBind(s, AF_INET_WS, "127.0.0.1", holder.port());
  EXPECT_TRUE(stack_->CheckSocketResult(r, {10013, WSAEADDRINUSE}));
  EXPECT_EQ(stack_->RecentError(), WSAEADDRINUSE);
  stack_->SockClose(s);
}

TEST_F(CheckSocketResultTest, OtherCodeRaisesWithItsText) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  int r = stack_->SockSendTo(s, "x", 1, 0, "127.255.255.255", 9);
  try {
    stack_->CheckSocketResult(r, {WSAEADDRINUSE});
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAEACCES);
    EXPECT_EQ(e.Message(), "Socket Error # 10013\r\nAccess denied.");
  }
  EXPECT_EQ(stack_->RecentError(), WSAEACCES);
  stack_->SockClose(s);
}

TEST_F(CheckSocketResultTest, SuccessLeavesRecentErrorAlone) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  EXPECT_TRUE(stack_->CheckSocketResult(stack_->SockClose(-1), {WSAENOTSOCK}));
  ASSERT_EQ(stack_->RecentError(), WSAENOTSOCK);
  EXPECT_FALSE(stack_->CheckSocketResult(0));
  EXPECT_FALSE(stack_->CheckSocketResult(stack_->SockClose(s)));
  EXPECT_EQ(stack_->RecentError(), WSAENOTSOCK);
}

class ResolveTest : public StackTest {};

TEST_F(ResolveTest, LocalhostInAnyCaseIsLoopbackWithoutALookUp) {
  EXPECT_EQ(stack_->ResolveToIP("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(stack_->ResolveToIP("localhost"), "127.0.0.1");
  EXPECT_EQ(stack_->ResolveToIP("LocalHost"), "127.0.0.1");
}

TEST_F(ResolveTest, IPTextComesBackUnchanged) {
  EXPECT_EQ(stack_->ResolveToIP("127.1"), "127.1");
  EXPECT_EQ(stack_->ResolveToIP(" 0x7f.0.0.1"), " 0x7f.0.0.1");
}

TEST_F(ResolveTest, UnknownHostRaises11001HostNotFound) {
  try {
    // A name the resolver turns down itself, so no query leaves the machine.
    stack_->ResolveToIP("no such host");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_EQ(stack_->RecentError(), 11001);
}

TEST_F(ResolveTest, HostNameIsLookedUpToItsFirstAddress) {
  EXPECT_EQ(stack_->LookupHostAddress("localhost"), "127.0.0.1");
}

class SelectTest : public StackTest {};

TEST_F(SelectTest, SixtyFourHandlesAreWaitedOn) {
  std::vector<std::unique_ptr<UdpSocket>> sockets;
  UdpSocket sender;
  TIdSocketList list;
  for (int i = 0; i < 64; ++i) {
    sockets.push_back(std::make_unique<UdpSocket>());
    list.push_back(sockets.back()->handle());
    ASSERT_EQ(sender.SendTo(sockets.back()->port(), "x"), 1);
  }
  EXPECT_EQ(stack_->SockSelect(&list, nullptr, nullptr, 5000), 64);
  EXPECT_EQ(list.size(), 64u);
}

TEST_F(SelectTest, SixtyFiveHandlesRaiseBeforeAnyWait) {
  std::vector<std::unique_ptr<UdpSocket>> sockets;
  TIdSocketList fine, too_many;
  for (int i = 0; i < 65; ++i) {
    sockets.push_back(std::make_unique<UdpSocket>());
    too_many.push_back(sockets.back()->handle());
    if (i < 64) fine.push_back(sockets.back()->handle());
  }
  // UDP sockets are always writable: a wait that did happen would return at
  // once, so only the exception shows that none was made.
  for (int position = 0; position < 3; ++position) {
    SCOPED_TRACE(position);
    TIdSocketList* lists[3] = {&fine, &fine, &fine};
    lists[position] = &too_many;
    try {
      stack_->SockSelect(lists[0], lists[1], lists[2], kIdWaitForever);
      FAIL() << "no exception";
    } catch (const EIdStackSetSizeExceeded& e) {
      EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    EXPECT_EQ(too_many.size(), 65u);
    EXPECT_EQ(fine.size(), 64u);
  }
}

TEST_F(SelectTest, ListIsRewrittenToTheReadyHandles) {
  UdpSocket a, b, c, sender;
  ASSERT_EQ(sender.SendTo(c.port(), "x"), 1);
  ASSERT_EQ(sender.SendTo(a.port(), "x"), 1);
  TIdSocketList list{a.handle(), b.handle(), c.handle()};
  EXPECT_EQ(stack_->SockSelect(&list, nullptr, nullptr, 5000), 2);
  EXPECT_EQ(list, (TIdSocketList{a.handle(), c.handle()}));
}

TEST_F(SelectTest, ZeroTimeOutReturnsAtOnceWithAnEmptyList) {
  UdpSocket quiet;
  TIdSocketList list{quiet.handle()};
  EXPECT_EQ(stack_->SockSelect(&list, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(list.empty());
}

TEST_F(SelectTest, TimeOutCountsWholeSecondsAndMilliseconds) {
  UdpSocket quiet;
  TIdSocketList list{quiet.handle()};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(stack_->SockSelect(&list, nullptr, nullptr, 1500), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(SelectTest, WaitWithoutLimitEndsWhenADatagramArrives) {
  UdpSocket receiver, sender;
  TIdSocketList list{receiver.handle()};
  int result = -5;
  std::thread waiter([&] { result = stack_->SockSelect(&list, nullptr, nullptr, kIdWaitForever); });
  ASSERT_EQ(sender.SendTo(receiver.port(), "x"), 1);
  waiter.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(list, TIdSocketList{receiver.handle()});
}

TEST_F(SelectTest, FailedWaitEmptiesTheLists) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  stack_->SockClose(s);
  TIdSocketList list{s};
  EXPECT_EQ(stack_->SockSelect(&list, nullptr, nullptr, 0), SOCKET_ERROR);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(stack_->LastSocketError(), WSAENOTSOCK);
}

class SocketCallTest : public StackTest {};

TEST_F(SocketCallTest, SendToKeepsOnlyTheLowSixteenBitsOfThePort) {
  UdpSocket receiver(4464);
  if (!receiver.ok()) GTEST_SKIP() << "UDP port 4464 on 127.0.0.1 is taken";
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  EXPECT_EQ(stack_->SockSendTo(s, "wrapped", 7, 0, "127.0.0.1", 70000), 7);
  EXPECT_EQ(receiver.Receive(), "wrapped");
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, SendToPortZeroOrToAnyAddressFailsWith10049) {
  if (UnderWine()) GTEST_SKIP() << "Wine answers 10022 for port 0 and sends to 0.0.0.0";
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  const struct {
    const char* ip;
    int port;
  } cases[] = {{"127.0.0.1", 65536}, {"127.0.0.1", 0}, {"0.0.0.0", 9}};
  for (const auto& c : cases) {
    EXPECT_EQ(stack_->SockSendTo(s, "x", 1, 0, c.ip, c.port), SOCKET_ERROR)
        << c.ip << ":" << c.port;
    EXPECT_EQ(stack_->LastSocketError(), WSAEADDRNOTAVAIL) << c.ip << ":" << c.port;
  }
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, SendToAHostNameRaisesBeforeSending) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  EXPECT_THROW(stack_->SockSendTo(s, "x", 1, 0, "localhost", 9), EIdInvalidIPAddress);
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, ReceiveFromReportsThePeer) {
  UdpSocket sender;
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  ASSERT_EQ(stack_->SockBind(s, AF_INET_WS, "127.0.0.1", 0), 0);
  int family = 0, port = 0;
  std::string ip;
  stack_->SockLocalName(s, &family, &ip, &port);
  EXPECT_EQ(family, AF_INET_WS);
  EXPECT_EQ(ip, "127.0.0.1");
  ASSERT_EQ(sender.SendTo(port, "hello"), 5);
  ASSERT_TRUE(loopback::WaitReadable(s));
  char buffer[16];
  std::string peer_ip;
  int peer_port = 0;
  EXPECT_EQ(stack_->SockRecvFrom(s, buffer, sizeof buffer, 0, &peer_ip, &peer_port), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(peer_ip, "127.0.0.1");
  EXPECT_EQ(peer_port, sender.port());
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, EmptyIPBindsToAllAddresses) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  ASSERT_EQ(stack_->SockBind(s, AF_INET_WS, "", 0), 0);
  int family = 0, port = 0;
  std::string ip;
  stack_->SockLocalName(s, &family, &ip, &port);
  EXPECT_EQ(ip, "0.0.0.0");
  EXPECT_NE(port, 0);
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, BindNeverResolvesAName) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  try {
    stack_->SockBind(s, AF_INET_WS, "localhost", 0);
    FAIL() << "no exception";
  } catch (const EIdInvalidIPAddress& e) {
    EXPECT_EQ(e.Message(), "localhost is not a valid IP address.");
  }
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, ConnectRefusesAnEmptyIP) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  EXPECT_THROW(stack_->SockConnect(s, AF_INET_WS, "", 9), EIdInvalidIPAddress);
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, LocalNameOfAnUnboundSocketRaises10022) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  int family, port;
  std::string ip;
  try {
    stack_->SockLocalName(s, &family, &ip, &port);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAEINVAL);
  }
  stack_->SockClose(s);
}

TEST_F(SocketCallTest, NamesOfAClosedSocketRaise10038) {
  TSocket s = stack_->NewSocket(SOCK_DGRAM_WS, 0);
  stack_->SockClose(s);
  int family, port;
  std::string ip;
  try {
    stack_->SockLocalName(s, &family, &ip, &port);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAENOTSOCK);
    EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
  }
}

TEST_F(SocketCallTest, RefusedSocketRaisesCannotAllocate) {
  try {
    stack_->NewSocket(99, 0);
    FAIL() << "no exception";
  } catch (const EIdInvalidSocket& e) {
    EXPECT_EQ(e.Message(), "Cannot allocate socket.");
  }
}

class LookupTest : public StackTest {};

TEST_F(LookupTest, HostAddressListIsRefilledNotAppended) {
  std::string name = stack_->LookupLocalHostName();
  ASSERT_FALSE(name.empty());
  TStringList* list;
  try {
    list = stack_->HostAddressList();
  } catch (const EIdSocketError& e) {
    GTEST_SKIP() << "this machine's name " << name << " does not resolve: " << e.Message();
  }
  const int count = list->Count();
  ASSERT_GT(count, 0);
  for (int i = 0; i < count; ++i) EXPECT_TRUE(TIdStack::IsIPText(list->Strings(i)));
  EXPECT_EQ(stack_->HostAddressList(), list);
  EXPECT_EQ(list->Count(), count);
  EXPECT_EQ(stack_->FirstHostAddress(), list->Strings(0));
}

TEST_F(LookupTest, ServicePortFromTheDatabaseOrTheNumber) {
  EXPECT_EQ(stack_->LookupServicePort("4464"), 4464);
  EXPECT_EQ(stack_->LookupServicePort("$35"), 53);
  EXPECT_EQ(stack_->LookupServicePort(" 0x35"), 53);
  try {
    EXPECT_EQ(stack_->LookupServicePort("domain"), 53);
  } catch (const EIdInvalidServiceName&) {
    FAIL() << "no service database entry for domain (/etc/services: add netbase to tools/deps.sh)";
  }
}

TEST_F(LookupTest, UnknownServiceIsNamedInTheMessage) {
  for (const char* name : {"no-such-service", "", "99999999999", "53x"}) {
    try {
      stack_->LookupServicePort(name);
      ADD_FAILURE() << name << " was accepted";
    } catch (const EIdInvalidServiceName& e) {
      EXPECT_EQ(e.Message(), std::string(name) + " is not a valid service.");
    }
  }
}

TEST_F(LookupTest, ServiceNamesOfAPort) {
  EXPECT_EQ(stack_->LookupServiceNames(4464)->Count(), 0);
  std::unique_ptr<TStringList> names = stack_->LookupServiceNames(53);
  ASSERT_GT(names->Count(), 0)
      << "no service database entry for port 53 (/etc/services: add netbase to tools/deps.sh)";
  EXPECT_EQ(names->Strings(0), "domain");
}

class StackLifeTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(StackLifeTest, MakingTheStackAgainDoesNotStartTheLibraryAgain) {
  EXPECT_EXIT(
      {
        for (int i = 0; i < 3; ++i) {
          std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
          if (!StackStarted) std::exit(1);
        }
        // Balances the one start-up: a second one would keep sockets working.
        if (ws2::WSACleanup() != 0) std::exit(2);
        std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
        std::exit(stack->SockOpen(AF_INET_WS, SOCK_DGRAM_WS, 0) == INVALID_SOCKET &&
                          stack->LastSocketError() == WSANOTINITIALISED
                      ? 0
                      : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

std::unique_ptr<TIdStack> CountingFactory();
int g_made = 0;
std::unique_ptr<TIdStack> CountingFactory() {
  ++g_made;
  return NewStackWindows();
}

TEST(NewStack, MakesTheConfiguredClass) {
  TIdStackClass saved = ConfiguredStackClass;
  ConfiguredStackClass = &CountingFactory;
  std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
  ConfiguredStackClass = saved;
  EXPECT_EQ(g_made, 1);
  EXPECT_NE(dynamic_cast<TIdStackWindows*>(stack.get()), nullptr);
  EXPECT_EQ(stack->ClassName(), "TIdStackWindows");
}

}  // namespace
