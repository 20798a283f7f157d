// Adds lines to a shown history holding 0, 100,000 and 1,000,000 lines and
// writes the time per added line at each size (the median of five batches:
// Google Benchmark's repetitions on Linux, a plain loop in the Windows build,
// as Debian has no MinGW build of the library), and the ratio of the largest
// to the empty history: adding a line must not depend on the history's length,
// the ratio should stay at 1.2 or below. The time counts the lines' way onto
// the screen (the window processes its events every 100 lines, and repaints
// at most once a frame); the resident memory with the full history too; on
// Windows, the time of one full repaint at each size.
//
// Then, with the history full, what a user does to it, each with the repaint
// that shows it: a change of font (the main thread's time and the memory it
// adds), a line of 8,192 bytes added, a character typed, Enter and Backspace
// at the top and at the bottom (the top must cost no more than the bottom),
// select all and copy, and typing over that selection. Every figure is a JSON
// line on standard output (bench/support/Figures.h).
//
// Written against the framework alone, so that it builds on both ports: on
// Linux it runs on Qt's offscreen platform; the Windows build runs under Wine
// on an X display (tools/bench.sh gives it an Xvfb), as Wine draws every
// window through X.
//
// Usage: history_bench [lines-measured-per-size] [--benchmark_* options on Linux]
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
// After the framework's headers, as in the port.
#include "support/windows_api.h"
// After windows.h, whose types it uses.
#include <psapi.h>
#else
#include <time.h>

#include <QWidget>

#include "bench/support/GoogleBenchmark.h"
#include "bench/support/ProcStatus.h"
#endif
#include "bench/support/Figures.h"

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

constexpr long kSizes[] = {0, 100000, 1000000};

std::string PerLineName(long size) {
  return "TMemo: time per added line at " + Grouped(size) + " lines";
}

// Fills the history up to size lines through the same path, untimed; held
// counts the lines added so far.
void FillTo(TMemo* memo, long size, long& held) {
  while (held < size) {
    const long batch = std::min(size - held, 10000L);
    TimeAdds(memo, held, batch);
    held += batch;
  }
}

#if defined(_WIN32)
// Without Google Benchmark (Debian has no MinGW build of it): at each size,
// the median of five batches of measured lines, as a batch takes milliseconds,
// which one moment without a processor on a busy machine would double; and
// the time of one full repaint there. Returns nanoseconds per line.
std::vector<double> NsPerLineAtSizes(int&, char**, TMemo* memo, long measured, long& held) {
  std::vector<double> per_line;
  for (long size : kSizes) {
    FillTo(memo, size, held);
    std::vector<double> batches;
    for (int batch = 0; batch < 5; ++batch) {
      batches.push_back(TimeAdds(memo, held, measured));
      held += measured;
    }
    std::sort(batches.begin(), batches.end());
    per_line.push_back(batches[2]);
    WriteFigure(PerLineName(size), batches[2] / 1000, "us", "", Better::kLower);
    WriteFigure("TMemo: one full repaint at " + Grouped(size) + " lines", RepaintMs(memo), "ms", "",
                Better::kLower);
  }
  return per_line;
}
#else
// Google Benchmark times measured lines at each size, five times over; the
// median counts. Returns nanoseconds per line.
std::vector<double> NsPerLineAtSizes(int& argc, char** argv, TMemo* memo, long measured,
                                     long& held) {
  for (long size : kSizes) {
    benchmark::RegisterBenchmark(PerLineName(size).c_str(),
                                 [memo, size, &held](benchmark::State& state) {
                                   FillTo(memo, size, held);
                                   for (auto _ : state) {
                                     memo->AddLine(LineNumber(held));
                                     if (++held % 100 == 0) port::ProcessWaitingEvents();
                                   }
                                 })
        ->Iterations(measured)
        ->Repetitions(5)
        ->ReportAggregatesOnly()
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
  }
  FigureReporter reporter;
  RunGoogleBenchmarks(argc, argv, reporter);
  std::vector<double> per_line;
  for (long size : kSizes) per_line.push_back(reporter.Nanoseconds(PerLineName(size)));
  return per_line;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
  // A first argument that is not one of Google Benchmark's options.
  const long given = argc > 1 && argv[1][0] != '-' ? std::atol(argv[1]) : 0;
  const long measured = given > 0 ? given : 2000;
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
  const std::vector<double> per_line = NsPerLineAtSizes(argc, argv, memo, measured, held);
  WriteFigure("TMemo: time per added line, " + Grouped(kSizes[2]) + " / 0 lines",
              per_line.back() / per_line.front(), "", "<= 1.2", Better::kLower);
  const Resident resident = ResidentMemory();
  WriteFigure("TMemo: resident memory with " + Grouped(held) + " lines added directly",
              static_cast<double>(resident.now_mb), "MB", "", Better::kLower);
  WriteFigure("TMemo: peak resident memory", static_cast<double>(resident.peak_mb), "MB", "",
              Better::kLower);
  // The figures count only if the history really holds the newest lines.
  const int count = memo->Lines()->Count();
  const std::string newest = LineNumber(held - 1);
  const std::string text = memo->Text();
  const bool whole =
      count == std::min(held, static_cast<long>(memo->MaxLines())) &&
      memo->Lines()->Strings(count - 1) == newest && text.size() >= newest.size() + 2 &&
      text.compare(text.size() - newest.size() - 2, std::string::npos, newest + "\r\n") == 0;
  const std::string full = Grouped(count) + " lines";
  WriteCheck("TMemo: holds the newest " + full + ", " + Grouped(static_cast<long>(text.size())) +
                 " bytes of text",
             whole);
  std::fprintf(stderr, "with the history full (%d lines): median wall time with the repaint\n",
               count);

  // A change of font lays out nothing but the rows in view.
  // (The thread's time is counted in ticks of 10 ms under Wine; the wall
  // time shows below that.)
  const long before_font_mb = ResidentMemory().now_mb;
  const auto font_wall = std::chrono::steady_clock::now();
  const double font_start = ThreadMs();
  memo->Font()->SetHeight(16);
  PaintNow(memo);
  const std::string font = "font change with " + full;
  WriteFigure(font + ": main thread's time", ThreadMs() - font_start, "ms", "< 100 ms",
              Better::kLower);
  WriteFigure(font + ": wall time", MsSince(font_wall), "ms", "", Better::kLower);
  WriteFigure(font + ": resident memory added",
              static_cast<double>(ResidentMemory().now_mb - before_font_mb), "MB", "0 MB",
              Better::kLower);

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
  WriteFigure("an edit at the top of " + full + ": typing, Enter, Backspace", at_top, "ms",
              "<= at the bottom", Better::kLower);
  WriteFigure("an edit at the bottom of " + full + ": typing, Enter, Backspace", at_bottom, "ms",
              "", Better::kLower);

  WriteFigure("a line of 8,192 bytes added at 0 lines", wide_at_empty, "ms", "", Better::kLower);
  WriteFigure("a line of 8,192 bytes added at " + full,
              MedianMs(memo, 5, [&] { memo->AddLine(wide); }), "ms", "about as at 0 lines",
              Better::kLower);

  // Everything selected and copied, then typed over: the wall time, which
  // on a busy machine is mostly waiting for a processor, and the main
  // thread's own.
  auto start = std::chrono::steady_clock::now();
  double cpu_start = ThreadMs();
  view->SelectAll();
  view->Copy();
  PaintNow(memo);
  const std::string copy = "select all of " + full + " and copy";
  WriteFigure(copy, MsSince(start), "ms", "< 1000 ms", Better::kLower);
  WriteFigure(copy + ": main thread's time", ThreadMs() - cpu_start, "ms", "", Better::kLower);
  start = std::chrono::steady_clock::now();
  cpu_start = ThreadMs();
  view->Type(u"x");
  PaintNow(memo);
  const std::string type = "typing over that selection";
  WriteFigure(type, MsSince(start), "ms", "< 1000 ms", Better::kLower);
  WriteFigure(type + ": main thread's time", ThreadMs() - cpu_start, "ms", "", Better::kLower);
  const bool replaced = memo->Text() == "x";
  WriteCheck("typing over everything leaves the typed character alone", replaced);
  return whole && replaced ? 0 : 1;
}
