// Bad input from the wire and from the address list, against the real chat
// window with real sockets: payloads at and beyond the receive buffer, zero
// bytes, lone CR and LF, CR LF runs, every byte value, text that looks like
// HTML and datagrams from many source ports must each show exactly as the
// add-line rules say, or not at all, and never disturb the lines around
// them; a long address list with unresolvable entries stops at the first of
// them. Each test executable runs in a network namespace of its own, so the
// window's server has port 15251 to itself and no name look-up leaves the
// machine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/chat.h"
#include "support/modal_watch.h"
#include "support/udp_peer.h"

namespace {

// A UDP socket with a port of its own, on 127.0.0.1 or on every address
// (then it receives what is sent to any loopback address).
class Socket : public loopback::UdpSocket {
 public:
  explicit Socket(const char* ip = "127.0.0.1") : UdpSocket(0, ip) {
    if (!ok()) ADD_FAILURE() << "cannot bind a loopback socket";
  }

  void SendToChatPort(const std::string& bytes) {
    int sent = SendTo(kChatPort, bytes);
    ASSERT_EQ(sent, static_cast<int>(bytes.size())) << "loopback refused the datagram";
  }

  // The payloads that arrive until count have come or the time is up.
  std::vector<std::string> Receive(std::size_t count, int timeout_ms = 5000) {
    std::vector<std::string> all;
    bool complete = QTest::qWaitFor(
        [&] {
          while (std::optional<std::string> payload = TryReceive()) all.push_back(*payload);
          return all.size() >= count;
        },
        timeout_ms);
    (void)complete;  // callers check what arrived
    return all;
  }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

class ReceiveFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->ResetForTesting();
    Application->MakeForm(Form1);
    Form1->Show();
    f = Form1;
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
  }

  // Waits until the history reads exactly text; a history that went past it
  // or off it fails at the deadline with what it holds.
  void ExpectHistory(const std::string& text) {
    bool reached = QTest::qWaitFor([&] { return f->Memo1->Text() == text; }, 10000);
    EXPECT_TRUE(reached) << "history holds " << f->Memo1->Text().size() << " bytes, expected "
                         << text.size();
  }

  TForm1* f = nullptr;
  Socket peer;
};

TEST_F(ReceiveFaultTest, PayloadsUpToTheBufferShowWholeAndLargerOnesAreDroppedAlone) {
  const std::string full(8192, 'c');
  peer.SendToChatPort("");
  peer.SendToChatPort("a");
  peer.SendToChatPort(std::string(8191, 'b'));
  peer.SendToChatPort(full);
  peer.SendToChatPort(std::string(8193, 'd'));   // one byte more than the buffer
  peer.SendToChatPort(std::string(65507, 'e'));  // the largest UDP payload over IPv4
  peer.SendToChatPort("next");
  ExpectHistory("\r\na\r\n" + std::string(8191, 'b') + "\r\n" + full + "\r\nnext\r\n");
  EXPECT_EQ(f->Memo1->Lines()->Count(), 5);
  EXPECT_EQ(f->Memo1->Lines()->Strings(3), full);
}

TEST_F(ReceiveFaultTest, ZeroByteEndsTheShownLineAndTakesItsLineBreakOnly) {
  peer.SendToChatPort(std::string("\0", 1));  // nothing shown, nothing broken
  peer.SendToChatPort("first");
  peer.SendToChatPort(std::string("cut\0hidden", 10));
  peer.SendToChatPort("own line");
  peer.SendToChatPort("after");
  // "own line" follows a line with no break, so it brings its break first and
  // ends without one; "after" then starts its own line the same way.
  ExpectHistory("first\r\ncut\r\nown line\r\nafter");
  EXPECT_EQ(f->Memo1->Lines()->Count(), 4);
}

TEST_F(ReceiveFaultTest, LoneCrAndLfStayInTheirLineAndCrLfRunsBreakIt) {
  peer.SendToChatPort("a\rb");
  peer.SendToChatPort("c\nd");
  peer.SendToChatPort("\r\n\r\n\r\n");
  peer.SendToChatPort("\n\r");
  peer.SendToChatPort("\r");
  peer.SendToChatPort("x\r\r\n\ny");
  ExpectHistory("a\rb\r\nc\nd\r\n\r\n\r\n\r\n\r\n\n\r\r\n\r\r\nx\r\r\n\ny\r\n");
  std::vector<std::string> lines;
  for (int i = 0; i < f->Memo1->Lines()->Count(); ++i) {
    lines.push_back(f->Memo1->Lines()->Strings(i));
  }
  EXPECT_EQ(lines,
            (std::vector<std::string>{"a\rb", "c\nd", "", "", "", "", "\n\r", "\r", "x\r", "\ny"}));
}

TEST_F(ReceiveFaultTest, EveryByteValueReadsBackAsSent) {
  std::string ascending;  // 0x01 to 0xFF: no CR LF pair, no zero byte
  for (int b = 1; b <= 0xFF; ++b) ascending += static_cast<char>(b);
  std::string descending;  // 0xFF down to 0x00: shown whole, the break lost
  for (int b = 0xFF; b >= 0; --b) descending += static_cast<char>(b);
  peer.SendToChatPort(ascending);
  peer.SendToChatPort(descending);
  peer.SendToChatPort("end");
  ExpectHistory(ascending + "\r\n" + descending.substr(0, 255) + "\r\nend");
  EXPECT_EQ(f->Memo1->Lines()->Strings(0), ascending);
}

TEST_F(ReceiveFaultTest, EachSingleByteDatagramIsALineOfItsOwn) {
  std::string expected;
  for (int b = 0; b <= 0xFF; ++b) {
    const std::string one = Bytes({b});
    peer.SendToChatPort(one);
    if (b == 0) continue;  // shows nothing and leaves the history as it was
    expected += one + "\r\n";
  }
  ExpectHistory(expected);
}

TEST_F(ReceiveFaultTest, MarkupIsShownAsItStands) {
  const std::string markup[] = {
      "<b>not bold</b> &amp; &lt;",
      "<!DOCTYPE html><html><body><p>para</p><img src=x onerror=alert(1)></body></html>",
      "<script>alert('x')</script>",
      "<table><tr><td>cell</td></tr></table>",
  };
  std::string expected;
  for (const std::string& text : markup) {
    peer.SendToChatPort(text);
    expected += text + "\r\n";
  }
  ExpectHistory(expected);
  EXPECT_EQ(f->Memo1->Lines()->Count(), 4);
}

TEST_F(ReceiveFaultTest, DatagramsFromManySourcePortsAllShowInArrivalOrder) {
  constexpr int kSenders = 200;
  std::vector<std::unique_ptr<Socket>> senders;
  std::set<int> ports;
  std::string expected;
  for (int i = 0; i < kSenders; ++i) {
    senders.push_back(std::make_unique<Socket>());
    ports.insert(senders.back()->port());
  }
  ASSERT_EQ(ports.size(), static_cast<std::size_t>(kSenders));
  // In batches that the server's receive queue can hold: what overflows it is
  // lost on the way, as the network may lose any datagram.
  constexpr int kBatch = 50;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kSenders; ++i) {
      const std::string line = "sender " + std::to_string(i) + " round " + std::to_string(round);
      senders[i]->SendToChatPort(line);
      expected += line + "\r\n";
      if ((i + 1) % kBatch == 0) ExpectHistory(expected);
    }
  }
}

// The send handler with a long address list: 100 entries, every one sent to in
// list order, and an unresolvable entry stops the sends right there.
class AddressListFaultTest : public ReceiveFaultTest {
 protected:
  void SetUp() override {
    ReceiveFaultTest::SetUp();
    f->IdUDPClient1->SetPort(recipient.port());  // stands in for every listed address
  }
  void ClickSend() { QTest::mouseClick(f->BitBtn3->Widget(), Qt::LeftButton); }

  // Entry i of a list of loopback addresses that all reach the recipient.
  static std::string Address(int i) { return "127.0.0." + std::to_string(i + 1); }

  Socket recipient{"0.0.0.0"};
};

TEST_F(AddressListFaultTest, HundredEntriesEachGetTheLineThenOneEchoFollows) {
  for (int i = 0; i < 100; ++i) f->ListBox1->Items()->Add(Address(i));
  f->nik->SetText("n");
  f->mesag->SetText("to all");
  ClickSend();
  std::vector<std::string> got = recipient.Receive(100);
  EXPECT_EQ(got, std::vector<std::string>(100, "n> to all"));
  EXPECT_EQ(f->Memo1->Text(), "n> to all\r\n");
  EXPECT_EQ(f->mesag->Text(), "");
  EXPECT_TRUE(recipient.Receive(1, 200).empty());  // nothing beyond one per entry
}

TEST_F(AddressListFaultTest, UnresolvableEntriesStopTheSendAtTheFirstOfThemEachTime) {
  // Texts with blanks: the resolver turns them down without asking anyone.
  for (int i = 0; i < 100; ++i) {
    f->ListBox1->Items()->Add(i == 40 || i == 70 ? "no such host " + std::to_string(i)
                                                 : Address(i));
  }
  f->nik->SetText("n");
  f->mesag->SetText("kept");
  BoxCloser boxes;
  ClickSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.boxes.size() == 1; }, 10000));
  EXPECT_EQ(boxes.boxes[0].text, "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(recipient.Receive(41, 300).size(), 40u);  // entries 0 to 39 only
  EXPECT_EQ(f->Memo1->Text(), "");
  EXPECT_EQ(f->mesag->Text(), "kept");

  // The user removes the first bad entry and sends again: the next one stops it.
  f->ListBox1->Items()->Delete(40);
  ClickSend();
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.boxes.size() == 2; }, 10000));
  EXPECT_EQ(recipient.Receive(70, 300).size(), 69u);  // entries before the second
  EXPECT_EQ(f->Memo1->Text(), "");

  // Lines from the wire still arrive, and the window still sends.
  peer.SendToChatPort("still receiving");
  ExpectHistory("still receiving\r\n");
  f->ListBox1->Items()->Delete(69);
  ClickSend();
  EXPECT_EQ(recipient.Receive(98).size(), 98u);
  EXPECT_EQ(f->Memo1->Text(), "still receiving\r\nn> kept\r\n");
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

}  // namespace
