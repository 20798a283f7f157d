// Bindings: opening and releasing sockets, binding once or over a port range,
// sending and receiving, options, peers, copying, and the collection.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/core/Classes.h"
#include "support/udp_peer.h"
#include "support/wine.h"
#include "transport/IdException.h"
#include "transport/IdSocketHandle.h"
#include "transport/IdStack.h"

namespace {

using loopback::UdpSocket;

// Made in the constructor and freed in the destructor, so that the stack
// outlives the bindings of derived fixtures, which close their sockets.
class BindingTest : public ::testing::Test {
 protected:
  BindingTest() { SharedStack = TIdStack::NewStack().release(); }
  ~BindingTest() override {
    delete SharedStack;
    SharedStack = nullptr;
  }

  // The port a socket is bound to, as the platform reports it.
  // 0 when it is not bound: the platform then refuses the name with 10022.
  static int BoundPort(TSocket socket) {
    int family = 0, port = 0;
    std::string ip;
    try {
      SharedStack->SockLocalName(socket, &family, &ip, &port);
    } catch (const EIdSocketError& e) {
      if (e.SocketErrorCode() != WSAEINVAL) throw;
    }
    return port;
  }
};

class BindLocalTest : public BindingTest {};

TEST_F(BindLocalTest, EmptyIPBindsAllAddressesAndReadsThemBack) {
  TIdSocketHandle binding;
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  binding.BindLocal();
  EXPECT_EQ(binding.IP(), "0.0.0.0");
  EXPECT_NE(binding.Port(), 0);
  EXPECT_EQ(binding.Port(), BoundPort(binding.SystemSocket()));
}

TEST_F(BindLocalTest, PortInUseGivesTheBindMessage) {
  UdpSocket holder;
  ASSERT_TRUE(holder.ok());
  TIdSocketHandle binding;
  binding.SetIP("127.0.0.1");
  binding.SetPort(holder.port());
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  try {
    binding.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_TRUE(binding.HasSocket());
}

TEST_F(BindLocalTest, PortZeroWithoutAFullRangeIsOneAttempt) {
  TIdSocketHandle binding;
  binding.SetIP("127.0.0.1");
  binding.SetClientPortMax(5002);
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  binding.BindLocal();
  EXPECT_NE(binding.Port(), 0);
  EXPECT_EQ(binding.Port(), BoundPort(binding.SystemSocket()));
}

TEST_F(BindLocalTest, PortSetIgnoresTheRange) {
  int port;
  {
    UdpSocket probe;
    port = probe.port();
  }
  TIdSocketHandle binding;
  binding.SetIP("127.0.0.1");
  binding.SetPort(port);
  binding.SetClientPortMin(5000);
  binding.SetClientPortMax(5002);
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  binding.BindLocal();
  EXPECT_EQ(binding.Port(), port);
  EXPECT_EQ(BoundPort(binding.SystemSocket()), port);
}

TEST_F(BindLocalTest, AddressOfNoLocalInterfaceRaisesSocketError) {
  if (UnderWine()) GTEST_SKIP() << "Wine binds an address of no interface; Windows refuses it";
  TIdSocketHandle binding;
  binding.SetIP("192.0.2.1");  // TEST-NET-1: never an address of this machine
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  try {
    binding.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAEADDRNOTAVAIL);
    EXPECT_EQ(e.Message(), "Socket Error # 10049\r\nCannot assign requested address.");
  }
  EXPECT_TRUE(binding.HasSocket());
}

TEST_F(BindLocalTest, HostNameAsIPIsNotAnAddress) {
  TIdSocketHandle binding;
  binding.SetIP("localhost");
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  try {
    binding.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdInvalidIPAddress& e) {
    EXPECT_EQ(e.Message(), "localhost is not a valid IP address.");
  }
}

TEST_F(BindLocalTest, NewBindingWithoutSocketRaises10038) {
  TIdSocketHandle binding;
  try {
    binding.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAENOTSOCK);
  }
}

// The range 5000..5002 on 127.0.0.1; the tests hold some of its ports with
// other sockets to see which ports the binding tries, and in which order.
class PortRangeTest : public BindingTest {
 protected:
  void SetUp() override {
    for (int port = 5000; port <= 5002; ++port) {
      if (!loopback::PortFree(port)) GTEST_SKIP() << "UDP port " << port << " is taken";
    }
    binding_.SetIP("127.0.0.1");
    binding_.SetClientPortMin(5000);
    binding_.SetClientPortMax(5002);
    binding_.OpenSocket(SOCK_DGRAM_WS, 0);
  }

  TIdSocketHandle binding_;
};

TEST_F(PortRangeTest, HighestFreePortIsTakenFirst) {
  binding_.BindLocal();
  EXPECT_EQ(binding_.Port(), 5002);
  EXPECT_EQ(BoundPort(binding_.SystemSocket()), 5002);
}

TEST_F(PortRangeTest, PortsAreTriedDownwardsOneByOne) {
  UdpSocket top(5002);
  ASSERT_TRUE(top.ok());
  binding_.BindLocal();
  EXPECT_EQ(binding_.Port(), 5001);

  TIdSocketHandle second;
  second.SetIP("127.0.0.1");
  second.SetClientPortMin(5000);
  second.SetClientPortMax(5002);
  second.OpenSocket(SOCK_DGRAM_WS, 0);
  second.BindLocal();
  EXPECT_EQ(second.Port(), 5000);
  EXPECT_EQ(BoundPort(second.SystemSocket()), 5000);
}

TEST_F(PortRangeTest, FullRangeNamesItsEndsAndLeavesTheLowestPort) {
  UdpSocket a(5000), b(5001), c(5002);
  ASSERT_TRUE(a.ok() && b.ok() && c.ok());
  try {
    binding_.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(e.Message(), "Can not bind in port range (5000 - 5002)");
  }
  EXPECT_EQ(binding_.Port(), 5000);
  EXPECT_EQ(BoundPort(binding_.SystemSocket()), 0);
}

TEST_F(BindLocalTest, InvertedRangeIsRefusedWithoutAnAttempt) {
  TIdSocketHandle binding;
  binding.SetIP("127.0.0.1");
  binding.SetClientPortMin(6000);
  binding.SetClientPortMax(5000);
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  try {
    binding.BindLocal();
    FAIL() << "no exception";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (6000 - 5000)");
  }
  EXPECT_EQ(binding.Port(), 0);
  EXPECT_EQ(BoundPort(binding.SystemSocket()), 0);
  EXPECT_FALSE(binding.BindInPortRange());
  EXPECT_EQ(binding.Port(), 0);
}

class SocketLifeTest : public BindingTest {};

TEST_F(SocketLifeTest, SecondReleaseLeavesAReusedHandleAlone) {
  TIdSocketHandle binding;
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  const TSocket old = binding.SystemSocket();
  binding.ReleaseSocket();
  EXPECT_FALSE(binding.HasSocket());
  EXPECT_EQ(binding.SystemSocket(), old);
  // The lowest free descriptor is reused: this socket now has the old number.
  TSocket other = SharedStack->NewSocket(SOCK_DGRAM_WS, 0);
  ASSERT_EQ(other, old);
  binding.ReleaseSocket();
  EXPECT_EQ(SharedStack->SockBind(other, AF_INET_WS, "127.0.0.1", 0), 0);
  SharedStack->SockClose(other);
}

TEST_F(SocketLifeTest, OpeningAgainClosesTheFirstSocketAndKeepsTheAddress) {
  TIdSocketHandle binding;
  binding.SetIP("127.0.0.1");
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  binding.BindLocal();
  const int port = binding.Port();
  binding.OpenSocket(SOCK_DGRAM_WS, 0);
  EXPECT_TRUE(binding.HasSocket());
  EXPECT_EQ(binding.IP(), "127.0.0.1");
  EXPECT_EQ(binding.Port(), port);
  EXPECT_TRUE(loopback::PortFree(port));
  binding.BindLocal();
  EXPECT_EQ(BoundPort(binding.SystemSocket()), port);
}

TEST_F(SocketLifeTest, DestroyingABindingClosesItsSocket) {
  auto binding = std::make_unique<TIdSocketHandle>();
  binding->SetIP("127.0.0.1");
  binding->OpenSocket(SOCK_DGRAM_WS, 0);
  binding->BindLocal();
  const int port = binding->Port();
  EXPECT_FALSE(loopback::PortFree(port));
  binding.reset();
  EXPECT_TRUE(loopback::PortFree(port));
}

TEST_F(SocketLifeTest, RefusedSocketLeavesTheBindingWithout) {
  TIdSocketHandle binding;
  EXPECT_THROW(binding.OpenSocket(99, 0), EIdInvalidSocket);
  EXPECT_FALSE(binding.HasSocket());
}

class DatagramTest : public BindingTest {
 protected:
  void SetUp() override {
    binding_.SetIP("127.0.0.1");
    binding_.OpenSocket(SOCK_DGRAM_WS, 0);
    binding_.BindLocal();
  }
  TIdSocketHandle binding_;
};

TEST_F(DatagramTest, LargestDatagramArrivesWhole) {
  UdpSocket receiver;
  std::string payload(65507, 'k');
  payload[0] = 'a';
  payload.back() = 'z';
  binding_.SendDatagram("127.0.0.1", receiver.port(), payload.data(),
                        static_cast<int>(payload.size()));
  EXPECT_EQ(receiver.Receive(), payload);
}

TEST_F(DatagramTest, DatagramOverTheLimitIsPackageSizeTooBig) {
  std::string payload(65508, 'k');
  try {
    binding_.SendDatagram("127.0.0.1", 9, payload.data(), static_cast<int>(payload.size()));
    FAIL() << "no exception";
  } catch (const EIdPackageSizeTooBig& e) {
    EXPECT_EQ(e.Message(), "Package Size Too Big.");
  }
}

TEST_F(DatagramTest, BroadcastWithoutTheOptionIsAccessDenied) {
  try {
    binding_.SendDatagram("127.255.255.255", 9, "x", 1);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAEACCES);
    EXPECT_EQ(e.Message(), "Socket Error # 10013\r\nAccess denied.");
  }
}

TEST_F(DatagramTest, BroadcastOptionSetThroughTheBindingTakesEffect) {
  std::int32_t on = -1;
  binding_.SetOption(SOL_SOCKET_WS, SO_BROADCAST_WS, &on, 4);
  EXPECT_NO_THROW(binding_.SendDatagram("127.255.255.255", 9, "x", 1));
}

TEST_F(DatagramTest, UnknownOptionRaisesSocketError) {
  std::int32_t value = 1;
  try {
    binding_.SetOption(SOL_SOCKET_WS, 0x7777, &value, 4);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10042\r\nBad protocol option.");
  }
}

TEST_F(DatagramTest, SendToAHostNameSendsNothing) {
  EXPECT_THROW(binding_.SendDatagram("localhost", 9, "x", 1), EIdInvalidIPAddress);
}

TEST_F(DatagramTest, ReceiveReturnsThePeerWithoutRecordingIt) {
  UdpSocket sender;
  ASSERT_EQ(sender.SendTo(binding_.Port(), "hi"), 2);
  ASSERT_TRUE(loopback::WaitReadable(binding_.SystemSocket()));
  char buffer[8];
  std::string ip;
  int port = 0;
  EXPECT_EQ(binding_.ReceiveDatagram(buffer, sizeof buffer, 0, &ip, &port), 2);
  EXPECT_EQ(std::string(buffer, 2), "hi");
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_EQ(port, sender.port());
  EXPECT_EQ(binding_.RemoteIP(), "");
  EXPECT_EQ(binding_.RemotePort(), 0);
  binding_.RecordPeer(ip, port);
  EXPECT_EQ(binding_.RemoteIP(), "127.0.0.1");
  EXPECT_EQ(binding_.RemotePort(), sender.port());
}

TEST_F(DatagramTest, ReceiveIntoASmallBufferFailsUnchecked) {
  UdpSocket sender;
  ASSERT_EQ(sender.SendTo(binding_.Port(), "0123456789"), 10);
  ASSERT_TRUE(loopback::WaitReadable(binding_.SystemSocket()));
  char buffer[4];
  std::string ip;
  int port = 0;
  EXPECT_EQ(binding_.ReceiveDatagram(buffer, sizeof buffer, 0, &ip, &port), SOCKET_ERROR);
  EXPECT_EQ(SharedStack->LastSocketError(), WSAEMSGSIZE);
}

TEST_F(DatagramTest, ConnectedPeerIsReadBack) {
  UdpSocket peer;
  binding_.RecordPeer("127.0.0.1", peer.port());
  EXPECT_EQ(binding_.ConnectPeer(AF_INET_WS), 0);
  binding_.RecordPeer("", 0);
  binding_.RefreshPeer();
  EXPECT_EQ(binding_.RemoteIP(), "127.0.0.1");
  EXPECT_EQ(binding_.RemotePort(), peer.port());
}

TEST_F(DatagramTest, PeerOfAnUnconnectedSocketRaises) {
  EXPECT_THROW(binding_.RefreshPeer(), EIdSocketError);
}

TEST_F(BindingTest, CopyTakesAddressesButNeitherSocketNorRange) {
  TIdSocketHandle source;
  source.SetIP("127.0.0.1");
  source.SetPort(1234);
  source.RecordPeer("10.0.0.2", 4321);
  source.SetClientPortMin(5000);
  source.SetClientPortMax(5002);
  source.OpenSocket(SOCK_DGRAM_WS, 0);
  TIdSocketHandle target;
  target.Assign(&source);
  EXPECT_EQ(target.IP(), "127.0.0.1");
  EXPECT_EQ(target.Port(), 1234);
  EXPECT_EQ(target.RemoteIP(), "10.0.0.2");
  EXPECT_EQ(target.RemotePort(), 4321);
  EXPECT_EQ(target.ClientPortMin(), 0);
  EXPECT_EQ(target.ClientPortMax(), 0);
  EXPECT_FALSE(target.HasSocket());
  EXPECT_EQ(target.SystemSocket(), INVALID_SOCKET);
}

TEST_F(BindingTest, CopyFromAnotherClassIsAConversionError) {
  TIdSocketHandle target;
  TStringList list;
  try {
    target.Assign(&list);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TIdSocketHandle");
  }
}

class SocketHandlesTest : public BindingTest {
 protected:
  TIdSocketHandles handles_{nullptr};
};

TEST_F(SocketHandlesTest, AddedBindingTakesTheDefaultPort) {
  handles_.SetDefaultPort(15251);
  TIdSocketHandle* binding = handles_.AddBinding();
  EXPECT_EQ(handles_.Count(), 1);
  EXPECT_EQ(handles_.Items(0), binding);
  EXPECT_EQ(binding->Port(), 15251);
  EXPECT_EQ(binding->IP(), "");
  EXPECT_FALSE(binding->HasSocket());
  EXPECT_EQ(binding->SystemSocket(), INVALID_SOCKET);
  handles_.SetDefaultPort(1);
  EXPECT_EQ(binding->Port(), 15251);
  TIdSocketHandle direct(&handles_);
  EXPECT_EQ(direct.Port(), 1);
  EXPECT_EQ(handles_.Count(), 2);
}

TEST_F(SocketHandlesTest, ReleasedBindingIsStillFoundByItsOldHandle) {
  TIdSocketHandle* binding = handles_.AddBinding();
  binding->OpenSocket(SOCK_DGRAM_WS, 0);
  const TSocket old = binding->SystemSocket();
  binding->ReleaseSocket();
  EXPECT_EQ(handles_.FindByHandle(old), binding);
}

TEST_F(SocketHandlesTest, EqualHandlesFindTheHigherIndex) {
  TIdSocketHandle* low = handles_.AddBinding();
  TIdSocketHandle* high = handles_.AddBinding();
  high->OpenSocket(SOCK_DGRAM_WS, 0);
  high->ReleaseSocket();
  low->OpenSocket(SOCK_DGRAM_WS, 0);  // reuses the released descriptor number
  ASSERT_EQ(low->SystemSocket(), high->SystemSocket());
  EXPECT_EQ(handles_.FindByHandle(low->SystemSocket()), high);
}

TEST_F(SocketHandlesTest, UnknownHandleFindsNothing) {
  TIdSocketHandle* binding = handles_.AddBinding();
  binding->OpenSocket(SOCK_DGRAM_WS, 0);
  EXPECT_EQ(handles_.FindByHandle(binding->SystemSocket() + 1000), nullptr);
  EXPECT_EQ(handles_.FindByHandle(binding->SystemSocket()), binding);
}

TEST_F(SocketHandlesTest, ClearingTheCollectionClosesEverySocket) {
  std::vector<int> ports;
  for (int i = 0; i < 3; ++i) {
    TIdSocketHandle* binding = handles_.AddBinding();
    binding->SetIP("127.0.0.1");
    binding->OpenSocket(SOCK_DGRAM_WS, 0);
    binding->BindLocal();
    ports.push_back(binding->Port());
  }
  handles_.Clear();
  EXPECT_EQ(handles_.Count(), 0);
  for (int port : ports) EXPECT_TRUE(loopback::PortFree(port)) << port;
}

}  // namespace
