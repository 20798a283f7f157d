// Floods the real chat window with 64-byte datagrams from a sender on
// loopback and prints what reaches its history:
//   - lines per second delivered into the visible history, next to a plain
//     recvfrom receiver and to the bare hand-over between two threads;
//   - loss at 10,000, 50,000 and 100,000 datagrams per second offered;
//   - latency from sendto() to the line being in the history at 1,000/s, and
//     to the first repaint of the history after it;
//   - the longest gap between two turns of the main loop, and the repaints of
//     the history per second, during a flood of 100,000/s;
//   - in a fresh process (so that its memory is the history's alone): the
//     resident memory with 1,000,000 lines added through the receive path,
//     and the main thread's time per added line at 0 and at 1,000,000 lines;
//   - on request only (it runs for minutes), an endless flood at full speed:
//     the resident memory sampled at fixed times, which must stay within a
//     tenth of the first sample taken with the history at its limit of lines,
//     and the main thread's time per added line there against that at 0.
//
// The window binds UDP port 15251; tools/bench.sh runs this in a network
// namespace of its own so that nothing else holds the port.
//
// Usage: flood_bench [scale]           every figure, scale times the default
//                                      durations (default 1: about 1.5 min)
//        flood_bench rates [scale]     all but the history's memory
//        flood_bench history [lines]   only the memory and time per line
//        flood_bench latency [seconds] only the latency at 1,000/s
//        flood_bench max [seconds] [rate]   one flood at rate (0: full speed)
//        flood_bench soak [seconds] [sample-seconds] [max-lines]
//                                      a flood at full speed for seconds
//                                      (default 600), memory every sample
//                                      (default 60 s), the history's limit
//                                      (default its own, 1,000,000 lines)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/IPadd.h"
#include "app/chat.h"
#include "bench/support/FloodRun.h"
#include "bench/support/ProcStatus.h"
#include "framework/core/Threads.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::int64_t Nanos(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// CPU time of the calling thread.
double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

constexpr std::size_t kPayloadSize = 64;
constexpr std::size_t kSequenceAt = 6;  // "flood " then ten digits

std::uint64_t SequenceOf(const char* payload, std::size_t size) {
  std::uint64_t n = 0;
  for (std::size_t i = kSequenceAt; i < kSequenceAt + 10 && i < size; ++i) {
    n = n * 10 + static_cast<unsigned>(payload[i] - '0');
  }
  return n;
}

// Sends 64-byte datagrams numbered from 0 to 127.0.0.1:port on a thread of its
// own: `rate` per second (0: as fast as it can) until `seconds` have passed or
// until told to stop. The send time of the first datagrams is kept for the
// latency.
class Sender {
 public:
  Sender(int port, int rate, double seconds, std::size_t timed = 0)
      : sent_at_(timed), thread_([this, port, rate, seconds] { Run(port, rate, seconds); }) {}
  ~Sender() {
    Stop();
    thread_.join();
  }

  void Stop() { stop_.store(true); }
  bool Done() const { return done_.load(); }
  long Sent() const { return sent_.load(); }
  Clock::time_point Start() const { return start_.load(); }
  // The time the datagram numbered n was sent, or 0 when unknown.
  std::int64_t SentAt(std::uint64_t n) const {
    return n < sent_at_.size() ? sent_at_[n].load(std::memory_order_acquire) : 0;
  }

 private:
  void Run(int port, int rate, double seconds) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    char payload[kPayloadSize];
    std::memset(payload, '.', sizeof payload);
    const Clock::time_point start = Clock::now();
    start_.store(start);
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    long sent = 0;
    while (!stop_.load(std::memory_order_relaxed)) {
      Clock::time_point now = Clock::now();
      if (now >= end) break;
      long due = sent + 256;
      if (rate > 0) {
        due = static_cast<long>(rate * Seconds(now - start)) + 1;
        if (sent >= due) {
          // Sleeps until a millisecond's worth of datagrams is due and sends
          // them together, as a busy network delivers them: a sender that woke
          // for every few datagrams would take the receiving threads' CPU on
          // this machine, which a peer on the network does not.
          const long batch = std::max(1L, static_cast<long>(rate) / 1000);
          auto next =
              start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                          static_cast<double>(sent + batch - 1) / rate));
          std::this_thread::sleep_until(std::min(next, end));
          continue;
        }
      }
      for (; sent < due; ++sent) {
        char head[32];
        std::snprintf(head, sizeof head, "flood %010ld ", sent);
        std::memcpy(payload, head, kSequenceAt + 11);
        if (static_cast<std::size_t>(sent) < sent_at_.size()) {
          sent_at_[static_cast<std::size_t>(sent)].store(Nanos(Clock::now()),
                                                         std::memory_order_release);
        }
        ::sendto(s, payload, kPayloadSize, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
      sent_.store(sent);
    }
    sent_.store(sent);
    ::close(s);
    done_.store(true);
  }

  std::vector<std::atomic<std::int64_t>> sent_at_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<long> sent_{0};
  std::atomic<Clock::time_point> start_{Clock::now()};
  std::thread thread_;
};

// After the sender has stopped, reception counts as finished once nothing has
// arrived for this long.
constexpr auto kQuiet = std::chrono::milliseconds(200);

// A plain receiver: one socket, recvfrom in a loop, nothing else.
Run PlainReceiver(double seconds) {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = Loopback(0);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  timeval timeout{0, 10000};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  Run run;
  Clock::time_point last = Clock::now();
  {
    Sender sender(ntohs(address.sin_port), 0, seconds);
    char buffer[8192];
    for (;;) {
      if (::recv(s, buffer, sizeof buffer, 0) >= 0) {
        ++run.delivered;
        last = Clock::now();
      } else if (sender.Done() && Clock::now() - last > kQuiet) {
        break;
      }
    }
    run.sent = sender.Sent();
    run.seconds = Seconds(last - sender.Start());
  }
  ::close(s);
  return run;
}

// The bare hand-over: a thread that hands empty calls to the main thread,
// which does nothing but run them.
class Handing : public TThread {
 public:
  explicit Handing(double seconds) : TThread(false), seconds_(seconds) {}
  std::atomic<long> calls{0};

 protected:
  void ThreadBody() override {
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds_));
    while (Clock::now() < end) {
      RunOnMainThread([this] { calls.fetch_add(1, std::memory_order_relaxed); });
    }
  }

 private:
  double seconds_;
};

double BareHandOver(double seconds) {
  std::unique_ptr<Handing> thread(NewThread<Handing>(seconds));
  const Clock::time_point start = Clock::now();
  while (!thread->HasEnded()) CheckSynchronize(10);
  const double elapsed = Seconds(Clock::now() - start);
  thread->WaitUntilDone();
  return static_cast<double>(thread->calls.load()) / elapsed;
}

// Watches the chat window: counts what its history receives, the latency of
// each numbered line, the repaints of the history and the turns of the loop.
class Probe : public QObject {
 public:
  Probe() {
    Form1->IdUDPServer1->SetOnUDPRead([this](TObject* sender, TStream& data, TIdSocketHandle* b) {
      char head[kSequenceAt + 10];
      const std::int64_t n = data.Read(head, sizeof head);
      data.SetPosition(0);
      Form1->IdUDPServer1UDPRead(sender, data, b);
      const Clock::time_point now = Clock::now();
      ++delivered;
      last_delivery = now;
      if (sender_ != nullptr && n == static_cast<std::int64_t>(sizeof head)) {
        const std::int64_t sent = sender_->SentAt(SequenceOf(head, sizeof head));
        if (sent != 0) {
          const double us = static_cast<double>(Nanos(now) - sent) / 1000.0;
          to_history_us.push_back(us);
          waiting_paint_.push_back(sent);
        }
      }
    });
    viewport_ = static_cast<QAbstractScrollArea*>(Form1->Memo1->Widget())->viewport();
    viewport_->installEventFilter(this);
    loop_timer_.setTimerType(Qt::PreciseTimer);
    loop_timer_.setInterval(1);
    connect(&loop_timer_, &QTimer::timeout, this, [this] {
      const Clock::time_point now = Clock::now();
      longest_gap = std::max(longest_gap, now - last_turn_);
      if (now - last_turn_ > std::chrono::milliseconds(20)) ++long_gaps;
      last_turn_ = now;
    });
  }

  // Times the latency of the sender's numbered datagrams.
  void Time(const Sender* sender) { sender_ = sender; }
  void WatchLoop(bool on) {
    last_turn_ = Clock::now();
    longest_gap = Clock::duration::zero();
    long_gaps = 0;
    if (on) {
      loop_timer_.start();
    } else {
      loop_timer_.stop();
    }
  }

  long delivered = 0;
  Clock::time_point last_delivery = Clock::now();
  long paints = 0;
  Clock::duration longest_gap{};
  long long_gaps = 0;
  std::vector<double> to_history_us;
  std::vector<double> to_screen_us;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == viewport_ && event->type() == QEvent::Paint) {
      ++paints;
      const std::int64_t now = Nanos(Clock::now());
      for (std::int64_t sent : waiting_paint_) {
        to_screen_us.push_back(static_cast<double>(now - sent) / 1000.0);
      }
      waiting_paint_.clear();
    }
    return false;
  }

 private:
  const Sender* sender_ = nullptr;
  QWidget* viewport_ = nullptr;
  QTimer loop_timer_;
  Clock::time_point last_turn_ = Clock::now();
  std::vector<std::int64_t> waiting_paint_;
};

// A fresh chat window, shown, with its probe.
std::unique_ptr<Probe> OpenWindow() {
  Application->ResetForTesting();
  Form1 = nullptr;
  Form2 = nullptr;
  Application->MakeForm(Form1);
  Application->MakeForm(Form2);
  Form1->Show();
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
  return std::make_unique<Probe>();
}

// Turns the application's loop until the sender is done and nothing more
// arrives. A slow timer keeps the loop from sleeping past the end.
void Serve(Probe& probe, const Sender& sender) {
  QTimer tick;
  tick.start(20);
  while (!(sender.Done() && Clock::now() - probe.last_delivery > kQuiet)) {
    Application->PumpOneMessage();
  }
}

Run Flood(Probe& probe, int rate, double seconds) {
  const long before = probe.delivered;
  Sender sender(kChatPort, rate, seconds);
  Serve(probe, sender);
  Run run;
  run.sent = sender.Sent();
  run.delivered = probe.delivered - before;
  run.seconds = Seconds(probe.last_delivery - sender.Start());
  return run;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

// Times datagrams sent at 1,000/s into a fresh window, for `seconds`.
void RunLatency(double seconds) {
  std::unique_ptr<Probe> probe = OpenWindow();
  {
    Sender sender(kChatPort, 1000, seconds, static_cast<std::size_t>(1000 * seconds) + 1000);
    probe->Time(&sender);
    Serve(*probe, sender);
    probe->Time(nullptr);
  }
  Row("latency sendto -> in the history at 1,000/s, p50",
      Fixed(Percentile(probe->to_history_us, 0.50) / 1000, 3, " ms"), "< 0.2 ms");
  Row("latency sendto -> in the history at 1,000/s, p99",
      Fixed(Percentile(probe->to_history_us, 0.99) / 1000, 3, " ms"), "< 2 ms");
  Row("latency sendto -> first repaint after it, p50",
      Fixed(Percentile(probe->to_screen_us, 0.50) / 1000, 3, " ms"), "(display rate)");
  Row("latency sendto -> first repaint after it, p99",
      Fixed(Percentile(probe->to_screen_us, 0.99) / 1000, 3, " ms"), "(display rate)");
}

int RunRates(double scale) {
  std::printf("flood of 64-byte datagrams on loopback into the chat window (offscreen)\n");
  const double bare = BareHandOver(2 * scale);
  const Run plain = PlainReceiver(3 * scale);

  std::unique_ptr<Probe> probe = OpenWindow();
  const Run max = Flood(*probe, 0, 5 * scale);
  probe = OpenWindow();
  const Run r50k = Flood(*probe, 50000, 5 * scale);
  probe = OpenWindow();
  const Run r10k = Flood(*probe, 10000, 10 * scale);
  probe = OpenWindow();
  probe->WatchLoop(true);
  const long paints_before = probe->paints;
  const Run r100k = Flood(*probe, 100000, 10 * scale);
  const double gap_ms = Seconds(probe->longest_gap) * 1000;
  const long long_gaps = probe->long_gaps;
  const double paints = static_cast<double>(probe->paints - paints_before) / r100k.seconds;
  probe->WatchLoop(false);

  // The sender takes a core of its own at full speed, so a paced sender may
  // get more through; the best run counts.
  const double best = std::max({max.PerSecond(), r50k.PerSecond(), r100k.PerSecond()});
  Row("lines/s into the visible history, best of the runs below", Fixed(best, 0), ">= 30000");
  Row("  sender at full speed: lines/s", Fixed(max.PerSecond(), 0), "");
  Row("plain recvfrom receiver, sender at full speed: datagrams/s", Fixed(plain.PerSecond(), 0),
      "");
  Row("bare two-thread hand-over, calls/s", Fixed(bare, 0), "");
  Row("history / plain receiver (both at full speed)",
      Fixed(max.PerSecond() / std::max(plain.PerSecond(), 1.0), 2), ">= 0.5");
  Row("history (best) / bare hand-over", Fixed(best / std::max(bare, 1.0), 2), "");
  Row("loss at 10,000/s offered (10 s)", Fixed(r10k.LossPercent(), 2, " %"), "0 %");
  Row("  lines/s", Fixed(r10k.PerSecond(), 0), "");
  Row("loss at 50,000/s offered", Fixed(r50k.LossPercent(), 2, " %"), "0 %");
  Row("  lines/s", Fixed(r50k.PerSecond(), 0), "");
  Row("loss at 100,000/s offered (10 s)", Fixed(r100k.LossPercent(), 2, " %"), "(printed)");
  Row("  lines/s", Fixed(r100k.PerSecond(), 0), "");
  Row("longest main-loop gap during 100,000/s", Fixed(gap_ms, 1, " ms"), "< 50 ms");
  Row("  gaps over 20 ms", Fixed(static_cast<double>(long_gaps), 0), "");
  Row("repaints of the history per second during 100,000/s", Fixed(paints, 0), "");

  RunLatency(5 * scale);
  Application->ResetForTesting();
  return 0;
}

// Fills the history with `lines` lines through the receive path and compares
// the cost of a line at the start and at the end.
int RunHistory(long lines) {
  std::unique_ptr<Probe> probe = OpenWindow();
  const long window_rss = StatusKb("VmRSS");
  const long measured = std::max(lines / 10, 1000L);

  struct Span {
    double cpu_per_line_us = 0;
    double wall_per_line_us = 0;
  };
  // Adds `count` lines with the sender at full speed, the history's growth
  // and the main thread's CPU time counted over exactly those lines.
  auto add = [&](long count) {
    Span span;
    Sender sender(kChatPort, 0, 3600);
    const long first = probe->delivered;
    const double cpu = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    QTimer tick;
    tick.start(20);
    while (probe->delivered - first < count) Application->PumpOneMessage();
    const double n = static_cast<double>(probe->delivered - first);
    span.cpu_per_line_us = (ThreadCpuSeconds() - cpu) * 1e6 / n;
    span.wall_per_line_us = Seconds(Clock::now() - start) * 1e6 / n;
    sender.Stop();
    return span;
  };
  const Span at_empty = add(measured);
  add(lines - probe->delivered);
  const long rss_full = StatusKb("VmRSS");
  const Span at_full = add(measured);
  const int count = Form1->Memo1->Lines()->Count();

  char figure[128];
  std::printf("history filled through the receive path (%d lines of 64 bytes)\n", count);
  std::snprintf(figure, sizeof figure, "resident memory with %ld lines in the history", lines);
  Row(figure, Fixed(static_cast<double>(rss_full) / 1024, 0, " MB"), "<= 150 MB");
  Row("  of which the history (over the empty window)",
      Fixed(static_cast<double>(rss_full - window_rss) / 1024, 0, " MB"), "");
  Row("  the program with an empty window", Fixed(static_cast<double>(window_rss) / 1024, 0, " MB"),
      "");
  Row("peak resident memory", Fixed(static_cast<double>(StatusKb("VmHWM")) / 1024, 0, " MB"),
      "<= 180 MB");
  Row("main thread's time per added line at 0 lines", Fixed(at_empty.cpu_per_line_us, 2, " us"),
      "");
  std::snprintf(figure, sizeof figure, "main thread's time per added line at %ld lines", lines);
  Row(figure, Fixed(at_full.cpu_per_line_us, 2, " us"), "");
  Row("  ratio", Fixed(at_full.cpu_per_line_us / at_empty.cpu_per_line_us, 2), "<= 1.5");
  Row("wall time per delivered line at 0 lines", Fixed(at_empty.wall_per_line_us, 2, " us"), "");
  std::snprintf(figure, sizeof figure, "wall time per delivered line at %ld lines", lines);
  Row(figure, Fixed(at_full.wall_per_line_us, 2, " us"), "");
  Row("  ratio", Fixed(at_full.wall_per_line_us / at_empty.wall_per_line_us, 2), "<= 2");
  Application->ResetForTesting();
  return 0;
}

// Floods the window at full speed for `seconds` and samples the resident
// memory every `sample_seconds`. The time per line at 0 is taken over the
// first tenth of the limit; the time per line at the limit over each sample
// interval that began with the history full.
int RunSoak(double seconds, double sample_seconds, int max_lines) {
  std::unique_ptr<Probe> probe = OpenWindow();
  if (max_lines > 0) Form1->Memo1->SetMaxLines(max_lines);
  const int limit = Form1->Memo1->MaxLines();
  const long first_span = std::max(1000L, static_cast<long>(limit) / 10);
  std::printf("flood at full speed for %.0f s, history limit %d lines, memory every %.0f s\n",
              seconds, limit, sample_seconds);
  std::fflush(stdout);

  const auto sample =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(sample_seconds));
  Sender sender(kChatPort, 0, seconds);
  QTimer tick;
  tick.start(20);
  const double cpu_start = ThreadCpuSeconds();
  Clock::time_point next_sample = Clock::now() + sample;
  double at_zero_us = 0;
  long last_delivered = 0;
  double last_cpu = cpu_start;
  bool full_at_interval_start = false;
  std::vector<long> rss_when_full;
  double worst_at_limit_us = 0;
  int samples = 0;
  while (!sender.Done()) {
    Application->PumpOneMessage();
    if (at_zero_us == 0 && probe->delivered >= first_span) {
      at_zero_us = (ThreadCpuSeconds() - cpu_start) * 1e6 / static_cast<double>(probe->delivered);
    }
    if (Clock::now() < next_sample) continue;
    next_sample += sample;
    ++samples;
    const int lines = Form1->Memo1->Lines()->Count();
    const double cpu = ThreadCpuSeconds();
    const long added = probe->delivered - last_delivered;
    const double per_line_us = added > 0 ? (cpu - last_cpu) * 1e6 / static_cast<double>(added) : 0;
    const long rss = StatusKb("VmRSS");
    if (full_at_interval_start) worst_at_limit_us = std::max(worst_at_limit_us, per_line_us);
    const bool full = lines >= limit;
    if (full) rss_when_full.push_back(rss);
    char figure[128];
    std::snprintf(figure, sizeof figure, "soak: at %.0f s, %d lines%s: resident memory",
                  samples * sample_seconds, lines, full ? " (full)" : "");
    Row(figure, Fixed(static_cast<double>(rss) / 1024, 0, " MB"), "");
    std::snprintf(figure, sizeof figure, "  %ld lines added, main thread's time per line", added);
    Row(figure, Fixed(per_line_us, 2, " us"), "");
    last_delivered = probe->delivered;
    last_cpu = cpu;
    full_at_interval_start = full;
  }
  Row("soak: main thread's time per added line at 0", Fixed(at_zero_us, 2, " us"), "");
  Row("soak: the same at the limit, the worst interval", Fixed(worst_at_limit_us, 2, " us"), "");
  Row("soak: ratio at the limit / at 0",
      at_zero_us > 0 && worst_at_limit_us > 0 ? Fixed(worst_at_limit_us / at_zero_us, 2)
                                              : std::string("(not reached)"),
      "<= 2");
  // Flat once the limit is reached: every later sample within a tenth of the
  // first one taken with the history full.
  if (rss_when_full.size() >= 2) {
    const long first = rss_when_full.front();
    long farthest = 0;
    for (long rss : rss_when_full) farthest = std::max(farthest, std::labs(rss - first));
    Row("soak: resident memory once full, farthest from the first full sample",
        Fixed(100.0 * static_cast<double>(farthest) / static_cast<double>(first), 1, " %"),
        "<= 10 %");
  } else {
    Row("soak: resident memory once full", "(too few samples)", "<= 10 %");
  }
  Application->ResetForTesting();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode.empty() || std::isdigit(static_cast<unsigned char>(mode[0]))) {
    // Both parts, the history in a process of its own so that its memory is
    // not mixed with the other runs'.
    std::fflush(stdout);
    const std::string scale = mode.empty() ? "1" : mode;
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/proc/self/exe", argv[0], "rates", scale.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    child = ::fork();
    if (child == 0) {
      ::execl("/proc/self/exe", argv[0], "history", static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    int history_status = 0;
    ::waitpid(child, &history_status, 0);
    return status == 0 && history_status == 0 ? 0 : 1;
  }
  TApplication application(argc, argv);
  try {
    if (mode == "rates") return RunRates(argc > 2 ? std::atof(argv[2]) : 1.0);
    if (mode == "max") {
      std::unique_ptr<Probe> probe = OpenWindow();
      const Run run =
          Flood(*probe, argc > 3 ? std::atoi(argv[3]) : 0, argc > 2 ? std::atof(argv[2]) : 5);
      std::printf("%.0f lines/s, loss %.2f %%, %ld paints\n", run.PerSecond(), run.LossPercent(),
                  probe->paints);
      Application->ResetForTesting();
      return 0;
    }
    if (mode == "latency") {
      RunLatency(argc > 2 ? std::atof(argv[2]) : 5);
      Application->ResetForTesting();
      return 0;
    }
    if (mode == "history") return RunHistory(argc > 2 ? std::atol(argv[2]) : 1000000);
    if (mode == "soak") {
      return RunSoak(argc > 2 ? std::atof(argv[2]) : 600, argc > 3 ? std::atof(argv[3]) : 60,
                     argc > 4 ? std::atoi(argv[4]) : 0);
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "flood_bench: %s\n", e.Message().c_str());
    return 1;
  }
  std::fprintf(stderr,
               "usage: flood_bench [scale] | rates [scale] | history [lines] | "
               "soak [seconds] [sample-seconds] [max-lines]\n");
  return 2;
}
