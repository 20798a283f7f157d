// Adds lines to a shown history holding 0, 100,000 and 1,000,000 lines and
// prints the time per added line at each size, and the ratio of the largest
// to the empty history. Adding a line must not depend on the history's length:
// the ratio should stay at 2 or below. The time counts the lines' way into the
// widget (lines added within one display frame go in together at its end),
// and the resident memory with the full history is printed too.
//
// Usage: history_bench [lines-measured-per-size]
#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/support/ProcStatus.h"
#include "framework/gui/Application.h"

namespace {

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
    if (i % 100 == 99) QCoreApplication::processEvents();
  }
  memo->Flush();
  QCoreApplication::processEvents();
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(count);
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
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
    std::printf("history of %7ld lines: %8.0f ns per added line\n", size, per_line);
    std::fflush(stdout);
    if (size == 0) at_empty = per_line;
    at_largest = per_line;
  }
  std::printf("ratio 1,000,000 / 0: %.2f (must be at most 2)\n", at_largest / at_empty);
  std::printf("resident memory with %ld lines: %ld MB (peak %ld MB)\n", held,
              StatusKb("VmRSS") / 1024, StatusKb("VmHWM") / 1024);
  return 0;
}
