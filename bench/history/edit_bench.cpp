// The system's multi-line EDIT alone, as the Win32 port's history used it
// before the history drew its own view (read-only, wrapping at its width,
// Times New Roman 10, no text limit): the wall time of each step that adding
// lines takes, at several sizes of its text, and its resident memory. Beside
// history_bench's figures of the program's own view under Wine, it shows what
// the system's control would cost. Under Wine the edit keeps its text in one
// buffer and its lines in a list that most steps walk from the first line.
// Every figure is a JSON line on standard output (bench/support/Figures.h).
//
// Usage: edit_bench [lines-per-step]   (default 100; Windows only)
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/Figures.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Median wall time of step over five runs, in milliseconds.
template <typename Step>
double MedianMs(Step step) {
  std::vector<double> runs;
  for (int i = 0; i < 5; ++i) {
    const Clock::time_point start = Clock::now();
    step();
    runs.push_back(MsSince(start));
  }
  std::sort(runs.begin(), runs.end());
  return runs[2];
}

// The process's working set in MB (under Wine, its resident memory).
long ResidentMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.WorkingSetSize >> 20);
}

std::wstring Lines(long first, long count) {
  std::wstring text;
  for (long i = first; i < first + count; ++i) {
    text += L"nick> message number " + std::to_wstring(i) + L" with some text to wrap\r\n";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const long step_lines = argc > 1 ? std::atol(argv[1]) : 100;
  HWND form = CreateWindowExW(0, L"STATIC", L"edit_bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              440, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_LEFT | ES_MULTILINE |
                                  ES_AUTOVSCROLL | ES_READONLY | ES_NOHIDESEL,
                              0, 0, 416, 448, form, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (form == nullptr || edit == nullptr) {
    std::fprintf(stderr, "edit_bench: no window\n");
    return 1;
  }
  HFONT font =
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Times New Roman");
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  Pump();

  std::fprintf(stderr, "the system's EDIT, %ld lines a step; median wall time of five steps, ms\n",
               step_lines);
  std::fprintf(stderr, "%9s %10s %10s %10s %10s %10s\n", "lines", "set text", "append",
               "drop front", "caret end", "repaint");
  const std::wstring step = Lines(0, step_lines);
  for (long size : {10000L, 100000L, 300000L, 1000000L}) {
    const std::wstring text = Lines(0, size);
    const Clock::time_point start = Clock::now();
    SetWindowTextW(edit, text.c_str());
    Pump();
    const double set_ms = MsSince(start);
    const auto length = [edit] { return static_cast<WPARAM>(GetWindowTextLengthW(edit)); };
    const double append_ms = MedianMs([&] {
      const WPARAM end = length();
      SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
      SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(step.c_str()));
    });
    const double drop_ms = MedianMs([&] {
      SendMessageW(edit, EM_SETSEL, 0, static_cast<LPARAM>(step.size()));
      SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    });
    const double caret_ms = MedianMs([&] {
      const WPARAM end = length();
      SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
      SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    });
    const double paint_ms = MedianMs([&] {
      InvalidateRect(edit, nullptr, TRUE);
      UpdateWindow(edit);
    });
    std::fprintf(stderr, "%9ld %10.1f %10.2f %10.2f %10.2f %10.2f\n", size, set_ms, append_ms,
                 drop_ms, caret_ms, paint_ms);
    const std::string at = "system EDIT alone at " + Grouped(size) + " lines: ";
    const std::string step_name = std::to_string(step_lines) + " lines";
    WriteFigure(at + "add " + step_name, append_ms, "ms", "", Better::kLower);
    WriteFigure(at + "drop the first " + step_name, drop_ms, "ms", "", Better::kLower);
    WriteFigure(at + "repaint", paint_ms, "ms", "", Better::kLower);
  }
  WriteFigure("system EDIT alone: resident memory at 1,000,000 lines",
              static_cast<double>(ResidentMb()), "MB", "", Better::kLower);
  DestroyWindow(form);
  return 0;
}
