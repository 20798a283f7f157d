// The Win32 port's memo: a window of the port's own (class "KvHistory") that
// shows the history's view (HistoryView.h): it measures and draws the view's
// text with GDI in the memo's font, tells the scroll bar, and keeps the
// clipboard. The system's multi-line EDIT would keep the whole text in one
// buffer that most of its steps walk, so that under Wine every added line and
// every repaint cost more the longer the history is; the view lays out only
// the rows it shows. The window's procedure, the user's input, is
// Win32MemoInput.cpp's; here are the painting and the memo's port operations.
//
// A lone CR or LF, shown as "␍" (U+240D) or "␊" (U+240A), has no
// Windows-1251 code; on the clipboard and in WM_GETTEXT the symbols stand for
// them, and pasted or set symbols turn back into the bytes.
#include <algorithm>
#include <climits>
#include <cmath>

#include "framework/gui/win32/Win32Memo_p.h"

namespace win32port {

void MemoStateDeleter::operator()(MemoState* state) const {
  delete state;
}

void CreateMemoState(HWND memo, WidgetData& data) {
  data.memo.reset(new MemoState(memo));
}

namespace {

int Pixel(double x) {
  return static_cast<int>(std::lround(x));
}

}  // namespace

// ---- the view's surface ----

THistorySurface::Metrics MemoState::MeasureFont() {
  Metrics metrics;
  HDC dc = GetDC(memo);
  HGDIOBJ old_font = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
  // Every byte's character at once: the extents of its prefixes.
  std::wstring shown(256, L'\0');
  for (int byte = 0; byte < 256; ++byte) {
    shown[static_cast<std::size_t>(byte)] =
        static_cast<wchar_t>(THistoryView::ShownChar(static_cast<unsigned char>(byte)));
  }
  int extents[256] = {};
  int fit = 0;
  SIZE size{};
  GetTextExtentExPointW(dc, shown.data(), 256, INT_MAX, &fit, extents, &size);
  for (std::size_t byte = 0; byte < 256; ++byte) {
    metrics.advances[byte] = extents[byte] - (byte > 0 ? extents[byte - 1] : 0);
  }
  TEXTMETRICW text{};
  GetTextMetricsW(dc, &text);
  SelectObject(dc, old_font);
  ReleaseDC(memo, dc);
  line_height = std::max(1, static_cast<int>(text.tmHeight));
  metrics.row_height = line_height;
  // As the system's edit has them: a stop every 32 dialog units, eight
  // average characters.
  metrics.tab_width = 8.0 * std::max(1, static_cast<int>(text.tmAveCharWidth));
  // The edit's margin of two pixels at 96 DPI, at the window's DPI as the
  // font already is.
  metrics.margin = ToPixels(2, DpiOf(memo));
  metrics.top = 0;
  return metrics;
}

void MemoState::DrawRun(double x, int y, std::u16string_view text, double width, bool selected) {
  if (selected) {
    RECT band{Pixel(x), y, Pixel(x + width), y + line_height};
    FillRect(paint_dc, &band, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(paint_dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  } else {
    SetTextColor(paint_dc, ToColorRef(DataOf(memo)->text_color));
  }
  if (!text.empty()) {
    TextOutW(paint_dc, Pixel(x), y, reinterpret_cast<const wchar_t*>(text.data()),
             static_cast<int>(text.size()));
  }
}

void MemoState::PlaceCaret(bool shown, double x, int y) {
  // Only the window with the focus has the caret; elsewhere this does nothing.
  if (shown) {
    SetCaretPos(Pixel(x), y);
  } else {
    SetCaretPos(-1000, -1000);
  }
}

void MemoState::SetScrollBar(std::size_t max, std::size_t page, std::size_t position) {
  if (!vertical_bar) return;
  SCROLLINFO bar{};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  bar.nMin = 0;
  bar.nMax = static_cast<int>(std::min<std::size_t>(max, INT_MAX));
  bar.nPage = static_cast<UINT>(std::min<std::size_t>(page, INT_MAX));
  bar.nPos = static_cast<int>(std::min<std::size_t>(position, INT_MAX));
  SetScrollInfo(memo, SB_VERT, &bar, TRUE);
}

void MemoState::Repaint() {
  // WM_PAINT waits until the message queue is empty, which during a flood it
  // never is: the view asks at most once a frame, and gets the paint now.
  InvalidateRect(memo, nullptr, FALSE);
  UpdateWindow(memo);
}

void MemoState::StartTimer(int id, int ms) {
  SetTimer(memo, static_cast<UINT_PTR>(id), static_cast<UINT>(std::max(ms, 1)), nullptr);
}

void MemoState::SetClipboardText(std::size_t length, const std::function<void(char16_t*)>& write) {
  if (!OpenClipboard(memo)) return;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (length + 1) * sizeof(wchar_t));
  if (memory != nullptr) {
    auto* out = static_cast<char16_t*>(GlobalLock(memory));
    write(out);
    out[length] = u'\0';
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

std::u16string MemoState::ClipboardText() {
  std::u16string text;
  if (!OpenClipboard(memo)) return text;
  if (HANDLE memory = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const char16_t*>(GlobalLock(memory))) {
      text = chars;
      GlobalUnlock(memory);
    }
  }
  CloseClipboard();
  return text;
}

void MemoState::Paint() {
  WidgetData& data = *DataOf(memo);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(memo, &paint);
  const RECT& area = paint.rcPaint;
  const int width = std::max(1, static_cast<int>(area.right - area.left));
  const int height = std::max(1, static_cast<int>(area.bottom - area.top));
  // Drawn off screen, so that the background never shows without its text.
  HDC buffer = CreateCompatibleDC(dc);
  HBITMAP pixels = CreateCompatibleBitmap(dc, width, height);
  HGDIOBJ old_pixels = SelectObject(buffer, pixels);
  SetViewportOrgEx(buffer, -area.left, -area.top, nullptr);
  FillRect(buffer, &area, data.BackgroundBrush());
  HGDIOBJ old_font =
      SelectObject(buffer, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(buffer, TRANSPARENT);
  paint_dc = buffer;
  view.Paint(area.top, area.bottom);
  paint_dc = nullptr;
  SetViewportOrgEx(buffer, 0, 0, nullptr);
  BitBlt(dc, area.left, area.top, width, height, buffer, 0, 0, SRCCOPY);
  SelectObject(buffer, old_font);
  SelectObject(buffer, old_pixels);
  DeleteObject(pixels);
  DeleteDC(buffer);
  EndPaint(memo, &paint);
}

}  // namespace win32port

namespace {

win32port::MemoState& State(HWND memo) {
  return *win32port::DataOf(memo)->memo;
}

}  // namespace

namespace port {

THistoryView* MemoView(NativeWidget memo) {
  return &State(memo).view;
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  // The history wraps its lines at the view's width, so a horizontal bar would
  // never have anything to scroll.
  win32port::MemoState& state = State(memo);
  state.vertical_bar = vertical;
  ShowScrollBar(memo, SB_VERT, vertical ? TRUE : FALSE);
  ShowScrollBar(memo, SB_HORZ, horizontal ? TRUE : FALSE);
  InvalidateRect(memo, nullptr, FALSE);
}

}  // namespace port
