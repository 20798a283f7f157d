// Google Benchmark's micro-benchmarks of the framework core, each written as
// a figure (bench/support/GoogleBenchmark.h):
//   - the hand-over between threads: a worker's call run on the main thread
//     (RunOnMainThread, served by CheckSynchronize), from queueing it to the
//     worker going on, the worker handing one call after another;
//   - the CP1251 conversion of a 64-byte chat line to UTF-16 and back, as
//     every line of the history and every message typed takes it.
// Linux only: Debian has no MinGW build of Google Benchmark. The Windows
// build's hand-over shows in receive_bench's CheckSynchronize loop under Wine.
//
// Usage: micro_bench [--benchmark_* options]
#include <atomic>
#include <memory>
#include <string>

#include "bench/support/GoogleBenchmark.h"
#include "framework/core/Ansi.h"
#include "framework/core/Threads.h"

namespace {

// Hands empty calls to the main thread, one after another, until told to
// stop.
class Handing : public TThread {
 public:
  Handing() : TThread(false) {}
  std::atomic<long> calls{0};
  std::atomic<bool> stop{false};

 protected:
  void ThreadBody() override {
    while (!stop.load(std::memory_order_relaxed)) {
      RunOnMainThread([this] { calls.fetch_add(1, std::memory_order_relaxed); });
    }
  }
};

void HandOver(benchmark::State& state) {
  std::unique_ptr<Handing> thread(NewThread<Handing>());
  for (auto _ : state) {
    // One call served: the worker's next one is queued while this runs.
    const long before = thread->calls.load(std::memory_order_relaxed);
    while (thread->calls.load(std::memory_order_relaxed) == before) CheckSynchronize(10);
  }
  thread->stop.store(true);
  // The worker may be waiting in its last hand-over.
  while (!thread->HasEnded()) CheckSynchronize(10);
  thread->WaitUntilDone();
}

// A chat line of 64 bytes, mostly Cyrillic, as CP1251.
const std::string& ChatLine() {
  static const std::string line = [] {
    std::string text = Ansi("Вася> ");
    while (text.size() < 64) text += Ansi("привет всем в сети ");
    return text.substr(0, 64);
  }();
  return line;
}

void ToUtf16(benchmark::State& state) {
  const std::string& line = ChatLine();
  for (auto _ : state) benchmark::DoNotOptimize(AnsiToUtf16(line));
}

void ToCp1251(benchmark::State& state) {
  const std::u16string text = AnsiToUtf16(ChatLine());
  for (auto _ : state) benchmark::DoNotOptimize(Utf16ToAnsi(text));
}

}  // namespace

int main(int argc, char** argv) {
  // Five repetitions of a few thousand calls each: the median is what counts,
  // as a busy machine slows a repetition now and then.
  benchmark::RegisterBenchmark("hand-over of a call from a worker to the main thread", HandOver)
      ->Repetitions(5)
      ->ReportAggregatesOnly()
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("CP1251 to UTF-16, a line of 64 bytes", ToUtf16)
      ->Repetitions(5)
      ->ReportAggregatesOnly();
  benchmark::RegisterBenchmark("UTF-16 to CP1251, a line of 64 characters", ToCp1251)
      ->Repetitions(5)
      ->ReportAggregatesOnly();
  FigureReporter reporter;
  RunGoogleBenchmarks(argc, argv, reporter);
  return 0;
}
