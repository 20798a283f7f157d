// The UDP endpoint base and client, with real sockets on loopback: deferred
// activation, sending (opening on demand, empty datagrams, host resolution),
// the broadcast option, and SharedStack's life with the transport components.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/IdStack.h"
#include "transport/IdUDPClient.h"

namespace {

struct Datagram {
  std::string bytes;
  std::string peer_ip;
  int peer_port = 0;
};

// A socket bound to ip and a port the system chooses, read through the stack.
// REQUIRES: SharedStack exists for the receiver's whole life.
class Receiver {
 public:
  explicit Receiver(const std::string& ip = "127.0.0.1") {
    binding_.OpenSocket(SOCK_DGRAM_WS, 0);
    binding_.SetIP(ip);
    binding_.BindLocal();
  }

  int Port() const { return binding_.Port(); }

  // The next datagram, or none when nothing arrives within five seconds.
  std::optional<Datagram> Receive() {
    TIdSocketList ready{binding_.SystemSocket()};
    if (SharedStack->SockSelect(&ready, nullptr, nullptr, 5000) != 1) return std::nullopt;
    std::vector<char> buffer(70000);
    Datagram datagram;
    int n = binding_.ReceiveDatagram(buffer.data(), static_cast<int>(buffer.size()), 0,
                                     &datagram.peer_ip, &datagram.peer_port);
    if (n < 0) return std::nullopt;
    datagram.bytes.assign(buffer.data(), static_cast<std::size_t>(n));
    return datagram;
  }

 private:
  TIdSocketHandle binding_;
};

// SO_BROADCAST as the socket reports it.
int BroadcastOption(TIdSocketHandle* binding) {
  std::int32_t value = 12345;
  int length = sizeof value;
  int rc = SharedStack->SockGetOption(binding->SystemSocket(), SOL_SOCKET_WS, SO_BROADCAST_WS,
                                      &value, &length);
  EXPECT_EQ(rc, 0);
  return value;
}

// Endpoints owned by a form-like owner; a keeper component holds SharedStack
// for the receivers.
class ClientTest : public ::testing::Test {
 protected:
  TIdComponent keeper_{nullptr};
  TComponent owner_{nullptr};
  Receiver receiver_;
};

TEST_F(ClientTest, FreshClientHasItsDefaultsAndIsClosed) {
  TIdUDPClient client(&owner_);
  EXPECT_FALSE(client.Active());
  EXPECT_EQ(client.SoleBinding(), nullptr);
  EXPECT_EQ(client.BufferSize(), 8192);
  EXPECT_EQ(client.ReceiveTimeout(), -2);
  EXPECT_EQ(client.Port(), 0);
  EXPECT_EQ(client.Host(), "");
  EXPECT_FALSE(client.BroadcastEnabled());
}

TEST_F(ClientTest, ActiveBeforePortInAResourceOpensOnlyAtTheEndOfLoading) {
  owner_.BeginLoading();
  auto* client = new TIdUDPClient(&owner_);  // owned and destroyed by owner_
  client->SetActive(true);
  EXPECT_TRUE(client->Active());  // Pending
  EXPECT_EQ(client->SoleBinding(), nullptr);
  client->SetPort(receiver_.Port());
  client->SetBufferSize(100);
  client->SetReceiveTimeout(7);
  EXPECT_EQ(client->SoleBinding(), nullptr);
  owner_.EndLoading();

  ASSERT_NE(client->SoleBinding(), nullptr);
  EXPECT_TRUE(client->SoleBinding()->HasSocket());
  EXPECT_TRUE(client->Active());
  client->SetHost("127.0.0.1");
  client->SendText("after loading");
  auto datagram = receiver_.Receive();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "after loading");
}

TEST_F(ClientTest, ActiveFalseWhileLoadingCancelsThePendingOpening) {
  owner_.BeginLoading();
  auto* client = new TIdUDPClient(&owner_);
  client->SetActive(true);
  client->SetActive(false);
  EXPECT_FALSE(client->Active());
  owner_.EndLoading();
  EXPECT_FALSE(client->Active());
  EXPECT_EQ(client->SoleBinding(), nullptr);
}

TEST_F(ClientTest, DesignStateOnlyRecordsActive) {
  TIdUDPClient client(nullptr);
  client.SetDesigning(true);
  client.SetActive(true);
  EXPECT_TRUE(client.Active());
  EXPECT_EQ(client.SoleBinding(), nullptr);
}

TEST_F(ClientTest, SettingActiveToWhatItReadsKeepsTheSocket) {
  TIdUDPClient client(&owner_);
  client.SetActive(false);
  EXPECT_EQ(client.SoleBinding(), nullptr);
  client.SetActive(true);
  TIdSocketHandle* binding = client.SoleBinding();
  ASSERT_NE(binding, nullptr);
  const TSocket socket = binding->SystemSocket();
  client.SetActive(true);
  EXPECT_EQ(client.SoleBinding(), binding);
  EXPECT_EQ(binding->SystemSocket(), socket);
  EXPECT_TRUE(binding->HasSocket());
}

TEST_F(ClientTest, SendingOnAClosedClientOpensItAndItStaysOpen) {
  TIdUDPClient client(&owner_);
  client.SetHost("127.0.0.1");
  client.SetPort(receiver_.Port());
  client.SendText("first");
  EXPECT_TRUE(client.Active());
  TIdSocketHandle* binding = client.SoleBinding();
  ASSERT_NE(binding, nullptr);
  client.SendText("second");
  EXPECT_EQ(client.SoleBinding(), binding);

  auto first = receiver_.Receive();
  auto second = receiver_.Receive();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->bytes, "first");
  EXPECT_EQ(second->bytes, "second");
  EXPECT_EQ(first->peer_ip, "127.0.0.1");
  // One socket for both sends: the same local port.
  EXPECT_EQ(first->peer_port, second->peer_port);
}

TEST_F(ClientTest, EmptyTextArrivesAsOneZeroByteDatagram) {
  TIdUDPClient client(&owner_);
  client.SendText("127.0.0.1", receiver_.Port(), "");
  client.SendText("127.0.0.1", receiver_.Port(), "next");
  auto empty = receiver_.Receive();
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->bytes, "");
  auto next = receiver_.Receive();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->bytes, "next");
}

TEST_F(ClientTest, TextBytesAreSentAsTheyStandWithoutTerminator) {
  TIdUDPClient client(&owner_);
  const std::string text("\xcf\xf0\xe8\xe2\xe5\xf2> a\0b\r\n", 13);
  client.SendText("127.0.0.1", receiver_.Port(), text);
  auto datagram = receiver_.Receive();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, text);
}

TEST_F(ClientTest, LocalhostInAnyLetterCaseGoesTo127001) {
  TIdUDPClient client(&owner_);
  client.SetPort(receiver_.Port());
  for (const char* host : {"LOCALHOST", "localhost", "LocalHost", "127.1"}) {
    client.SetHost(host);
    client.SendText(host);
    auto datagram = receiver_.Receive();
    ASSERT_TRUE(datagram) << host;
    EXPECT_EQ(datagram->bytes, host);
  }
}

TEST_F(ClientTest, HostChangedBetweenSendsIsUsedAtTheNextSend) {
  Receiver other("127.0.0.2");
  TIdUDPClient client(&owner_);
  client.SetHost("127.0.0.1");
  client.SetPort(receiver_.Port());
  client.SendText("to one");
  client.SetHost("127.0.0.2");
  client.SetPort(other.Port());
  client.SendText("to two");
  auto one = receiver_.Receive();
  auto two = other.Receive();
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one->bytes, "to one");
  EXPECT_EQ(two->bytes, "to two");
}

TEST_F(ClientTest, UnresolvableHostRaisesBeforeSendingAndTheClientStaysClosed) {
  TIdUDPClient client(&owner_);
  try {
    // A name the resolver turns down itself, so no query leaves the machine.
    client.SendText("no such host", receiver_.Port(), "lost");
    ADD_FAILURE() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), WSAHOST_NOT_FOUND);
  }
  EXPECT_FALSE(client.Active());
  EXPECT_EQ(client.SoleBinding(), nullptr);
  // Nothing went out: the next datagram to arrive is the marker.
  client.SendText("127.0.0.1", receiver_.Port(), "marker");
  auto datagram = receiver_.Receive();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "marker");
}

TEST_F(ClientTest, TooLongDatagramRaisesAndTheClientStaysOpen) {
  TIdUDPClient client(&owner_);
  client.SetActive(true);
  EXPECT_THROW(client.SendText("127.0.0.1", receiver_.Port(), std::string(70000, 'x')),
               EIdPackageSizeTooBig);
  EXPECT_TRUE(client.Active());
}

TEST_F(ClientTest, ClosingAndReopeningMakesANewSocket) {
  TIdUDPClient client(&owner_);
  client.SetActive(true);
  client.SendText("127.0.0.1", receiver_.Port(), "before");
  client.SetActive(false);
  EXPECT_FALSE(client.Active());
  EXPECT_EQ(client.SoleBinding(), nullptr);
  client.SetActive(true);
  ASSERT_NE(client.SoleBinding(), nullptr);
  EXPECT_TRUE(client.SoleBinding()->HasSocket());
  client.SendText("127.0.0.1", receiver_.Port(), "after");
  auto before = receiver_.Receive();
  auto after = receiver_.Receive();
  ASSERT_TRUE(before && after);
  EXPECT_EQ(after->bytes, "after");
}

class BroadcastTest : public ClientTest {};

TEST_F(BroadcastTest, EnabledOnAClosedClientIsStoredAndAppliedWhenItOpens) {
  TIdUDPClient client(&owner_);
  client.SetBroadcastEnabled(true);
  EXPECT_EQ(client.SoleBinding(), nullptr);
  EXPECT_FALSE(client.Active());
  client.SetActive(true);
  EXPECT_NE(BroadcastOption(client.SoleBinding()), 0);
  // Every opening sets it again, on the new socket.
  client.SetActive(false);
  client.SetActive(true);
  EXPECT_NE(BroadcastOption(client.SoleBinding()), 0);
}

TEST_F(BroadcastTest, ChangedOnAnOpenClientIsAppliedAtOnce) {
  TIdUDPClient client(&owner_);
  client.SetActive(true);
  EXPECT_EQ(BroadcastOption(client.SoleBinding()), 0);
  client.SetBroadcastEnabled(true);
  EXPECT_NE(BroadcastOption(client.SoleBinding()), 0);
  client.SetBroadcastEnabled(false);
  EXPECT_EQ(BroadcastOption(client.SoleBinding()), 0);
}

TEST_F(BroadcastTest, SetBroadcastOptionWithoutABindingOpensTheClient) {
  TIdUDPClient client(&owner_);
  client.SetBroadcastOption(true);
  EXPECT_TRUE(client.Active());
  ASSERT_NE(client.SoleBinding(), nullptr);
  EXPECT_NE(BroadcastOption(client.SoleBinding()), 0);
}

TEST_F(BroadcastTest, PendingClientOpensAtOnceWhenBroadcastChanges) {
  owner_.BeginLoading();
  auto* client = new TIdUDPClient(&owner_);
  client->SetActive(true);
  client->SetBroadcastEnabled(true);
  TIdSocketHandle* binding = client->SoleBinding();
  ASSERT_NE(binding, nullptr);
  EXPECT_TRUE(binding->HasSocket());
  EXPECT_NE(BroadcastOption(binding), 0);
  const TSocket socket = binding->SystemSocket();
  owner_.EndLoading();
  EXPECT_EQ(client->SoleBinding(), binding);
  EXPECT_EQ(binding->SystemSocket(), socket);
  EXPECT_TRUE(client->Active());
}

// No keeper here: these tests watch SharedStack come and go.
class StackLifeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LiveComponentCount(), 0);
    ASSERT_EQ(SharedStack, nullptr);
  }
};

TEST_F(StackLifeTest, LastComponentFreesTheStackAndTheNextMakesANewOne) {
  {
    TComponent owner(nullptr);
    auto* client = new TIdUDPClient(&owner);
    EXPECT_EQ(LiveComponentCount(), 1);
    ASSERT_NE(SharedStack, nullptr);
    new TIdUDPClient(client);  // owned by the first: destroyed before it
    EXPECT_EQ(LiveComponentCount(), 2);
    client->SetActive(true);
  }
  EXPECT_EQ(LiveComponentCount(), 0);
  EXPECT_EQ(SharedStack, nullptr);

  TIdUDPClient again(nullptr);
  ASSERT_NE(SharedStack, nullptr);
  EXPECT_EQ(LiveComponentCount(), 1);
  Receiver receiver;
  again.SendText("127.0.0.1", receiver.Port(), "new stack");
  auto datagram = receiver.Receive();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "new stack");
}

class StackFactoryFails {
 public:
  StackFactoryFails() : saved_(ConfiguredStackClass) {
    ConfiguredStackClass = []() -> std::unique_ptr<TIdStack> {
      throw EIdStackInitializationFailed("Winsock Initialization Error.");
    };
  }
  ~StackFactoryFails() { ConfiguredStackClass = saved_; }

 private:
  TIdStackClass saved_;
};

TEST_F(StackLifeTest, FailedStackLeavesTheCountAndTheOwnerAsTheyWere) {
  TComponent owner(nullptr);
  {
    StackFactoryFails failing;
    EXPECT_THROW(new TIdUDPClient(&owner), EIdStackInitializationFailed);
    EXPECT_EQ(LiveComponentCount(), 0);
    EXPECT_EQ(SharedStack, nullptr);
    EXPECT_EQ(owner.ComponentCount(), 0);
  }
  TIdUDPClient first(&owner);
  EXPECT_EQ(LiveComponentCount(), 1);
  {
    // Only the first component makes the stack.
    StackFactoryFails failing;
    TIdUDPClient second(&owner);
    EXPECT_EQ(LiveComponentCount(), 2);
  }
}

class ProgressTest : public ::testing::Test {
 protected:
  TIdComponent component_{nullptr};
  std::vector<std::string> events_;

  void SetUp() override {
    component_.SetOnProgressBegin([this](TObject*, std::uint8_t d, std::int32_t size) {
      events_.push_back("begin " + std::to_string(d) + " " + std::to_string(size));
    });
    component_.SetOnProgress([this](TObject*, std::uint8_t d, std::int32_t position) {
      events_.push_back("at " + std::to_string(d) + " " + std::to_string(position));
    });
    component_.SetOnProgressEnd(
        [this](TObject*, std::uint8_t d) { events_.push_back("end " + std::to_string(d)); });
  }
};

TEST_F(ProgressTest, OnlyTheOutermostBeginAndEndAreReported) {
  component_.AddProgress(0, 5);  // outside any Begin: nothing
  component_.BeginProgress(0, 100);
  component_.AddProgress(0, 10);
  component_.BeginProgress(0, 999);  // nested: size and position stay
  component_.AddProgress(0, 5);
  component_.EndProgress(0);
  component_.BeginProgress(1, 7);
  component_.EndProgress(1);
  component_.EndProgress(0);
  std::vector<std::string> expected = {"begin 0 100", "at 0 10", "at 0 15",
                                       "begin 1 7",   "end 1",   "end 0"};
  EXPECT_EQ(events_, expected);
  EXPECT_EQ(component_.Progress(0).depth, 0);
  EXPECT_EQ(component_.Progress(0).size, 100);
  EXPECT_EQ(component_.Progress(0).position, 15);
}

TEST_F(ProgressTest, UnknownDirectionRaisesInsteadOfCorruptingMemory) {
  EXPECT_THROW(component_.BeginProgress(2, 1), EInvalidOperation);
  EXPECT_TRUE(events_.empty());
}

}  // namespace
