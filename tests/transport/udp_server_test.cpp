// The UDP server and its listener thread, with real sockets on loopback. The
// test's main thread is the program's main thread: it serves handed-over
// deliveries by calling CheckSynchronize, or holds them back by not calling it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/Threads.h"
#include "support/udp_peer.h"
#include "transport/IdStack.h"
#include "transport/IdUDPServer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Serves handed-over calls until done() holds; false after five seconds.
template <typename Pred>
bool ServeUntil(Pred done) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    CheckSynchronize(10);
  }
  return true;
}

// Polls done() without serving anything; false after five seconds.
template <typename Pred>
bool WaitWithoutServing(Pred done) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct Event {
  TObject* sender;
  std::string bytes;
  std::int64_t position;
  TIdSocketHandle* binding;
  std::string remote_ip;
  int remote_port;
  std::uint32_t thread;
  std::uint64_t cycle;
};

class UdpServerTest : public ::testing::Test {
 protected:
  UdpServerTest() : baseline_workers_(LiveWorkerCount()) {}

  ~UdpServerTest() override {
    server_.reset();
    EXPECT_TRUE(ServeUntil([&] { return LiveWorkerCount() == baseline_workers_; }));
  }

  // A binding on 127.0.0.1 at a port the system chooses.
  TIdSocketHandle* AddLoopbackBinding(TIdUDPServer* server = nullptr) {
    TIdSocketHandle* binding = (server ? server : server_.get())->Bindings()->AddBinding();
    binding->SetIP("127.0.0.1");
    binding->SetPort(0);
    return binding;
  }

  // Records every delivery; handler_ runs afterwards, if set.
  void Record(TIdUDPServer* server = nullptr) {
    (server ? server : server_.get())
        ->SetOnUDPRead([this](TObject* sender, TStream& data, TIdSocketHandle* binding) {
          std::string bytes(static_cast<std::size_t>(data.Size()), '\0');
          const std::int64_t position = data.Position();
          data.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
          auto* server = static_cast<TIdUDPServer*>(sender);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(Event{sender, bytes, position, binding, binding->RemoteIP(),
                                    binding->RemotePort(), CurrentThreadID(),
                                    server->Listener() ? server->Listener()->ReadCycle() : 0});
          }
          if (handler_) handler_(bytes);
        });
  }

  // Sends one datagram to binding for every slot of the listener's read-ahead,
  // the first from first_sender and the rest from sender_, and waits without
  // serving until all are queued: the listener reads nothing more until the
  // main thread serves. Events [0, kHeld) are theirs.
  void FillTheReadAhead(TIdSocketHandle* binding, loopback::UdpSocket& first_sender) {
    first_sender.SendTo(binding->Port(), "held");
    for (std::size_t i = 1; i < kHeld; ++i) sender_.SendTo(binding->Port(), "held");
    ASSERT_TRUE(WaitWithoutServing([] { return PendingCallCount() == kHeld; }));
  }
  static constexpr std::size_t kHeld = TIdUDPListenerThread::kReadAhead;

  std::size_t EventCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }

  // First: the server starts the sockets library that the sender needs.
  std::unique_ptr<TIdUDPServer> server_ = std::make_unique<TIdUDPServer>(nullptr);
  loopback::UdpSocket sender_;
  std::mutex mutex_;
  std::vector<Event> events_;  // guarded by mutex_
  std::function<void(const std::string&)> handler_;
  const std::int32_t baseline_workers_;
};

TEST_F(UdpServerTest, DeliveryOnMainThreadCarriesTheBytesThePeerAndTheBinding) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  ASSERT_TRUE(server_->Active());
  EXPECT_EQ(server_->ActiveBinding(), binding);
  EXPECT_NE(binding->Port(), 0);
  sender_.SendTo(binding->Port(), std::string("hi\0there", 8));
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  const Event& event = events_[0];
  EXPECT_EQ(event.sender, server_.get());
  EXPECT_EQ(event.bytes, std::string("hi\0there", 8));
  EXPECT_EQ(event.position, 0);
  EXPECT_EQ(event.binding, binding);
  EXPECT_EQ(event.remote_ip, "127.0.0.1");
  EXPECT_EQ(event.remote_port, sender_.port());
  EXPECT_EQ(event.thread, MainThreadID());
}

TEST_F(UdpServerTest, QueuedDatagramsGiveEventsInArrivalOrderInConsecutiveCyclesWithTheirSenders) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  loopback::UdpSocket other;
  FillTheReadAhead(binding, other);
  sender_.SendTo(binding->Port(), "first");
  sender_.SendTo(binding->Port(), "second");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == kHeld + 2; }));
  // The first held datagram was delivered after the others had been read:
  // the binding still named its own sender.
  EXPECT_EQ(events_[0].remote_port, other.port());
  EXPECT_EQ(events_[1].remote_port, sender_.port());
  EXPECT_EQ(events_[kHeld].bytes, "first");
  EXPECT_EQ(events_[kHeld + 1].bytes, "second");
  EXPECT_EQ(events_[kHeld + 1].cycle, events_[kHeld].cycle + 1);
}

TEST_F(UdpServerTest, TwoReadyBindingsGiveOneDatagramEachPerCycleInHandleOrder) {
  TIdSocketHandle* first = AddLoopbackBinding();
  TIdSocketHandle* second = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  FillTheReadAhead(first, sender_);
  // Both sockets are ready at the next wait; the first has two datagrams.
  sender_.SendTo(second->Port(), "to second");
  sender_.SendTo(first->Port(), "to first");
  sender_.SendTo(first->Port(), "to first again");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == kHeld + 3; }));
  EXPECT_EQ(events_[kHeld].bytes, "to first");
  EXPECT_EQ(events_[kHeld].binding, first);
  EXPECT_EQ(events_[kHeld + 1].bytes, "to second");
  EXPECT_EQ(events_[kHeld + 1].binding, second);
  EXPECT_EQ(events_[kHeld].cycle, events_[kHeld + 1].cycle);
  EXPECT_EQ(events_[kHeld + 2].bytes, "to first again");
  EXPECT_EQ(events_[kHeld + 2].cycle, events_[kHeld + 1].cycle + 1);
}

TEST_F(UdpServerTest, ZeroByteDatagramGivesAnEventWithAnEmptyStream) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "");
  sender_.SendTo(binding->Port(), "after");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 2; }));
  EXPECT_EQ(events_[0].bytes, "");
  EXPECT_EQ(events_[1].bytes, "after");
}

TEST_F(UdpServerTest, DatagramLongerThanBufferSizeIsDroppedWholeAndReceptionGoesOn) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetBufferSize(16);
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "0123456789abcdefX");  // 17 bytes
  sender_.SendTo(binding->Port(), "0123456789abcdef");   // exactly 16
  sender_.SendTo(binding->Port(), "next");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 2; }));
  EXPECT_EQ(events_[0].bytes, "0123456789abcdef");
  EXPECT_EQ(events_[1].bytes, "next");
  // Changing the size while active does not reach the running listener.
  server_->SetBufferSize(8192);
  sender_.SendTo(binding->Port(), std::string(100, 'L'));
  sender_.SendTo(binding->Port(), "still small");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 3; }));
  EXPECT_EQ(events_[2].bytes, "still small");
}

TEST_F(UdpServerTest, NegativeBufferSizeDropsEveryNonEmptyDatagramWithoutSpinning) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetBufferSize(-5);
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "dropped");
  sender_.SendTo(binding->Port(), "");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  EXPECT_EQ(events_[0].bytes, "");
}

TEST_F(UdpServerTest, DatagramSentRightAfterActivationIsDeliveredInTheFirstCycle) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "early");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  EXPECT_EQ(events_[0].cycle, 1u);
}

TEST_F(UdpServerTest, UnassignedOnUDPReadStillReadsRecordsThePeerAndMovesActiveBinding) {
  AddLoopbackBinding();
  TIdSocketHandle* second = AddLoopbackBinding();
  server_->SetActive(true);
  EXPECT_EQ(server_->ActiveBinding(), server_->Bindings()->Items(0));
  sender_.SendTo(second->Port(), "nobody listens");
  // Still handed to the main thread.
  ASSERT_TRUE(WaitWithoutServing([] { return PendingCallCount() == 1; }));
  ASSERT_TRUE(ServeUntil([&] { return server_->ActiveBinding() == second; }));
  EXPECT_EQ(second->RemoteIP(), "127.0.0.1");
  EXPECT_EQ(second->RemotePort(), sender_.port());
  sender_.SendTo(second->Port(), "again");
  ASSERT_TRUE(ServeUntil([] { return PendingCallCount() == 0; }));
}

TEST_F(UdpServerTest, SendThroughTheServerLeavesFromTheBindingThatLastReceived) {
  AddLoopbackBinding();
  TIdSocketHandle* second = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  sender_.SendTo(second->Port(), "ping");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  ASSERT_EQ(server_->ActiveBinding(), second);
  server_->SendText("127.0.0.1", sender_.port(), "pong");
  TSockAddrIn from{};
  int from_length = sizeof from;
  char buffer[16];
  ASSERT_TRUE(loopback::WaitReadable(sender_.handle()));
  int n = ws2::recvfrom(sender_.handle(), buffer, sizeof buffer, 0, &from, &from_length);
  ASSERT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(n, 0))), "pong");
  EXPECT_EQ(ntohs(from.sin_port), second->Port());
}

// Handlers that raise, with either ThreadedEvent setting.
class RaisingHandlerTest : public UdpServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RaisingHandlerTest, RaisingHandlerShowsNothingAndTheNextDatagramStillArrives) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  handler_ = [](const std::string& bytes) {
    if (bytes == "exception") throw Exception("handler failed");
    if (bytes == "other") throw std::runtime_error("not an Exception");
  };
  server_->SetThreadedEvent(GetParam());
  server_->SetActive(true);
  for (const char* text : {"exception", "other", "fine"}) sender_.SendTo(binding->Port(), text);
  // CheckSynchronize would raise here if a handler's error reached the main thread.
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 3; }));
  EXPECT_EQ(events_[2].bytes, "fine");
  EXPECT_EQ(events_[2].thread, GetParam() ? server_->Listener()->ThreadID() : MainThreadID());
  EXPECT_FALSE(server_->Listener()->IsHalted());
  EXPECT_EQ(server_->Listener()->FaultMessage(), "");
}

INSTANTIATE_TEST_SUITE_P(BothThreadedEventSettings, RaisingHandlerTest, ::testing::Bool());

TEST_F(UdpServerTest, DeactivationDuringAPendingDeliveryRunsItInsideAndThenEnds) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  bool deactivating = false;
  bool ran_inside = false;
  Record();
  handler_ = [&](const std::string&) { ran_inside = deactivating; };
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "pending");
  ASSERT_TRUE(WaitWithoutServing([] { return PendingCallCount() == 1; }));
  deactivating = true;
  server_->SetActive(false);
  deactivating = false;
  EXPECT_TRUE(ran_inside);
  EXPECT_EQ(EventCount(), 1u);
  EXPECT_FALSE(server_->Active());
  EXPECT_EQ(server_->Listener(), nullptr);
  EXPECT_EQ(server_->ActiveBinding(), nullptr);
  EXPECT_FALSE(binding->HasSocket());
  EXPECT_EQ(LiveWorkerCount(), baseline_workers_);
}

TEST_F(UdpServerTest, SocketsStayOpenUntilTheListenerHasEnded) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  std::atomic<bool> release{false};
  std::atomic<bool> in_handler{false};
  Record();
  handler_ = [&](const std::string&) {
    in_handler = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  server_->SetThreadedEvent(true);
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "slow");
  ASSERT_TRUE(WaitWithoutServing([&] { return in_handler.load(); }));
  bool open_while_listener_ran = false;
  std::thread watcher([&] {
    // Deactivation has begun once the server reads inactive.
    WaitWithoutServing([&] { return !server_->Active(); });
    open_while_listener_ran = binding->HasSocket();
    release = true;
  });
  server_->SetActive(false);
  watcher.join();
  EXPECT_TRUE(open_while_listener_ran);
  EXPECT_FALSE(binding->HasSocket());
}

TEST_F(UdpServerTest, HandlerDeactivatingItsOwnServerNeitherHangsNorGetsMore) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "main thread");
    TIdSocketHandle* binding =
        server_->Bindings()->Count() ? server_->Bindings()->Items(0) : AddLoopbackBinding();
    Record();
    handler_ = [&](const std::string&) { server_->SetActive(false); };
    server_->SetThreadedEvent(threaded);
    server_->SetActive(true);
    const std::size_t before = EventCount();
    sender_.SendTo(binding->Port(), "stop");
    sender_.SendTo(binding->Port(), "lost");
    ASSERT_TRUE(ServeUntil([&] { return LiveWorkerCount() == baseline_workers_; }));
    EXPECT_EQ(EventCount(), before + 1);
    EXPECT_FALSE(server_->Active());
    EXPECT_EQ(server_->Listener(), nullptr);
    EXPECT_FALSE(binding->HasSocket());
  }
}

TEST_F(UdpServerTest, HandlerDestroyingItsOwnServerLetsTheListenerEndAlone) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "main thread");
    auto* server = new TIdUDPServer(nullptr);
    TIdSocketHandle* binding = AddLoopbackBinding(server);
    std::atomic<bool> destroyed{false};
    server->SetOnUDPRead([&](TObject* sender, TStream&, TIdSocketHandle*) {
      delete static_cast<TIdUDPServer*>(sender);
      destroyed = true;
    });
    server->SetThreadedEvent(threaded);
    server->SetActive(true);
    // The second may be read ahead and queued behind the first: it must not
    // reach the server the first one destroyed.
    const int port = binding->Port();  // the binding goes with its server
    sender_.SendTo(port, "bye");
    sender_.SendTo(port, "after");
    ASSERT_TRUE(ServeUntil([&] { return destroyed && LiveWorkerCount() == baseline_workers_; }));
  }
}

TEST_F(UdpServerTest, SecondServerOnTheSamePortFailsAndStaysInactive) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  TIdUDPServer second(nullptr);
  TIdSocketHandle* clash = second.Bindings()->AddBinding();
  clash->SetIP("127.0.0.1");
  clash->SetPort(binding->Port());
  try {
    second.SetActive(true);
    FAIL() << "activation succeeded";
  } catch (const EIdCouldNotBindSocket& error) {
    EXPECT_EQ(error.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.ActiveBinding(), nullptr);
  EXPECT_EQ(second.Listener(), nullptr);
  sender_.SendTo(binding->Port(), "first still hears");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
}

// Another program's socket that asks to share the address (SO_REUSEADDR)
// must not take a running server's datagrams. Windows lets it unless the
// server bound exclusively; Wine (which answers 10013) and Linux refuse it
// either way, so there the option read back shows the exclusive bind.
TEST_F(UdpServerTest, SocketAskingToShareTheAddressCannotTakeTheServersPort) {
  TIdSocketHandle* binding = AddLoopbackBinding();
  server_->SetActive(true);
  TSocket thief = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  const int on = 1;
  ASSERT_EQ(ws2::setsockopt(thief, SOL_SOCKET_WS, SO_REUSEADDR_WS, &on, sizeof on), 0);
  TSockAddrIn address = loopback::Address("127.0.0.1", binding->Port());
  EXPECT_NE(ws2::bind(thief, &address, sizeof address), 0);
  ws2::closesocket(thief);
  int exclusive = 0, length = sizeof exclusive;
  ASSERT_EQ(ws2::getsockopt(binding->SystemSocket(), SOL_SOCKET_WS, SO_EXCLUSIVEADDRUSE_WS,
                            &exclusive, &length),
            0);
  EXPECT_EQ(exclusive, 1);
}

TEST_F(UdpServerTest, AutomaticBindingStaysAfterDeactivationAndIsReused) {
  Record();
  server_->SetDefaultPort(0);
  server_->SetActive(true);
  ASSERT_EQ(server_->Bindings()->Count(), 1);
  TIdSocketHandle* binding = server_->Bindings()->Items(0);
  EXPECT_EQ(binding->IP(), "0.0.0.0");
  const int port = binding->Port();
  EXPECT_NE(port, 0);
  server_->SetActive(false);
  EXPECT_EQ(server_->Bindings()->Count(), 1);
  server_->SetDefaultPort(1);  // changes nothing for the existing binding
  server_->SetActive(true);
  ASSERT_EQ(server_->Bindings()->Count(), 1);
  EXPECT_EQ(server_->Bindings()->Items(0), binding);
  EXPECT_EQ(binding->Port(), port);
  sender_.SendTo(port, "again");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
}

TEST_F(UdpServerTest, WritingBindingsCopiesTheItemsAndRebindsAnActiveServer) {
  TIdSocketHandle* old_binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  const int old_port = old_binding->Port();
  loopback::UdpSocket probe;  // a port that is free once the probe is gone
  const int new_port = probe.port();
  ws2::closesocket(probe.handle());
  TIdSocketHandles source(nullptr);
  TIdSocketHandle* item = source.AddBinding();
  item->SetIP("127.0.0.1");
  item->SetPort(new_port);
  server_->SetBindings(&source);
  ASSERT_EQ(server_->Bindings()->Count(), 1);
  TIdSocketHandle* copy = server_->Bindings()->Items(0);
  EXPECT_NE(copy, item);
  EXPECT_FALSE(item->HasSocket());
  EXPECT_TRUE(server_->Active());
  EXPECT_EQ(server_->ActiveBinding(), copy);
  EXPECT_EQ(copy->Port(), new_port);
  EXPECT_TRUE(loopback::PortFree(old_port));
  sender_.SendTo(new_port, "new port");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  EXPECT_EQ(events_[0].binding, copy);
}

TEST_F(UdpServerTest, BroadcastOptionIsSetOnEveryBindingButNotWhilePending) {
  TComponent form(nullptr);
  auto* server = new TIdUDPServer(&form);
  AddLoopbackBinding(server);
  AddLoopbackBinding(server);
  form.BeginLoading();
  server->SetActive(true);
  server->SetBroadcastEnabled(true);
  EXPECT_EQ(server->Listener(), nullptr);  // Pending: nothing opened early
  form.EndLoading();
  ASSERT_NE(server->Listener(), nullptr);
  for (int i = 0; i < 2; ++i) {
    std::int32_t value = 0;
    int length = sizeof value;
    SharedStack->SockGetOption(server->Bindings()->Items(i)->SystemSocket(), SOL_SOCKET_WS,
                               SO_BROADCAST_WS, &value, &length);
    EXPECT_NE(value, 0) << "binding " << i;
  }
}

TEST_F(UdpServerTest, BurstWhileTheMainThreadIsBusyWaitsInTheSocketAndArrivesWhole) {
  // More short datagrams than the system's default buffer holds (about 250).
  constexpr int kBurst = 400;
  TIdSocketHandle* binding = AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  sender_.SendTo(binding->Port(), "0");
  ASSERT_TRUE(WaitWithoutServing([] { return PendingCallCount() == 1; }));
  for (int i = 1; i < kBurst; ++i) sender_.SendTo(binding->Port(), std::to_string(i));
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == kBurst; })) << EventCount() << " arrived";
  for (int i = 0; i < kBurst; ++i) EXPECT_EQ(events_[i].bytes, std::to_string(i));
}

TEST_F(UdpServerTest, SixtyFourBindingsStillReceive) {
  for (int i = 0; i < 64; ++i) AddLoopbackBinding();
  Record();
  server_->SetActive(true);
  sender_.SendTo(server_->Bindings()->Items(63)->Port(), "last");
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  EXPECT_FALSE(server_->Listener()->IsHalted());
}

TEST_F(UdpServerTest, SixtyFiveBindingsEndTheListenerButTheServerStaysActive) {
  for (int i = 0; i < 65; ++i) AddLoopbackBinding();
  server_->SetActive(true);
  ASSERT_TRUE(ServeUntil([&] { return server_->Listener()->HasEnded(); }));
  EXPECT_EQ(server_->Listener()->FaultMessage(), "Set Size Exceeded.");
  EXPECT_TRUE(server_->Active());
  server_->SetActive(false);
  EXPECT_EQ(server_->Listener(), nullptr);
}

// The chat configuration: no bindings, DefaultPort 15251.
TEST_F(UdpServerTest, ChatPortServerReceivesOnEveryLocalAddress) {
  if (!loopback::PortFree(15251)) GTEST_SKIP() << "port 15251 is taken";
  Record();
  server_->SetDefaultPort(15251);
  server_->SetActive(true);
  ASSERT_EQ(server_->Bindings()->Count(), 1);
  EXPECT_EQ(server_->Bindings()->Items(0)->IP(), "0.0.0.0");
  EXPECT_EQ(server_->Bindings()->Items(0)->Port(), 15251);
  TSockAddrIn to = loopback::Address("127.0.0.2", 15251);
  ws2::sendto(sender_.handle(), "chat", 4, 0, &to, sizeof to);
  ASSERT_TRUE(ServeUntil([&] { return EventCount() == 1; }));
  EXPECT_EQ(events_[0].bytes, "chat");
}

TEST(WakeHandleTest, SignalEndsAWaitAndResetClearsIt) {
  TIdComponent keeper(nullptr);
  TSocket wake = SharedStack->NewWakeHandle();
  ASSERT_NE(wake, INVALID_SOCKET);
  loopback::UdpSocket idle;
  TIdSocketList ready{idle.handle(), wake};
  EXPECT_EQ(SharedStack->SockSelect(&ready, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SharedStack->SignalWakeHandle(wake), 0);
  EXPECT_EQ(SharedStack->SignalWakeHandle(wake), 0);
  ready = {idle.handle(), wake};
  EXPECT_EQ(SharedStack->SockSelect(&ready, nullptr, nullptr, 5000), 1);
  EXPECT_EQ(ready, TIdSocketList{wake});
  EXPECT_EQ(SharedStack->ResetWakeHandle(wake), 0);
  EXPECT_EQ(SharedStack->ResetWakeHandle(wake), 0);
  ready = {wake};
  EXPECT_EQ(SharedStack->SockSelect(&ready, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SharedStack->CloseWakeHandle(wake), 0);
}

}  // namespace
