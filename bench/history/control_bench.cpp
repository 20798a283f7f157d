// The candidates for the Win32 history that the system's multi-line EDIT
// would give way to, each alone and measured as edit_bench measures the EDIT:
// the wall time of each step that adding lines takes, at several sizes, and
// the resident memory. Lines are 64 characters, Times New Roman 10.
//
//   richedit  RichEdit 4.1 (Msftedit.dll) in plain-text mode, read-only: it
//             holds the text itself.
//   listbox   an owner-drawn LISTBOX with LBS_NODATA: it holds only a count
//             and draws each visible item from our own store.
//   custom    a window of our own that draws the visible lines of our store
//             under a scroll bar: the least a custom-drawn history costs.
//
// Usage: control_bench richedit|listbox|custom [lines-per-step [sizes...]]
//        (default 100 lines a step at 10000 100000 300000 1000000 lines;
//        Windows only)
#include <richedit.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "win32_bench.h"

namespace {

using win32_bench::Clock;
using win32_bench::MedianMs;
using win32_bench::MsSince;
using win32_bench::Pump;

constexpr int kLineChars = 64;

// Line number i, exactly kLineChars long.
std::wstring Line(long i) {
  std::wstring line = L"nick> message number " + std::to_wstring(i) + L" ";
  while (line.size() < kLineChars) line += L"with some text ";
  line.resize(kLineChars);
  return line;
}

HFONT g_font;
// The lines the listbox and the custom view draw, oldest first.
std::deque<std::wstring> g_store;
long g_next_line = 0;
// What the last repaint drew from the store: rows, and the first line's index.
long g_drawn_rows = 0;
long g_first_drawn = -1;

void StorePush(long count) {
  for (long i = 0; i < count; ++i) g_store.push_back(Line(g_next_line++));
}

void StorePop(long count) {
  for (long i = 0; i < count && !g_store.empty(); ++i) g_store.pop_front();
}

int LineHeight(HWND window) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, g_font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return metrics.tmHeight;
}

void DrawLine(HDC dc, const RECT& row, long index, bool selected) {
  if (g_drawn_rows++ == 0) g_first_drawn = index;
  SelectObject(dc, g_font);
  SetBkColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  const std::wstring* text =
      index >= 0 && index < static_cast<long>(g_store.size()) ? &g_store[index] : nullptr;
  ExtTextOutW(dc, row.left + 2, row.top, ETO_OPAQUE | ETO_CLIPPED, &row, text ? text->c_str() : L"",
              text ? static_cast<UINT>(text->size()) : 0, nullptr);
}

// One control under test: each step as the history would take it.
class Subject {
 public:
  virtual ~Subject() = default;
  HWND window() const { return window_; }
  // Replaces everything with lines 0..count-1.
  virtual void Fill(long count) = 0;
  virtual void Append(long count) = 0;
  virtual void DropFront(long count) = 0;
  // Caret after the last line, scrolled into view.
  virtual void CaretToEnd() = 0;
  // The number of lines the control holds, to check the steps did their work.
  virtual long Lines() = 0;

 protected:
  HWND window_ = nullptr;
};

class RichEdit : public Subject {
 public:
  explicit RichEdit(HWND parent) {
    if (LoadLibraryW(L"Msftedit.dll") == nullptr) {
      std::printf("Msftedit.dll did not load (error %lu)\n", GetLastError());
      return;
    }
    window_ = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                  ES_READONLY | ES_NOHIDESEL,
                              0, 0, 416, 448, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
      std::printf("no %ls window (error %lu)\n", MSFTEDIT_CLASS, GetLastError());
      return;
    }
    if (SendMessageW(window_, EM_SETTEXTMODE, TM_PLAINTEXT, 0) != 0) {
      std::printf("EM_SETTEXTMODE TM_PLAINTEXT refused\n");
    }
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), FALSE);
    SendMessageW(window_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  }
  void Fill(long count) override {
    const std::wstring text = Text(0, count);
    SetWindowTextW(window_, text.c_str());
    next_ = count;
  }
  void Append(long count) override {
    const LPARAM end = Length();
    SendMessageW(window_, EM_SETSEL, end, end);
    const std::wstring text = Text(next_, count);
    next_ += count;
    SendMessageW(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void DropFront(long count) override {
    // A paragraph ends in one CR in a rich edit's character positions.
    SendMessageW(window_, EM_SETSEL, 0, count * (kLineChars + 1));
    SendMessageW(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  void CaretToEnd() override {
    const LPARAM end = Length();
    SendMessageW(window_, EM_SETSEL, end, end);
    SendMessageW(window_, EM_SCROLLCARET, 0, 0);
  }
  long Lines() override { return Length() / (kLineChars + 1); }

 private:
  static std::wstring Text(long first, long count) {
    std::wstring text;
    text.reserve(count * (kLineChars + 2));
    for (long i = first; i < first + count; ++i) text += Line(i) + L"\r\n";
    return text;
  }
  LPARAM Length() {
    GETTEXTLENGTHEX how{GTL_NUMCHARS, 1200};
    return SendMessageW(window_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
  }
  long next_ = 0;
};

class NoDataListBox : public Subject {
 public:
  explicit NoDataListBox(HWND parent) {
    window_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"LISTBOX", L"",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_NODATA | LBS_NOINTEGRALHEIGHT,
        0, 0, 416, 448, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) return;
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), FALSE);
    SendMessageW(window_, LB_SETITEMHEIGHT, 0, LineHeight(window_));
    if ((GetWindowLongW(window_, GWL_STYLE) & LBS_NODATA) == 0) {
      std::printf("LISTBOX dropped LBS_NODATA from its style\n");
    }
  }
  void Fill(long count) override {
    g_store.clear();
    g_next_line = 0;
    StorePush(count);
    SetCount();
  }
  void Append(long count) override {
    StorePush(count);
    SetCount();
    SendMessageW(window_, LB_SETTOPINDEX, g_store.size() - 1, 0);
  }
  void DropFront(long count) override {
    StorePop(count);
    SetCount();
  }
  void CaretToEnd() override { SendMessageW(window_, LB_SETCARETINDEX, g_store.size() - 1, FALSE); }
  long Lines() override { return static_cast<long>(SendMessageW(window_, LB_GETCOUNT, 0, 0)); }

 private:
  void SetCount() {
    if (SendMessageW(window_, LB_SETCOUNT, g_store.size(), 0) < 0 && !reported_) {
      std::printf("LB_SETCOUNT failed (LBS_NODATA not honoured?)\n");
      reported_ = true;
    }
  }
  bool reported_ = false;
};

// The custom view: draws lines top.. of the store, one row each.
struct View {
  long top = 0;
  long caret = 0;
  int line_height = 1;
  int rows = 1;
} g_view;

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const long first = g_view.top + paint.rcPaint.top / g_view.line_height;
    const long last = g_view.top + (paint.rcPaint.bottom - 1) / g_view.line_height;
    for (long index = first; index <= last; ++index) {
      const int y = static_cast<int>(index - g_view.top) * g_view.line_height;
      const RECT row{client.left, y, client.right, y + g_view.line_height};
      DrawLine(dc, row, index, false);
    }
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class CustomView : public Subject {
 public:
  explicit CustomView(HWND parent) {
    WNDCLASSW view_class{};
    view_class.lpfnWndProc = ViewProc;
    view_class.hInstance = GetModuleHandleW(nullptr);
    view_class.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    view_class.lpszClassName = L"control_bench_view";
    RegisterClassW(&view_class);
    window_ = CreateWindowExW(WS_EX_CLIENTEDGE, view_class.lpszClassName, L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0, 416, 448, parent, nullptr,
                              view_class.hInstance, nullptr);
    if (window_ == nullptr) return;
    g_view.line_height = LineHeight(window_);
    RECT client;
    GetClientRect(window_, &client);
    g_view.rows = std::max(1, static_cast<int>(client.bottom / g_view.line_height));
  }
  void Fill(long count) override {
    g_store.clear();
    g_next_line = 0;
    StorePush(count);
    ScrollToEnd();
  }
  void Append(long count) override {
    StorePush(count);
    ScrollToEnd();
  }
  void DropFront(long count) override {
    StorePop(count);
    g_view.top = std::max(0L, g_view.top - count);
    g_view.caret = std::max(0L, g_view.caret - count);
    SyncScrollBar();
  }
  void CaretToEnd() override {
    g_view.caret = static_cast<long>(g_store.size()) - 1;
    ScrollToEnd();
  }
  long Lines() override { return static_cast<long>(g_store.size()); }

 private:
  void ScrollToEnd() {
    g_view.top = std::max(0L, static_cast<long>(g_store.size()) - g_view.rows);
    SyncScrollBar();
  }
  void SyncScrollBar() {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMax = std::max(0, static_cast<int>(g_store.size()) - 1);
    info.nPage = g_view.rows;
    info.nPos = static_cast<int>(g_view.top);
    SetScrollInfo(window_, SB_VERT, &info, TRUE);
    InvalidateRect(window_, nullptr, FALSE);
  }
};

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
    DrawLine(item->hDC, item->rcItem, static_cast<long>(item->itemID),
             (item->itemState & ODS_SELECTED) != 0);
    return TRUE;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
  const char* kind = argc > 1 ? argv[1] : "";
  const long step_lines = argc > 2 ? std::atol(argv[2]) : 100;
  WNDCLASSW form_class{};
  form_class.lpfnWndProc = FormProc;
  form_class.hInstance = GetModuleHandleW(nullptr);
  form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form_class.lpszClassName = L"control_bench_form";
  RegisterClassW(&form_class);
  HWND form = CreateWindowExW(0, form_class.lpszClassName, L"control_bench",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 440, 480, nullptr, nullptr,
                              form_class.hInstance, nullptr);
  g_font =
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Times New Roman");
  std::unique_ptr<Subject> subject;
  if (std::strcmp(kind, "richedit") == 0) {
    subject = std::make_unique<RichEdit>(form);
  } else if (std::strcmp(kind, "listbox") == 0) {
    subject = std::make_unique<NoDataListBox>(form);
  } else if (std::strcmp(kind, "custom") == 0) {
    subject = std::make_unique<CustomView>(form);
  } else {
    std::printf("usage: control_bench richedit|listbox|custom [lines-per-step [sizes...]]\n");
    return 2;
  }
  if (form == nullptr || subject->window() == nullptr) {
    std::printf("control_bench: no window\n");
    return 1;
  }
  Pump();

  std::printf("%s, %ld lines of %d characters a step; median wall time of five steps, ms\n", kind,
              step_lines, kLineChars);
  std::printf("%9s %10s %10s %10s %10s %10s %8s %11s\n", "lines", "fill", "append", "drop front",
              "caret end", "repaint", "held", "resident MB");
  std::vector<long> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000, 300000, 1000000};
  for (long size : sizes) {
    const Clock::time_point start = Clock::now();
    subject->Fill(size);
    Pump();
    const double fill_ms = MsSince(start);
    const double append_ms = MedianMs([&] { subject->Append(step_lines); });
    const double drop_ms = MedianMs([&] { subject->DropFront(step_lines); });
    const double caret_ms = MedianMs([&] { subject->CaretToEnd(); });
    const double paint_ms = MedianMs([&] {
      g_drawn_rows = 0;
      InvalidateRect(subject->window(), nullptr, TRUE);
      UpdateWindow(subject->window());
    });
    // Five steps of each added and dropped: the count is back at size.
    std::printf("%9ld %10.1f %10.2f %10.2f %10.2f %10.2f %8ld %11ld\n", size, fill_ms, append_ms,
                drop_ms, caret_ms, paint_ms, subject->Lines(), win32_bench::ResidentMb());
    if (g_drawn_rows > 0) {
      std::printf("%9s the repaint drew %ld rows, from line %ld of %zu\n", "", g_drawn_rows,
                  g_first_drawn, g_store.size());
    }
    std::fflush(stdout);
  }
  DestroyWindow(form);
  return 0;
}
