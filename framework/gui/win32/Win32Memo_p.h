// What the files of the Win32 port's history view share (Win32Memo.cpp, the
// memo's port operations; Win32MemoLayout.cpp, rows, scrolling and painting;
// Win32MemoInput.cpp, the window's procedure: keys, mouse, clipboard, menu).
// Included only by them.
//
// Main thread only.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "framework/gui/win32/HistoryText.h"
#include "framework/gui/win32/Win32Port_p.h"

namespace win32port {

// A row on screen: a line and one of the rows it wraps into.
struct RowPos {
  std::size_t line = 0;
  std::size_t row = 0;
  friend bool operator==(RowPos a, RowPos b) { return a.line == b.line && a.row == b.row; }
  friend bool operator<(RowPos a, RowPos b) {
    return a.line != b.line ? a.line < b.line : a.row < b.row;
  }
};

struct MemoState : HistoryText {
  int goal_x = -1;          // where Up and Down keep the caret; -1: where it is
  RowPos top;               // the first row shown
  bool follows_end = true;  // the view shows the end, and keeps showing it
  HFONT font = nullptr;     // not owned
  int line_height = 16;
  bool vertical_bar = true;
  int wheel_delta = 0;
  bool dragging = false;
  ULONGLONG last_paint_ms = 0;
  bool invalid = false;         // a paint is due
  SCROLLINFO shown_bar{};       // what the scroll bar was last told
  std::size_t lines_shown = 1;  // by the last paint: the scroll bar's page
  ULONGLONG bar_update_ms = 0;  // when the scroll bar was last told
  bool bar_timer = false;       // a scroll bar update waits for kBarTimer
};

constexpr int kMargin = 2;
constexpr UINT_PTR kBarTimer = 1;  // a scroll bar update waits for it

// ---- the shown text (Win32MemoLayout.cpp) ----

// Bytes as they show: a lone CR or LF as its symbol.
std::wstring Shown(std::string_view bytes);
// Shown text back to bytes; CR LF stays a line break.
std::string FromShown(std::wstring_view shown);
// From one place to another, CR LF between lines.
std::wstring ShownText(const MemoState& state, TextPos from, TextPos to);

// ---- layout (Win32MemoLayout.cpp) ----

// A device context with the memo's font, for measuring.
class Measure {
 public:
  Measure(HWND memo, const MemoState& state) : memo_(memo), dc_(GetDC(memo)) {
    old_font_ =
        SelectObject(dc_, state.font != nullptr ? state.font : GetStockObject(DEFAULT_GUI_FONT));
    RECT area;
    GetClientRect(memo, &area);
    width_ = std::max(1, static_cast<int>(area.right) - 2 * kMargin);
    rows_ = std::max(1, static_cast<int>(area.bottom) / std::max(1, state.line_height));
  }
  ~Measure() {
    SelectObject(dc_, old_font_);
    ReleaseDC(memo_, dc_);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;

  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int visible_rows() const { return rows_; }

 private:
  HWND memo_;
  HDC dc_;
  HGDIOBJ old_font_;
  int width_;
  int rows_;
};

// Where each row of a shown line starts.
std::vector<std::size_t> RowStarts(HDC dc, int width, std::wstring_view text);
// The row of starts that col is in.
std::size_t RowOf(const std::vector<std::size_t>& starts, std::size_t col);
// Moves by delta rows, stopping at the first and the last row.
RowPos Advance(const Measure& measure, const MemoState& state, RowPos pos, long delta);
// The column of a row nearest to x (relative to the text's left edge).
std::size_t ColumnAt(HDC dc, std::wstring_view text, std::size_t start, std::size_t end,
                     bool last_row, int x);
int XOf(HDC dc, std::wstring_view text, std::size_t start, std::size_t col);
// The place under a point of the client area.
TextPos PosAtPoint(HWND memo, MemoState& state, int x, int y);

// Lets the oldest lines beyond the limit go, and the view's top with them.
void KeepLineLimit(MemoState& state);
// Replaces the whole text; the view shows its start, and follows the end when
// that is in view too.
void ResetText(HWND memo, MemoState& state, std::string_view bytes);
void ScrollRows(HWND memo, MemoState& state, long delta);
void ScrollToLine(HWND memo, MemoState& state, std::size_t line);
// Scrolls as little as shows the caret's row.
void ShowCaretRow(HWND memo, MemoState& state);

// ---- painting (Win32MemoLayout.cpp) ----

void UpdateScrollBar(HWND memo, MemoState& state);
void Paint(HWND memo, MemoState& state);
// The text or the selection changed: the view shows it at the next paint,
// which comes at once when the last one is a frame old.
void Changed(HWND memo, MemoState& state);

}  // namespace win32port
