// The chat exchange in the real chat window: the send button's datagrams on
// the wire and its echo, failures in the middle of the sends, and datagrams
// from any peer shown as history lines. Each test executable runs in a network
// namespace of its own, so the window's server has port 15251 to itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/chat.h"
#include "framework/core/Ansi.h"
#include "support/modal_watch.h"
#include "support/udp_peer.h"

// Every request for the user's attention that reaches the port, counted on its
// way there: this test links with --wrap for the port's RequestAttention,
// whose real work still runs.
static int attention_requests = 0;
extern "C" void __real__ZN4port16RequestAttentionEP7QWidget(QWidget* window);
extern "C" void __wrap__ZN4port16RequestAttentionEP7QWidget(QWidget* window) {
  ++attention_requests;
  __real__ZN4port16RequestAttentionEP7QWidget(window);
}

namespace {

// A peer socket on all loopback addresses that tells which address each
// datagram was sent to, so the order of the sends can be read back.
class Peer : public loopback::UdpSocket {
 public:
  explicit Peer(int port = 0) : UdpSocket(port, "0.0.0.0") {
    if (!ok()) ADD_FAILURE() << "peer cannot bind port " << port;
    int on = 1;
    ::setsockopt(handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  }

  struct Datagram {
    std::string to;
    std::string bytes;
  };

  // The next datagram, if one is waiting.
  std::optional<Datagram> Take() {
    char buffer[65536];
    char control[256];
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(handle(), &message, MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    Datagram datagram{"", std::string(buffer, static_cast<std::size_t>(n))};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        auto* info = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c));
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &info->ipi_addr, text, sizeof text);
        datagram.to = text;
      }
    }
    return datagram;
  }

  // The datagrams that arrive until expected have come or the time is up; a
  // short time suits a check that nothing more comes.
  std::vector<Datagram> Drain(int expected, int timeout_ms = 5000) {
    std::vector<Datagram> all;
    bool complete = QTest::qWaitFor(
        [&] {
          while (auto d = Take()) all.push_back(*d);
          return static_cast<int>(all.size()) >= expected;
        },
        timeout_ms);
    (void)complete;  // callers check what arrived
    return all;
  }
};

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->ResetForTesting();
    Application->MakeForm(Form1);
    Form1->Show();
    QApplication::setActiveWindow(Form1->Widget());
    f = Form1;
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
  }

  void Compose(const char* nick_utf8, const char* message_utf8) {
    f->nik->SetText(Ansi(nick_utf8));
    f->mesag->SetText(Ansi(message_utf8));
  }
  void ClickSend() { QTest::mouseClick(f->BitBtn3->Widget(), Qt::LeftButton); }
  bool WaitForHistory(const std::string& text) {
    return QTest::qWaitFor([&] { return f->Memo1->Text() == text; }, 5000);
  }

  TForm1* f = nullptr;
};

TEST_F(ExchangeTest, EmptyListSendsNothingAndKeepsTheMessage) {
  Compose("me", "unsent");
  f->nik->SetFocus();
  ClickSend();
  QTest::qWait(50);  // give a wrongly sent datagram the chance to come back
  EXPECT_EQ(f->Memo1->Text(), "");
  EXPECT_EQ(f->mesag->Text(), "unsent");
  EXPECT_FALSE(f->mesag->Focused());
}

TEST_F(ExchangeTest, EveryEntryGetsTheLineInListOrderThenOneEchoFollows) {
  Peer peer;
  f->IdUDPClient1->SetPort(peer.port());  // the peer stands in for three recipients
  for (const char* entry : {"127.0.0.2", "127.0.0.3", "127.0.0.2", "127.0.0.4"}) {
    f->ListBox1->Items()->Add(entry);
  }
  Compose("Вася", "Привет");
  f->nik->SetFocus();
  ClickSend();
  const std::string line = Ansi("Вася> Привет");
  std::vector<Peer::Datagram> sent = peer.Drain(4);
  ASSERT_EQ(sent.size(), 4u);
  std::vector<std::string> order;
  for (const auto& d : sent) {
    EXPECT_EQ(d.bytes, line);
    order.push_back(d.to);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.2", "127.0.0.4"}));
  EXPECT_EQ(f->Memo1->Text(), line + "\r\n");
  EXPECT_EQ(f->mesag->Text(), "");
  EXPECT_TRUE(f->mesag->Focused());
}

TEST_F(ExchangeTest, EmptyNicknameAndMessageSendTheSeparatorAlone) {
  Peer peer;
  f->IdUDPClient1->SetPort(peer.port());
  f->ListBox1->Items()->Add("127.0.0.1");
  ClickSend();
  std::vector<Peer::Datagram> sent = peer.Drain(1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, "> ");
}

TEST_F(ExchangeTest, OwnAddressShowsTheEchoThenTheReceivedCopy) {
  f->ListBox1->Items()->Add("127.0.0.1");
  Compose("a", "b");
  ClickSend();
  // The echo is there when the handler returns; the copy arrives after it.
  EXPECT_TRUE(f->Memo1->Text() == "a> b\r\n" || f->Memo1->Text() == "a> b\r\na> b\r\n");
  EXPECT_TRUE(WaitForHistory("a> b\r\na> b\r\n")) << f->Memo1->Text();
}

TEST_F(ExchangeTest, UnresolvableSecondEntryEndsTheSendThereWithNoEcho) {
  Peer peer;
  f->IdUDPClient1->SetPort(peer.port());
  f->ListBox1->Items()->Add("127.0.0.2");
  f->ListBox1->Items()->Add("no such host");  // turned down by the resolver itself
  f->ListBox1->Items()->Add("127.0.0.3");
  Compose("n", "kept");
  f->nik->SetFocus();
  BoxCloser boxes;
  ClickSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.boxes.empty(); }, 5000));
  EXPECT_EQ(boxes.boxes[0].text, "Socket Error # 11001\r\nHost not found.");
  std::vector<Peer::Datagram> sent = peer.Drain(2, 300);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, "127.0.0.2");
  EXPECT_EQ(f->Memo1->Text(), "");
  EXPECT_EQ(f->mesag->Text(), "kept");
  EXPECT_FALSE(f->mesag->Focused());
}

TEST_F(ExchangeTest, BroadcastAddressIsRefusedWithAccessDeniedAndLaterEntriesGetNothing) {
  Peer peer;
  f->IdUDPClient1->SetPort(peer.port());
  f->ListBox1->Items()->Add("127.255.255.255");  // the loopback network's broadcast
  f->ListBox1->Items()->Add("127.0.0.2");
  Compose("n", "m");
  BoxCloser boxes;
  ClickSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.boxes.empty(); }, 5000));
  EXPECT_EQ(boxes.boxes[0].text, "Socket Error # 10013\r\nAccess denied.");
  EXPECT_TRUE(peer.Drain(1, 300).empty());
  EXPECT_EQ(f->Memo1->Text(), "");
  EXPECT_EQ(f->mesag->Text(), "m");
}

TEST_F(ExchangeTest, DatagramsFromAnyPeerBecomeLinesAsTheyStand) {
  Peer peer;
  peer.SendTo(kChatPort, Ansi("Петя> здравствуй"));
  peer.SendTo(kChatPort, "two\r\nlines");
  peer.SendTo(kChatPort, "");
  peer.SendTo(kChatPort, std::string("cut\0off", 7));
  peer.SendTo(kChatPort, "<i>as it stands</i>");
  // The zero byte ends the shown line and takes its line break with it; the
  // next line still starts on a line of its own.
  const std::string expected =
      Ansi("Петя> здравствуй") + "\r\ntwo\r\nlines\r\n\r\ncut" + "\r\n<i>as it stands</i>";
  EXPECT_TRUE(WaitForHistory(expected)) << f->Memo1->Text();
}

TEST_F(ExchangeTest, LinesWhileAnotherWindowIsActiveAskForAttentionOnceUntilItIsActivated) {
  const auto deliver = [this](const std::string& payload) {
    TStringStream datagram(payload);
    f->IdUDPServer1UDPRead(f->IdUDPServer1, datagram, nullptr);
  };
  const auto activate = [](QWidget* window) {
    window->activateWindow();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }, 5000);
  };
  QWidget other;
  other.show();
  ASSERT_TRUE(activate(f->Widget()));
  attention_requests = 0;
  deliver("while active");
  EXPECT_EQ(attention_requests, 0);

  ASSERT_TRUE(activate(&other));
  for (int i = 0; i < 100000; ++i) deliver("flood");
  EXPECT_EQ(f->Memo1->Lines()->Count(), 100001);
  EXPECT_EQ(attention_requests, 1);

  ASSERT_TRUE(activate(f->Widget()));
  ASSERT_TRUE(activate(&other));
  deliver("after an activation");
  EXPECT_EQ(attention_requests, 2);
}

TEST_F(ExchangeTest, LinesKeepArrivingWhileAnErrorBoxIsOpen) {
  f->ListBox1->Items()->Add("no such host");
  Peer peer;
  bool seen_while_open = false;
  ModalWatcher watcher([&](QWidget* box) {
    peer.SendTo(kChatPort, "during the box");
    seen_while_open =
        QTest::qWaitFor([&] { return f->Memo1->Text() == "during the box\r\n"; }, 5000);
    QTimer::singleShot(0, box, [box] { box->close(); });
  });
  ClickSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.count() == 1; }, 5000));
  EXPECT_TRUE(seen_while_open);
}

TEST_F(ExchangeTest, ASecondWindowCannotBindTheChatPort) {
  TForm1* second = nullptr;
  try {
    Application->MakeForm(second);
    FAIL() << "the second window was built";
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), "EIdCouldNotBindSocket");
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_EQ(second, nullptr);
  // The first window still receives.
  Peer peer;
  peer.SendTo(kChatPort, "still here");
  EXPECT_TRUE(WaitForHistory("still here\r\n"));
}

TEST_F(ExchangeTest, DeliveryPendingWhileTheWindowIsDestroyedFindsNoHistory) {
  bool late_delivery_saw_history = true;
  int deliveries = 0;
  TForm1* window = f;
  f->IdUDPServer1->SetOnUDPRead([&, window](TObject* s, TStream& data, TIdSocketHandle* b) {
    ++deliveries;
    late_delivery_saw_history = window->Memo1 != nullptr;
    window->IdUDPServer1UDPRead(s, data, b);
  });
  Peer peer;
  peer.SendTo(kChatPort, "too late");
  // Wait until the listener has handed the datagram over, without running it:
  // no events are handled meanwhile, since the wake-up would run the call.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (PendingCallCount() != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(PendingCallCount(), 1);
  Application->ResetForTesting();  // destroys the window: controls first, then the server
  Form1 = nullptr;
  EXPECT_EQ(deliveries, 1);
  EXPECT_FALSE(late_delivery_saw_history);
}

}  // namespace
