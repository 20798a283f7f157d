// Adds lines to a shown history holding 0, 100,000 and 1,000,000 lines and
// prints the time per added line at each size (the median of five batches),
// and the ratio of the largest to the empty history: adding a line must not
// depend on the history's length, the ratio should stay at 1.2 or below. The
// time counts the lines' way onto the screen (the window processes its events
// every 100 lines, and repaints at most once a frame); the resident memory
// with the full history is printed too; on Windows, the time of one full
// repaint at each size.
//
// Then, with the history full, what a user does to it, each with the repaint
// that shows it: a change of font (the main thread's time and the memory it
// adds), a line of 8,192 bytes added, a character typed, Enter and Backspace
// at the top and at the bottom (the top must cost no more than the bottom),
// select all and copy, and typing over that selection. These print as rows:
// figure, value with unit, target.
//
// Written against the framework alone, so that it builds on both ports: on
// Linux it runs on Qt's offscreen platform; the Windows build runs under Wine
// on an X display (tools/bench.sh gives it an Xvfb), as Wine draws every
// window through X.
//
// Usage: history_bench [lines-measured-per-size]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/GuiPort.h"
#include "framework/gui/HistoryView.h"

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
#include <time.h>

#include <QWidget>

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

// The main thread's processor time, in milliseconds.
double ThreadMs() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME t) {
    return static_cast<double>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 |
                               t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e4;
#else
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
#endif
}

// Paints the whole memo now, as the window system would.
void PaintNow(TMemo* memo) {
#if defined(_WIN32)
  InvalidateRect(memo->Widget(), nullptr, FALSE);
  UpdateWindow(memo->Widget());
#else
  memo->Widget()->repaint();
#endif
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// The median wall time of step followed by a full repaint, over runs runs.
template <typename Step>
double MedianMs(TMemo* memo, int runs, Step step) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    step();
    PaintNow(memo);
    times.push_back(MsSince(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// One figure: its name, its value and the target it is read against.
void Row(const std::string& figure, double value, const char* unit, const char* target) {
  std::printf("  %-62s %12.3f %-3s  %s\n", figure.c_str(), value, unit, target);
  std::fflush(stdout);
}

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
  THistoryView* view = memo->View();
  // The longest datagram, words of a chat line: its wrapping must not cost more
  // in a long history.
  std::string wide = "nick> ";
  for (int word = 0; wide.size() < 8192; ++word) wide += "word" + std::to_string(word) + " ";
  wide.resize(8192);
  const double wide_at_empty = MedianMs(memo, 5, [&] { memo->AddLine(wide); });
  memo->SetText("");

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
    // The median of five batches: a batch takes milliseconds, which one
    // moment without a processor on a busy machine would double.
    std::vector<double> batches;
    for (int batch = 0; batch < 5; ++batch) {
      batches.push_back(TimeAdds(memo, held, measured));
      held += measured;
    }
    std::sort(batches.begin(), batches.end());
    const double per_line = batches[2];
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
  std::printf("ratio 1,000,000 / 0: %.2f (must be at most 1.2)\n", at_largest / at_empty);
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
  std::printf("with the history full (%d lines): median wall time with the repaint\n", count);

  // A change of font lays out nothing but the rows in view.
  // (The thread's time is counted in ticks of 10 ms under Wine; the wall
  // time shows below that.)
  const long before_font_mb = ResidentMemory().now_mb;
  const auto font_wall = std::chrono::steady_clock::now();
  const double font_start = ThreadMs();
  memo->Font()->SetHeight(16);
  PaintNow(memo);
  Row("font change: main thread's time", ThreadMs() - font_start, "ms", "< 100 ms");
  Row("font change: wall time", MsSince(font_wall), "ms", "");
  Row("font change: resident memory added",
      static_cast<double>(ResidentMemory().now_mb - before_font_mb), "MB", "0 MB");

  // A character typed, Enter and two Backspaces, which leave the line as it
  // was: an edit within a line, one that adds a line and one that joins two;
  // at the top and at the bottom, both among lines alike.
  const auto edits_at = [&](TTextPos at) {
    return MedianMs(memo, 21,
                    [&] {
                      view->Select(at, at);
                      view->Type(u"x");
                      view->KeyDown(THistoryView::Key::Enter, false, false);
                      view->KeyDown(THistoryView::Key::Backspace, false, false);
                      view->KeyDown(THistoryView::Key::Backspace, false, false);
                    }) /
           4;
  };
  const double at_top = edits_at(TTextPos{});
  const double at_bottom = edits_at(view->Text().End());
  Row("an edit at the top: typing, Enter, Backspace", at_top, "ms", "<= at the bottom");
  Row("an edit at the bottom: typing, Enter, Backspace", at_bottom, "ms", "");

  Row("a line of 8,192 bytes added at 0 lines", wide_at_empty, "ms", "");
  Row("a line of 8,192 bytes added at " + std::to_string(count) + " lines",
      MedianMs(memo, 5, [&] { memo->AddLine(wide); }), "ms", "about as at 0 lines");

  // Everything selected and copied, then typed over: the wall time, which
  // on a busy machine is mostly waiting for a processor, and the main
  // thread's own.
  auto start = std::chrono::steady_clock::now();
  double cpu_start = ThreadMs();
  view->SelectAll();
  view->Copy();
  PaintNow(memo);
  Row("select all and copy", MsSince(start), "ms", "< 1000 ms");
  Row("  main thread's time", ThreadMs() - cpu_start, "ms", "");
  start = std::chrono::steady_clock::now();
  cpu_start = ThreadMs();
  view->Type(u"x");
  PaintNow(memo);
  Row("typing over that selection", MsSince(start), "ms", "< 1000 ms");
  Row("  main thread's time", ThreadMs() - cpu_start, "ms", "");
  const bool replaced = memo->Text() == "x";
  std::printf("the history is then the typed character alone: %s\n", replaced ? "yes" : "NO");
  return whole && replaced ? 0 : 1;
}
