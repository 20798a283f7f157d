// Adds lines to a shown history holding 0, 100,000 and 1,000,000 lines and
// prints the time per added line at each size, and the ratio of the largest
// to the empty history. Adding a line must not depend on the history's length:
// the ratio should stay at 2 or below. The time counts the lines' way into the
// widget (lines added within one display frame go in together at its end),
// and the resident memory with the full history is printed too; on Windows,
// the time of one full repaint of the history at each size.
//
// Written against the framework alone, so that it builds on both ports: on
// Linux it runs on Qt's offscreen platform; the Windows build runs under Wine
// on an X display (tools/bench.sh gives it an Xvfb), as Wine draws every
// window through X.
//
// Usage: history_bench [lines-measured-per-size]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/GuiPort.h"

#if defined(_WIN32)
// After the framework's headers, as in the port: the system's MulDiv (C
// linkage) would clash with the framework's own.
// clang-format off
#define WIN32_LEAN_AND_MEAN
#define MulDiv SystemMulDiv
#include <windows.h>
#include <psapi.h>
#undef MulDiv
// clang-format on
#else
#include "bench/support/ProcStatus.h"
#endif

namespace {

// The resident memory now and at its peak, in megabytes.
struct Resident {
  long now_mb = 0;
  long peak_mb = 0;
};

Resident ResidentMemory() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return {};
  return {static_cast<long>(counters.WorkingSetSize >> 20),
          static_cast<long>(counters.PeakWorkingSetSize >> 20)};
#else
  return {StatusKb("VmRSS") / 1024, StatusKb("VmHWM") / 1024};
#endif
}

class HistoryForm : public TForm {
 public:
  explicit HistoryForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetClientSize(416, 448);
    MakeField(Memo1, "Memo1");
    Memo1->SetAlign(alClient);
    Memo1->Font()->SetName("Times New Roman");
    Memo1->Font()->SetHeight(13);
    Memo1->SetScrollBars(ssVertical);
    EndLoading();
  }
  TMemo* Memo1 = nullptr;
};

std::string LineNumber(long n) {
  return "nick> message number " + std::to_string(n) + " with some text to wrap";
}

// Adds count lines, letting the window process its events every 100 lines as
// a running program would, and returns nanoseconds per line.
double TimeAdds(TMemo* memo, long first, long count) {
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    memo->AddLine(LineNumber(first + i));
    if (i % 100 == 99) port::ProcessWaitingEvents();
  }
  port::ProcessWaitingEvents();
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(count);
}

#if defined(_WIN32)
// One full repaint of the shown history, the median of five, in milliseconds.
double RepaintMs(TMemo* memo) {
  std::vector<double> runs;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    InvalidateRect(memo->Widget(), nullptr, TRUE);
    UpdateWindow(memo->Widget());
    runs.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(runs.begin(), runs.end());
  return runs[2];
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
  long measured = argc > 1 ? std::atol(argv[1]) : 2000;
  TApplication application(argc, argv);
  HistoryForm* form = nullptr;
  Application->MakeForm(form);
  form->Show();
  // Warm up fonts, layout and caches on a history that is then thrown away, so
  // that the empty history's figure is not the first-use cost.
  TimeAdds(form->Memo1, 0, measured);
  form->Memo1->SetText("");
  TMemo* memo = form->Memo1;

  long held = 0;
  double at_empty = 0;
  double at_largest = 0;
  for (long size : {0L, 100000L, 1000000L}) {
    // Fill up to the size through the same path, untimed.
    while (held < size) {
      long batch = std::min(size - held, 10000L);
      TimeAdds(memo, held, batch);
      held += batch;
    }
    double per_line = TimeAdds(memo, held, measured);
    held += measured;
#if defined(_WIN32)
    std::printf("history of %7ld lines: %8.0f ns per added line, %6.2f ms a repaint\n", size,
                per_line, RepaintMs(memo));
#else
    std::printf("history of %7ld lines: %8.0f ns per added line\n", size, per_line);
#endif
    std::fflush(stdout);
    if (size == 0) at_empty = per_line;
    at_largest = per_line;
  }
  std::printf("ratio 1,000,000 / 0: %.2f (must be at most 2)\n", at_largest / at_empty);
  const Resident resident = ResidentMemory();
  std::printf("resident memory with %ld lines: %ld MB (peak %ld MB)\n", held, resident.now_mb,
              resident.peak_mb);
  // The figures count only if the history really holds the newest lines.
  const int count = memo->Lines()->Count();
  const std::string newest = LineNumber(held - 1);
  const std::string text = memo->Text();
  const bool whole =
      count == std::min(held, static_cast<long>(memo->MaxLines())) &&
      memo->Lines()->Strings(count - 1) == newest && text.size() >= newest.size() + 2 &&
      text.compare(text.size() - newest.size() - 2, std::string::npos, newest + "\r\n") == 0;
  std::printf("the history holds %d lines, %zu bytes of text, ending with the newest line: %s\n",
              count, text.size(), whole ? "yes" : "NO");
  return whole ? 0 : 1;
}
