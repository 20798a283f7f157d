// Floods 127.0.0.1 with 64-byte datagrams and counts what arrives:
//   (a) a plain receiver that only calls recvfrom in a loop;
//   (b) a TIdUDPServer delivering each datagram on the main thread into a
//       handler that appends it to a history, the main thread serving the
//       hand-overs (1) in a CheckSynchronize loop and (2) through the
//       application object's message loop, as the chat program does;
// as fast as the sender can and at fixed offered rates. Prints delivered
// datagrams per second, loss, and (b)/(a). Then prints how long an idle
// server takes to deactivate (target: under 50 ms) and how often an idle
// listener wakes up.
//
// Builds on both ports. Under Wine every socket lives in the Wine server:
// run it in a network namespace of its own with a Wine server of its own,
// and with an X display, as the application's window is a real window there.
//
// Usage: receive_bench [seconds-per-run]   (default 1.5; whole run < 1 min)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/Figures.h"
#include "framework/core/Classes.h"
#include "framework/core/Threads.h"
#include "framework/gui/Application.h"
#include "transport/IdStack.h"
#include "transport/IdUDPServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

TSockAddrIn Loopback(int port) {
  TSockAddrIn address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// Sends 64-byte datagrams to 127.0.0.1:port for `seconds`, at `rate` per
// second (0: as fast as it can) on a thread of its own.
class Flood {
 public:
  Flood(int port, int rate, double seconds)
      : thread_([this, port, rate, seconds] { Run(port, rate, seconds); }) {}
  ~Flood() { thread_.join(); }

  bool Done() const { return done_.load(); }
  long Sent() const { return sent_.load(); }
  Clock::time_point Start() const { return start_; }

 private:
  void Run(int port, int rate, double seconds) {
    TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
    const TSockAddrIn to = Loopback(port);
    char payload[64] = "nick> a line of chat that is sixty-four bytes long, padded.....";
    start_ = Clock::now();
    const Clock::time_point end = start_ + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(seconds));
    long sent = 0;
    for (Clock::time_point now = start_; now < end; now = Clock::now()) {
      const long due = rate == 0 ? sent + 64 : static_cast<long>(rate * Seconds(now - start_));
      if (sent >= due) {
        // A millisecond's worth at a time, as a busy network delivers them:
        // waking for every few datagrams would take the receiver's CPU on
        // this machine, which a peer on the network does not.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      while (sent < due) {
        if (ws2::sendto(s, payload, sizeof payload, 0, &to, sizeof to) == sizeof payload) ++sent;
      }
      sent_.store(sent);
    }
    ws2::closesocket(s);
    done_.store(true);
  }

  std::atomic<bool> done_{false};
  std::atomic<long> sent_{0};
  Clock::time_point start_;
  std::thread thread_;
};

struct Figures {
  long sent = 0;
  long delivered = 0;
  double seconds = 0;  // first send to last delivery
  double PerSecond() const { return seconds > 0 ? delivered / seconds : 0; }
  double LossPercent() const { return sent > 0 ? 100.0 * (sent - delivered) / sent : 0; }
};

// After the flood, reception counts as finished once nothing has arrived for
// this long.
constexpr auto kQuiet = std::chrono::milliseconds(150);

Figures PlainReceiver(int rate, double seconds) {
  TSocket s = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  TSockAddrIn address = Loopback(0);
  ws2::bind(s, &address, sizeof address);
  int length = sizeof address;
  ws2::getsockname(s, &address, &length);
  // A receive that finds nothing for 10 ms returns, so that the loop can end.
  const std::uint32_t timeout_ms = 10;
  ws2::setsockopt(s, SOL_SOCKET_WS, SO_RCVTIMEO_WS, &timeout_ms, sizeof timeout_ms);
  Figures figures;
  Clock::time_point last;
  {
    Flood flood(ntohs(address.sin_port), rate, seconds);
    char buffer[8192];
    for (;;) {
      TSockAddrIn from{};
      int from_length = sizeof from;
      if (ws2::recvfrom(s, buffer, sizeof buffer, 0, &from, &from_length) >= 0) {
        ++figures.delivered;
        last = Clock::now();
      } else if (flood.Done() && Clock::now() - last > kQuiet) {
        break;
      }
    }
    figures.sent = flood.Sent();
    figures.seconds = Seconds(last - flood.Start());
  }
  ws2::closesocket(s);
  return figures;
}

// serve_once runs one step of the main thread's loop.
Figures ServerReceiver(int rate, double seconds, const std::function<void()>& serve_once) {
  TIdUDPServer server(nullptr);
  TIdSocketHandle* binding = server.Bindings()->AddBinding();
  binding->SetIP("127.0.0.1");
  TStringList history;
  Figures figures;
  Clock::time_point last;
  server.SetOnUDPRead([&](TObject*, TStream& data, TIdSocketHandle*) {
    std::string line(static_cast<std::size_t>(data.Size()), '\0');
    data.ReadBuffer(line.data(), static_cast<std::int64_t>(line.size()));
    history.Add(std::move(line));
    ++figures.delivered;
    last = Clock::now();
  });
  server.SetActive(true);
  {
    Flood flood(binding->Port(), rate, seconds);
    while (!(flood.Done() && Clock::now() - last > kQuiet)) serve_once();
    figures.sent = flood.Sent();
    figures.seconds = Seconds(last - flood.Start());
  }
  server.SetActive(false);
  if (history.Count() != figures.delivered) std::fprintf(stderr, "history lost lines!\n");
  return figures;
}

void CheckSynchronizeStep() {
  CheckSynchronize(10);
}

// Keeps the application's loop from sleeping past the end of a run.
class Ticker {
 public:
  explicit Ticker(TApplication* app)
      : thread_([this, app] {
          while (!stop_.load()) {
            app->PostWakeUp(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~Ticker() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void PrintRow(const char* label, const Figures& plain, const Figures& sync, const Figures& app) {
  std::fprintf(stderr, "%-8s %12.0f %6.1f%% | %12.0f %6.1f%% %6.2f | %12.0f %6.1f%% %6.2f\n", label,
               plain.PerSecond(), plain.LossPercent(), sync.PerSecond(), sync.LossPercent(),
               sync.PerSecond() / std::max(plain.PerSecond(), 1.0), app.PerSecond(),
               app.LossPercent(), app.PerSecond() / std::max(plain.PerSecond(), 1.0));
}

// The figures of one offered rate ("full speed", "10,000/s").
void WriteRate(const std::string& offered, const Figures& plain, const Figures& sync,
               const Figures& app) {
  const std::string at = " at " + offered;
  WriteFigure("UDP plain recvfrom" + at + ": delivered/s", plain.PerSecond(), "datagrams/s", "",
              Better::kHigher);
  WriteFigure("UDP plain recvfrom" + at + ": loss", plain.LossPercent(), "%");
  WriteFigure("UDP server, CheckSynchronize loop" + at + ": delivered/s", sync.PerSecond(),
              "datagrams/s", "", Better::kHigher);
  WriteFigure("UDP server, application loop" + at + ": delivered/s", app.PerSecond(), "datagrams/s",
              "", Better::kHigher);
  WriteFigure("UDP server, application loop" + at + ": loss", app.LossPercent(), "%", "",
              Better::kLower);
  WriteFigure("UDP server, application loop" + at + ": delivered / plain recvfrom's",
              app.PerSecond() / std::max(plain.PerSecond(), 1.0), "");
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.5;
#if !defined(_WIN32)
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
  TIdComponent keeper(nullptr);  // holds SharedStack and the sockets library

  const int rates[] = {0, 10000, 50000, 100000};
  std::vector<Figures> plain, sync, app;
  for (int rate : rates) {
    plain.push_back(PlainReceiver(rate, seconds));
    sync.push_back(ServerReceiver(rate, seconds, CheckSynchronizeStep));
  }
  {
    TApplication application(argc, argv);
    Ticker ticker(&application);
    for (int rate : rates) {
      app.push_back(ServerReceiver(rate, seconds, [&] { application.PumpOneMessage(); }));
    }
  }

  std::fprintf(stderr,
               "64-byte datagrams on loopback, %.1f s per run; delivered per second, loss,\n"
               "and the server's rate over the plain receiver's\n\n",
               seconds);
  std::fprintf(stderr, "%-8s %21s | %28s | %28s\n", "offered", "(a) plain recvfrom",
               "(b1) server, CheckSynchronize", "(b2) server, application loop");
  for (std::size_t i = 0; i < std::size(rates); ++i) {
    const std::string label = rates[i] == 0 ? "max" : std::to_string(rates[i]);
    PrintRow(label.c_str(), plain[i], sync[i], app[i]);
    WriteRate(rates[i] == 0 ? "full speed" : std::to_string(rates[i] / 1000) + ",000/s", plain[i],
              sync[i], app[i]);
  }

  // Deactivation of an idle server whose listener sits in its wait.
  std::vector<double> stops;
  for (int i = 0; i < 20; ++i) {
    TIdUDPServer server(nullptr);
    server.Bindings()->AddBinding()->SetIP("127.0.0.1");
    server.SetActive(true);
    while (server.Listener()->CycleCount() == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Clock::time_point start = Clock::now();
    server.SetActive(false);
    stops.push_back(Seconds(Clock::now() - start) * 1000);
  }
  std::sort(stops.begin(), stops.end());
  WriteFigure("UDP server: idle deactivation, median of " + std::to_string(stops.size()),
              stops[stops.size() / 2], "ms", "< 50 ms", Better::kLower);
  WriteFigure("UDP server: idle deactivation, slowest", stops.back(), "ms");

  // Wake-ups of an idle listener.
  {
    TIdUDPServer server(nullptr);
    server.Bindings()->AddBinding()->SetIP("127.0.0.1");
    server.SetActive(true);
    const std::uint64_t before = server.Listener()->CycleCount();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::uint64_t after = server.Listener()->CycleCount();
    WriteFigure("UDP server: idle listener's wake-ups per second",
                static_cast<double>(after - before) / Seconds(Clock::now() - start), "/s",
                "about 1", Better::kLower);
  }
  return 0;
}
