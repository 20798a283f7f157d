// The system's multi-line EDIT alone, as the Win32 port's history uses it
// (read-only, wrapping at its width, Times New Roman 10, no text limit): the
// wall time of each step that adding lines takes, at several sizes of its
// text, so that the edit's own costs can be told from the port's. Under Wine
// the edit keeps its text in one buffer and its lines in a list that most
// steps walk from the first line.
//
// Usage: edit_bench [lines-per-step]   (default 100; Windows only)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32_bench.h"

namespace {

using win32_bench::Clock;
using win32_bench::MedianMs;
using win32_bench::MsSince;
using win32_bench::Pump;

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
    std::printf("edit_bench: no window\n");
    return 1;
  }
  HFONT font =
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Times New Roman");
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  Pump();

  std::printf("the system's EDIT, %ld lines a step; median wall time of five steps, ms\n",
              step_lines);
  std::printf("%9s %10s %10s %10s %10s %10s\n", "lines", "set text", "append", "drop front",
              "caret end", "repaint");
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
    std::printf("%9ld %10.1f %10.2f %10.2f %10.2f %10.2f\n", size, set_ms, append_ms, drop_ms,
                caret_ms, paint_ms);
    std::fflush(stdout);
  }
  std::printf("resident memory at 1000000 lines: %ld MB\n", win32_bench::ResidentMb());
  DestroyWindow(form);
  return 0;
}
