// Floods the real chat window with 64-byte datagrams from a sender thread on
// loopback and prints what reaches its history:
//   - lines per second into the visible history, the sender at full speed;
//   - loss at 10,000 datagrams per second offered.
// What arrived is read from the history's line count. Written against the
// framework and the platform's sockets alone (the sender is the tests' UDP
// peer), so that it builds on both ports; tools/bench.sh runs it for the
// Windows program under Wine, beside flood_bench's figures of the Linux one.
//
// The window binds UDP port 15251: run this in a network namespace of its
// own. Under Wine every socket lives in the Wine server, which must run in the
// same namespace.
//
// Usage: chat_bench [scale]   scale times the run lengths (default 1: 15 s)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/IPadd.h"
#include "app/chat.h"
#include "bench/support/Figures.h"
#include "bench/support/FloodRun.h"
#include "framework/gui/GuiPort.h"
#include "support/udp_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Sends 64-byte datagrams to 127.0.0.1:15251 on a thread of its own: rate per
// second (0: as fast as it can) for seconds.
class Sender {
 public:
  Sender(int rate, double seconds) : thread_([this, rate, seconds] { Run(rate, seconds); }) {}
  ~Sender() { thread_.join(); }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  bool Done() const { return done_.load(); }
  long Sent() const { return sent_.load(); }
  Clock::time_point Start() const { return start_.load(); }

 private:
  void Run(int rate, double seconds) {
    loopback::UdpSocket socket;
    std::string payload(64, '.');
    const Clock::time_point start = Clock::now();
    start_.store(start);
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    long sent = 0;
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
      long due = sent + 256;
      if (rate > 0) {
        due = static_cast<long>(rate * Seconds(now - start)) + 1;
        if (sent >= due) {
          // A millisecond's worth at a time, as a busy network delivers them.
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
      }
      for (; sent < due; ++sent) {
        char head[32];
        std::snprintf(head, sizeof head, "flood %010ld ", sent);
        payload.replace(0, 17, head, 17);
        socket.SendTo(kChatPort, payload);
      }
      sent_.store(sent);
    }
    sent_.store(sent);
    done_.store(true);
  }

  std::atomic<bool> done_{false};
  std::atomic<long> sent_{0};
  std::atomic<Clock::time_point> start_{Clock::now()};
  std::thread thread_;
};

// Wakes the main loop every 20 ms, so that a loop waiting for events notices
// that the run is over.
class Ticker {
 public:
  Ticker()
      : thread_([this] {
          while (!stop_.load()) {
            Application->PostWakeUp(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~Ticker() {
    stop_.store(true);
    thread_.join();
  }
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// After the sender has stopped, reception counts as finished once nothing has
// arrived for this long.
constexpr auto kQuiet = std::chrono::milliseconds(300);

// A fresh chat window, shown, flooded at rate for seconds.
Run Flood(int rate, double seconds) {
  Application->ResetForTesting();
  Form1 = nullptr;
  Form2 = nullptr;
  Application->MakeForm(Form1);
  Application->MakeForm(Form2);
  Form1->Show();
  for (int i = 0; i < 10; ++i) port::ProcessWaitingEvents();
  const int before = Form1->Memo1->Lines()->Count();
  Clock::time_point last_delivery = Clock::now();
  Form1->IdUDPServer1->SetOnUDPRead(
      [&last_delivery](TObject* sender, TStream& data, TIdSocketHandle* binding) {
        Form1->IdUDPServer1UDPRead(sender, data, binding);
        last_delivery = Clock::now();
      });
  Run run;
  {
    Ticker ticker;
    Sender sender(rate, seconds);
    while (!(sender.Done() && Clock::now() - last_delivery > kQuiet)) {
      Application->PumpOneMessage();
    }
    run.sent = sender.Sent();
    run.seconds = Seconds(last_delivery - sender.Start());
  }
  run.delivered = Form1->Memo1->Lines()->Count() - before;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  TApplication application(argc, argv);
  std::fprintf(stderr, "flood of 64-byte datagrams on loopback into the chat window\n");
  const Run full = Flood(0, 5 * scale);
  const Run r10k = Flood(10000, 10 * scale);
  Application->ResetForTesting();
  WriteFigure("lines/s into the visible history, sender at full speed", full.PerSecond(), "lines/s",
              "", Better::kHigher);
  WriteFigure("loss with the sender at full speed", full.LossPercent(), "%");
  WriteFigure("datagrams/s the sender managed at full speed",
              static_cast<double>(full.sent) / (5 * scale), "datagrams/s");
  WriteFigure("loss at 10,000/s offered", r10k.LossPercent(), "%", "0 %", Better::kLower);
  WriteFigure("lines/s at 10,000/s offered", r10k.PerSecond(), "lines/s");
  // The sender runs on the same platform layer (under Wine, through the same
  // Wine server): what it managed to send shows whether the rate was offered.
  WriteFigure("datagrams/s the sender managed at 10,000/s offered",
              static_cast<double>(r10k.sent) / (10 * scale), "datagrams/s", "about 10,000");
  return 0;
}
