// The Win32 port's memo: a window of the port's own (class "KvHistory") that
// holds the history's lines itself and draws only the rows that are visible.
//
// The system's multi-line EDIT keeps its whole text in one buffer and its
// lines in a list that most of its steps walk, so that under Wine every added
// line and every repaint costs more the longer the history is. Here a line is
// a string of Windows-1251 bytes in a deque: adding a line at the end and
// letting the oldest go cost what they are, and a repaint lays out the rows it
// shows, wrapped at the window's width, and nothing else. The position of the
// view is a line and a row in it; the scroll bar counts lines, so that no line
// outside the view is ever measured (the bar is exact in lines, approximate in
// rows).
//
// A lone CR or LF inside a line is kept as its byte and shows as "␍" (U+240D)
// or "␊" (U+240A), which have no Windows-1251 code; on the clipboard and in
// WM_GETTEXT the symbols stand for them, and pasted or set symbols turn back
// into the bytes.
//
// The user edits the history as in a multi-line edit: caret, typing, Enter,
// Backspace, Delete, the arrows and Home, End, Page Up, Page Down (with Ctrl
// and with Shift), the mouse, Ctrl+A, Ctrl+C, Ctrl+X, Ctrl+V and their Insert
// and Delete forms, and the edit's context menu. Tab is left to the dialog
// manager.
#include <algorithm>
#include <array>
#include <climits>
#include <deque>
#include <utility>

#include "framework/gui/win32/Win32Port_p.h"

namespace win32port {

// A place in the text: a line and a byte (one UTF-16 unit on screen) in it.
struct TextPos {
  std::size_t line = 0;
  std::size_t col = 0;
  friend bool operator==(TextPos a, TextPos b) { return a.line == b.line && a.col == b.col; }
  friend bool operator<(TextPos a, TextPos b) {
    return a.line != b.line ? a.line < b.line : a.col < b.col;
  }
};

// A row on screen: a line and one of the rows it wraps into.
struct RowPos {
  std::size_t line = 0;
  std::size_t row = 0;
  friend bool operator==(RowPos a, RowPos b) { return a.line == b.line && a.row == b.row; }
  friend bool operator<(RowPos a, RowPos b) {
    return a.line != b.line ? a.line < b.line : a.row < b.row;
  }
};

struct MemoState {
  // Never empty: an empty history is one empty line, and a final line break
  // leaves an empty last line.
  std::deque<std::string> lines{std::string()};
  std::size_t length = 0;   // of the text read back, CR LF between lines
  int max_lines = 0;        // 0: no limit
  TextPos caret, anchor;    // the selection runs from anchor to caret
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

}  // namespace win32port

using win32port::MemoState;
using win32port::RowPos;
using win32port::TextPos;

namespace {

constexpr wchar_t kHistoryClass[] = L"KvHistory";
constexpr int kMargin = 2;
// Lines added during a flood are painted at least this often, even when the
// message queue never runs empty (WM_PAINT waits for that).
constexpr ULONGLONG kFrameMs = 16;
// Telling the scroll bar costs milliseconds under Wine (it repaints the bar
// through the X server at once); during a flood it is told this often.
constexpr ULONGLONG kBarMs = 200;
constexpr UINT_PTR kBarTimer = 1;
constexpr wchar_t kShownCR = L'\u240D';
constexpr wchar_t kShownLF = L'\u240A';

enum MenuCommand : UINT { kCut = 1, kCopy, kPaste, kDelete, kSelectAll };

MemoState* StateOf(HWND memo) {
  win32port::WidgetData* data = win32port::DataOf(memo);
  return data != nullptr ? data->memo.get() : nullptr;
}

MemoState& State(HWND memo) {
  return *win32port::DataOf(memo)->memo;
}

// ---- text ----

// How each byte shows on screen.
const std::array<wchar_t, 256>& ShownChars() {
  static const std::array<wchar_t, 256> table = [] {
    std::array<wchar_t, 256> chars{};
    std::string bytes(256, '\0');
    for (int byte = 0; byte < 256; ++byte) bytes[byte] = static_cast<char>(byte);
    std::wstring wide = win32port::ToWide(bytes);
    for (int byte = 0; byte < 256; ++byte) {
      chars[byte] = static_cast<std::size_t>(byte) < wide.size() ? wide[byte] : L'?';
    }
    chars['\r'] = kShownCR;
    chars['\n'] = kShownLF;
    return chars;
  }();
  return table;
}

std::wstring Shown(std::string_view bytes) {
  const auto& chars = ShownChars();
  std::wstring out(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    out[i] = chars[static_cast<unsigned char>(bytes[i])];
  return out;
}

// Shown text back to bytes; CR LF stays a line break.
std::string FromShown(std::wstring_view shown) {
  std::wstring text(shown);
  for (wchar_t& c : text) {
    if (c == kShownCR) c = L'\r';
    if (c == kShownLF) c = L'\n';
  }
  return win32port::FromWide(text);
}

std::wstring ShownText(const MemoState& state, TextPos from, TextPos to) {
  std::wstring out;
  for (std::size_t line = from.line; line <= to.line; ++line) {
    const std::string& text = state.lines[line];
    const std::size_t start = line == from.line ? from.col : 0;
    const std::size_t end = line == to.line ? to.col : text.size();
    out += Shown(std::string_view(text).substr(start, end - start));
    if (line != to.line) out += L"\r\n";
  }
  return out;
}

TextPos End(const MemoState& state) {
  return TextPos{state.lines.size() - 1, state.lines.back().size()};
}

// Where a place is in the text read back, counted from whichever end is nearer.
std::size_t Offset(const MemoState& state, TextPos pos) {
  const std::size_t count = state.lines.size();
  std::size_t before = 0;
  if (pos.line < count / 2) {
    for (std::size_t line = 0; line < pos.line; ++line) before += state.lines[line].size() + 2;
  } else {
    before = state.length;
    for (std::size_t line = pos.line; line < count; ++line) before -= state.lines[line].size();
    before -= 2 * (count - 1 - pos.line);
  }
  return before + pos.col;
}

TextPos PosAt(const MemoState& state, std::size_t offset) {
  TextPos pos;
  for (; pos.line + 1 < state.lines.size(); ++pos.line) {
    const std::size_t size = state.lines[pos.line].size();
    if (offset <= size) break;
    offset -= std::min(offset, size + 2);
  }
  pos.col = std::min(offset, state.lines[pos.line].size());
  return pos;
}

// Inserts bytes, CR LF breaking lines; returns the place after them.
TextPos Insert(MemoState& state, TextPos at, std::string_view bytes) {
  std::string tail = state.lines[at.line].substr(at.col);
  state.lines[at.line].resize(at.col);
  std::size_t line = at.line;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] != '\r' || bytes[i + 1] != '\n') continue;
    state.lines[line].append(bytes.substr(start, i - start));
    state.lines.insert(state.lines.begin() + static_cast<std::ptrdiff_t>(++line), std::string());
    start = i + 2;
    ++i;
  }
  state.lines[line].append(bytes.substr(start));
  const TextPos after{line, state.lines[line].size()};
  state.lines[line] += tail;
  state.length += bytes.size();
  return after;
}

void Erase(MemoState& state, TextPos from, TextPos to) {
  if (!(from < to)) return;
  std::string& first = state.lines[from.line];
  if (from.line == to.line) {
    first.erase(from.col, to.col - from.col);
    state.length -= to.col - from.col;
    return;
  }
  std::size_t removed = first.size() - from.col + 2 + to.col;
  for (std::size_t line = from.line + 1; line < to.line; ++line) {
    removed += state.lines[line].size() + 2;
  }
  first.resize(from.col);
  first.append(state.lines[to.line], to.col);
  state.lines.erase(state.lines.begin() + static_cast<std::ptrdiff_t>(from.line + 1),
                    state.lines.begin() + static_cast<std::ptrdiff_t>(to.line + 1));
  state.length -= removed;
}

// Lets the oldest lines beyond the limit go; a final empty line is no line.
void DropOldestLines(MemoState& state) {
  if (state.max_lines <= 0) return;
  const std::size_t lines = state.lines.size() - (state.lines.back().empty() ? 1 : 0);
  if (lines <= static_cast<std::size_t>(state.max_lines)) return;
  const std::size_t excess = lines - static_cast<std::size_t>(state.max_lines);
  for (std::size_t i = 0; i < excess; ++i) {
    state.length -= state.lines.front().size() + 2;
    state.lines.pop_front();
  }
  auto shift = [excess](TextPos& pos) {
    pos = pos.line < excess ? TextPos{} : TextPos{pos.line - excess, pos.col};
  };
  shift(state.caret);
  shift(state.anchor);
  state.top = state.top.line < excess ? RowPos{} : RowPos{state.top.line - excess, state.top.row};
}

std::pair<TextPos, TextPos> Selection(const MemoState& state) {
  return std::minmax(state.anchor, state.caret);
}

bool HasSelection(const MemoState& state) {
  return !(state.anchor == state.caret);
}

// ---- layout ----

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

// Where each row of a shown line starts: word wrap as the system's edit does
// it, at the last space that fits (spaces may hang past the width), a word
// wider than the width broken where the width ends.
std::vector<std::size_t> RowStarts(HDC dc, int width, std::wstring_view text) {
  std::vector<std::size_t> starts{0};
  std::size_t start = 0;
  while (start < text.size()) {
    // No character is narrower than a pixel, so no more than width + 1 can fit.
    const std::size_t tried = std::min(text.size() - start, static_cast<std::size_t>(width) + 1);
    int fit = 0;
    SIZE size;
    GetTextExtentExPointW(dc, text.data() + start, static_cast<int>(tried), width, &fit, nullptr,
                          &size);
    if (static_cast<std::size_t>(fit) >= text.size() - start) break;
    std::size_t next = start + static_cast<std::size_t>(fit);
    if (text[next] == L' ') {
      while (next < text.size() && text[next] == L' ') ++next;
    } else {
      std::size_t space = next;
      while (space > start && text[space - 1] != L' ') --space;
      next = space > start ? space : start + std::max(fit, 1);
    }
    if (next >= text.size()) break;
    starts.push_back(next);
    start = next;
  }
  return starts;
}

std::vector<std::size_t> LineRows(const Measure& measure, const MemoState& state,
                                  std::size_t line) {
  return RowStarts(measure.dc(), measure.width(), Shown(state.lines[line]));
}

std::size_t RowCount(const Measure& measure, const MemoState& state, std::size_t line) {
  return LineRows(measure, state, line).size();
}

std::size_t RowOf(const std::vector<std::size_t>& starts, std::size_t col) {
  return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), col) -
                                  starts.begin()) -
         1;
}

RowPos RowOfPos(const Measure& measure, const MemoState& state, TextPos pos) {
  return RowPos{pos.line, RowOf(LineRows(measure, state, pos.line), pos.col)};
}

// Moves by delta rows, stopping at the first and the last row.
RowPos Advance(const Measure& measure, const MemoState& state, RowPos pos, long delta) {
  while (delta > 0) {
    const std::size_t rows = RowCount(measure, state, pos.line);
    const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(delta),
                                                   rows - 1 - std::min(pos.row, rows - 1));
    if (step > 0) {
      pos.row += step;
      delta -= static_cast<long>(step);
    } else if (pos.line + 1 < state.lines.size()) {
      pos = RowPos{pos.line + 1, 0};
      --delta;
    } else {
      pos.row = rows - 1;
      break;
    }
  }
  while (delta < 0) {
    if (pos.row > 0) {
      const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(-delta), pos.row);
      pos.row -= step;
      delta += static_cast<long>(step);
    } else if (pos.line > 0) {
      --pos.line;
      pos.row = RowCount(measure, state, pos.line) - 1;
      ++delta;
    } else {
      break;
    }
  }
  return pos;
}

// The first row shown when the last row is at the bottom.
RowPos EndTop(const Measure& measure, const MemoState& state) {
  const std::size_t last = state.lines.size() - 1;
  return Advance(measure, state, RowPos{last, RowCount(measure, state, last) - 1},
                 -(measure.visible_rows() - 1));
}

// Puts the view between the first row and the end; at the end it follows it.
void ClampTop(const Measure& measure, MemoState& state) {
  if (state.top.line >= state.lines.size()) state.top = RowPos{state.lines.size() - 1, 0};
  state.top.row = std::min(state.top.row, RowCount(measure, state, state.top.line) - 1);
  const RowPos end = EndTop(measure, state);
  state.follows_end = !(state.top < end);
  if (state.follows_end) state.top = end;
}

void ResolveTop(const Measure& measure, MemoState& state) {
  if (state.follows_end) {
    state.top = EndTop(measure, state);
  } else {
    ClampTop(measure, state);
  }
}

// Rows from a to b (a before b), counting no further than limit.
long RowsBetween(const Measure& measure, const MemoState& state, RowPos a, RowPos b, long limit) {
  long rows = 0;
  while (a < b && rows < limit) {
    if (a.line == b.line) return rows + static_cast<long>(b.row - a.row);
    rows += static_cast<long>(RowCount(measure, state, a.line) - a.row);
    a = RowPos{a.line + 1, 0};
  }
  return rows;
}

// Replaces the whole text; the view shows its start, and follows the end when
// that is in view too.
void ResetText(HWND memo, MemoState& state, std::string_view bytes) {
  state.lines.assign(1, std::string());
  state.length = 0;
  state.caret = state.anchor = TextPos{};
  Insert(state, TextPos{}, bytes);
  DropOldestLines(state);
  state.top = RowPos{};
  state.follows_end = false;
  Measure measure(memo, state);
  ClampTop(measure, state);
}

void ScrollRows(HWND memo, MemoState& state, long delta) {
  Measure measure(memo, state);
  ResolveTop(measure, state);
  state.top = Advance(measure, state, state.top, delta);
  ClampTop(measure, state);
  InvalidateRect(memo, nullptr, FALSE);
}

void ScrollToLine(HWND memo, MemoState& state, std::size_t line) {
  Measure measure(memo, state);
  state.top = RowPos{line, 0};
  ClampTop(measure, state);
  InvalidateRect(memo, nullptr, FALSE);
}

void ShowCaretRow(HWND memo, MemoState& state) {
  Measure measure(memo, state);
  ResolveTop(measure, state);
  const RowPos caret = RowOfPos(measure, state, state.caret);
  const long rows = measure.visible_rows();
  if (caret < state.top) {
    state.top = caret;
  } else if (RowsBetween(measure, state, state.top, caret, rows) >= rows) {
    state.top = Advance(measure, state, caret, -(rows - 1));
  }
  ClampTop(measure, state);
  InvalidateRect(memo, nullptr, FALSE);
}

// The column of a row nearest to x (relative to the text's left edge).
std::size_t ColumnAt(HDC dc, std::wstring_view text, std::size_t start, std::size_t end,
                     bool last_row, int x) {
  std::vector<int> edges(end - start + 1, 0);
  int fit = 0;
  SIZE size;
  if (end > start) {
    GetTextExtentExPointW(dc, text.data() + start, static_cast<int>(end - start), INT_MAX, &fit,
                          edges.data() + 1, &size);
  }
  std::size_t col = 0;
  while (col < end - start && x > (edges[col] + edges[col + 1]) / 2) ++col;
  // The space a row wrapped at belongs to its end; the caret goes before it.
  if (!last_row && col == end - start && col > 0 && text[end - 1] == L' ') --col;
  return start + col;
}

int XOf(HDC dc, std::wstring_view text, std::size_t start, std::size_t col) {
  SIZE size{0, 0};
  if (col > start)
    GetTextExtentPoint32W(dc, text.data() + start, static_cast<int>(col - start), &size);
  return size.cx;
}

// The place under a point of the client area.
TextPos PosAtPoint(HWND memo, MemoState& state, int x, int y) {
  Measure measure(memo, state);
  ResolveTop(measure, state);
  const long row = y < 0 ? -1 - (-y - 1) / state.line_height : y / state.line_height;
  const RowPos at = Advance(measure, state, state.top, row);
  const std::wstring text = Shown(state.lines[at.line]);
  const auto starts = RowStarts(measure.dc(), measure.width(), text);
  const std::size_t index = std::min(at.row, starts.size() - 1);
  const bool last_row = index + 1 == starts.size();
  const std::size_t end = last_row ? text.size() : starts[index + 1];
  return TextPos{at.line, ColumnAt(measure.dc(), text, starts[index], end, last_row, x - kMargin)};
}

// ---- painting ----

void UpdateScrollBar(HWND memo, MemoState& state) {
  if (!state.vertical_bar) return;
  SCROLLINFO bar{};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  bar.nMin = 0;
  bar.nMax = static_cast<int>(std::min<std::size_t>(state.lines.size() - 1, INT_MAX));
  bar.nPage = static_cast<UINT>(std::max<std::size_t>(state.lines_shown, 1));
  bar.nPos = static_cast<int>(std::min<std::size_t>(state.top.line, INT_MAX));
  if (bar.nMax == state.shown_bar.nMax && bar.nPage == state.shown_bar.nPage &&
      bar.nPos == state.shown_bar.nPos && state.shown_bar.cbSize != 0) {
    return;
  }
  const ULONGLONG now = GetTickCount64();
  if (now - state.bar_update_ms < kBarMs) {
    if (!state.bar_timer) {
      SetTimer(memo, kBarTimer, static_cast<UINT>(kBarMs - (now - state.bar_update_ms)), nullptr);
      state.bar_timer = true;
    }
    return;
  }
  state.shown_bar = bar;
  state.bar_update_ms = now;
  SetScrollInfo(memo, SB_VERT, &bar, TRUE);
}

void Paint(HWND memo, MemoState& state) {
  win32port::WidgetData& data = *win32port::DataOf(memo);
  std::size_t lines_shown = 0;
  {
    Measure measure(memo, state);
    ResolveTop(measure, state);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(memo, &paint);
    HGDIOBJ old_font =
        SelectObject(dc, state.font != nullptr ? state.font : GetStockObject(DEFAULT_GUI_FONT));
    RECT area;
    GetClientRect(memo, &area);
    SetBkMode(dc, OPAQUE);
    const COLORREF text_color = win32port::ToColorRef(data.text_color);
    const COLORREF background = win32port::ToColorRef(data.background);
    const auto [selected_from, selected_to] = Selection(state);
    POINT caret{-1000, -1000};
    int y = 0;
    for (std::size_t line = state.top.line; line < state.lines.size() && y < area.bottom; ++line) {
      ++lines_shown;
      const std::wstring text = Shown(state.lines[line]);
      const auto starts = RowStarts(measure.dc(), measure.width(), text);
      // The selected columns of this line.
      std::size_t selected_start = 0, selected_end = 0;
      if (selected_from.line <= line && line <= selected_to.line) {
        selected_start = line == selected_from.line ? selected_from.col : 0;
        selected_end = line == selected_to.line ? selected_to.col : text.size();
      }
      for (std::size_t row = line == state.top.line ? state.top.row : 0;
           row < starts.size() && y < area.bottom; ++row) {
        const std::size_t start = starts[row];
        const bool last_row = row + 1 == starts.size();
        const std::size_t end = last_row ? text.size() : starts[row + 1];
        RECT band{0, y, area.right, y + state.line_height};
        FillRect(dc, &band, data.BackgroundBrush());
        const std::size_t cuts[4] = {start, std::clamp(selected_start, start, end),
                                     std::clamp(selected_end, start, end), end};
        int x = kMargin;
        for (int part = 0; part < 3; ++part) {
          if (cuts[part + 1] <= cuts[part]) continue;
          const bool selected = part == 1;
          SetTextColor(dc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : text_color);
          SetBkColor(dc, selected ? GetSysColor(COLOR_HIGHLIGHT) : background);
          const int count = static_cast<int>(cuts[part + 1] - cuts[part]);
          TextOutW(dc, x, y, text.data() + cuts[part], count);
          x += XOf(dc, text, cuts[part], cuts[part + 1]);
        }
        if (line == state.caret.line && state.caret.col >= start &&
            (state.caret.col < end || last_row)) {
          caret = POINT{kMargin + XOf(dc, text, start, state.caret.col), y};
        }
        y += state.line_height;
      }
    }
    if (y < area.bottom) {
      RECT rest{0, y, area.right, area.bottom};
      FillRect(dc, &rest, data.BackgroundBrush());
    }
    SelectObject(dc, old_font);
    SetCaretPos(caret.x, caret.y);
    EndPaint(memo, &paint);
  }
  state.last_paint_ms = GetTickCount64();
  state.invalid = false;
  state.lines_shown = lines_shown;
  UpdateScrollBar(memo, state);
}

// The text or the selection changed: the view shows it at the next paint,
// which comes at once when the last one is a frame old.
void Changed(HWND memo, MemoState& state) {
  // Invalidating asks the window system; once until the paint is enough.
  if (!state.invalid) InvalidateRect(memo, nullptr, FALSE);
  state.invalid = true;
  if (GetTickCount64() - state.last_paint_ms >= kFrameMs) UpdateWindow(memo);
}

// ---- editing ----

void ReplaceSelection(HWND memo, MemoState& state, std::string_view bytes) {
  const auto [from, to] = Selection(state);
  Erase(state, from, to);
  state.caret = state.anchor = Insert(state, from, bytes);
  state.goal_x = -1;
  DropOldestLines(state);
  ShowCaretRow(memo, state);
}

void PutOnClipboard(HWND memo, const std::wstring& text) {
  if (!OpenClipboard(memo)) return;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (memory != nullptr) {
    auto* out = static_cast<wchar_t*>(GlobalLock(memory));
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = L'\0';
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

std::wstring ClipboardText(HWND memo) {
  std::wstring text;
  if (!OpenClipboard(memo)) return text;
  if (HANDLE memory = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(memory))) {
      text = chars;
      GlobalUnlock(memory);
    }
  }
  CloseClipboard();
  return text;
}

void Copy(HWND memo, MemoState& state) {
  if (!HasSelection(state)) return;
  const auto [from, to] = Selection(state);
  PutOnClipboard(memo, ShownText(state, from, to));
}

void Paste(HWND memo, MemoState& state) {
  const std::wstring text = ClipboardText(memo);
  if (!text.empty()) ReplaceSelection(memo, state, FromShown(text));
}

void SelectAll(HWND memo, MemoState& state) {
  state.anchor = TextPos{};
  state.caret = End(state);
  ShowCaretRow(memo, state);
}

// Moves the caret; with extend the anchor stays and the selection grows.
void MoveCaret(HWND memo, MemoState& state, TextPos to, bool extend, bool keep_goal = false) {
  state.caret = to;
  if (!extend) state.anchor = to;
  if (!keep_goal) state.goal_x = -1;
  ShowCaretRow(memo, state);
}

bool IsWordChar(char c) {
  return c != ' ' && c != '\t';
}

TextPos WordLeft(const MemoState& state, TextPos pos) {
  if (pos.col == 0)
    return pos.line > 0 ? TextPos{pos.line - 1, state.lines[pos.line - 1].size()} : pos;
  const std::string& text = state.lines[pos.line];
  while (pos.col > 0 && !IsWordChar(text[pos.col - 1])) --pos.col;
  while (pos.col > 0 && IsWordChar(text[pos.col - 1])) --pos.col;
  return pos;
}

TextPos WordRight(const MemoState& state, TextPos pos) {
  const std::string& text = state.lines[pos.line];
  if (pos.col == text.size())
    return pos.line + 1 < state.lines.size() ? TextPos{pos.line + 1, 0} : pos;
  while (pos.col < text.size() && IsWordChar(text[pos.col])) ++pos.col;
  while (pos.col < text.size() && !IsWordChar(text[pos.col])) ++pos.col;
  return pos;
}

// The caret rows rows up (negative) or down, keeping its x.
TextPos VerticalMove(HWND memo, MemoState& state, long rows) {
  Measure measure(memo, state);
  const std::wstring here = Shown(state.lines[state.caret.line]);
  const auto here_starts = RowStarts(measure.dc(), measure.width(), here);
  const std::size_t here_row = RowOf(here_starts, state.caret.col);
  if (state.goal_x < 0) {
    state.goal_x = XOf(measure.dc(), here, here_starts[here_row], state.caret.col);
  }
  const RowPos to = Advance(measure, state, RowPos{state.caret.line, here_row}, rows);
  const std::wstring text = Shown(state.lines[to.line]);
  const auto starts = RowStarts(measure.dc(), measure.width(), text);
  const bool last_row = to.row + 1 == starts.size();
  const std::size_t end = last_row ? text.size() : starts[to.row + 1];
  return TextPos{to.line,
                 ColumnAt(measure.dc(), text, starts[to.row], end, last_row, state.goal_x)};
}

// Home and End of the caret's row.
TextPos RowEdge(HWND memo, MemoState& state, bool end) {
  Measure measure(memo, state);
  const std::wstring text = Shown(state.lines[state.caret.line]);
  const auto starts = RowStarts(measure.dc(), measure.width(), text);
  const std::size_t row = RowOf(starts, state.caret.col);
  if (!end) return TextPos{state.caret.line, starts[row]};
  const bool last_row = row + 1 == starts.size();
  std::size_t col = last_row ? text.size() : starts[row + 1];
  if (!last_row && col > starts[row] && text[col - 1] == L' ') --col;
  return TextPos{state.caret.line, col};
}

int VisibleRows(HWND memo, const MemoState& state) {
  RECT area;
  GetClientRect(memo, &area);
  return std::max(1, static_cast<int>(area.bottom) / std::max(1, state.line_height));
}

void KeyDown(HWND memo, MemoState& state, WPARAM key) {
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool control = GetKeyState(VK_CONTROL) < 0;
  TextPos caret = state.caret;
  switch (key) {
    case VK_LEFT:
      if (control) {
        caret = WordLeft(state, caret);
      } else if (!shift && HasSelection(state)) {
        caret = Selection(state).first;
      } else if (caret.col > 0) {
        --caret.col;
      } else if (caret.line > 0) {
        caret = TextPos{caret.line - 1, state.lines[caret.line - 1].size()};
      }
      return MoveCaret(memo, state, caret, shift);
    case VK_RIGHT:
      if (control) {
        caret = WordRight(state, caret);
      } else if (!shift && HasSelection(state)) {
        caret = Selection(state).second;
      } else if (caret.col < state.lines[caret.line].size()) {
        ++caret.col;
      } else if (caret.line + 1 < state.lines.size()) {
        caret = TextPos{caret.line + 1, 0};
      }
      return MoveCaret(memo, state, caret, shift);
    case VK_UP:
    case VK_DOWN:
      if (control) return ScrollRows(memo, state, key == VK_UP ? -1 : 1);
      return MoveCaret(memo, state, VerticalMove(memo, state, key == VK_UP ? -1 : 1), shift, true);
    case VK_PRIOR:
    case VK_NEXT: {
      const long rows = VisibleRows(memo, state) * (key == VK_PRIOR ? -1 : 1);
      caret = VerticalMove(memo, state, rows);
      ScrollRows(memo, state, rows);
      return MoveCaret(memo, state, caret, shift, true);
    }
    case VK_HOME:
      return MoveCaret(memo, state, control ? TextPos{} : RowEdge(memo, state, false), shift);
    case VK_END:
      return MoveCaret(memo, state, control ? End(state) : RowEdge(memo, state, true), shift);
    case VK_DELETE:
      if (shift) {
        Copy(memo, state);
      } else if (!HasSelection(state)) {
        if (caret.col < state.lines[caret.line].size()) {
          state.anchor = TextPos{caret.line, caret.col + 1};
        } else if (caret.line + 1 < state.lines.size()) {
          state.anchor = TextPos{caret.line + 1, 0};
        }
      }
      return ReplaceSelection(memo, state, "");
    case VK_INSERT:
      if (control) return Copy(memo, state);
      if (shift) return Paste(memo, state);
      return;
    default:
      return;
  }
}

void Char(HWND memo, MemoState& state, wchar_t typed) {
  switch (typed) {
    case 0x01:  // Ctrl+A
      return SelectAll(memo, state);
    case 0x03:  // Ctrl+C
      return Copy(memo, state);
    case 0x16:  // Ctrl+V
      return Paste(memo, state);
    case 0x18:  // Ctrl+X
      Copy(memo, state);
      return ReplaceSelection(memo, state, "");
    case L'\b':
      if (!HasSelection(state)) {
        const TextPos caret = state.caret;
        if (caret.col > 0) {
          state.anchor = TextPos{caret.line, caret.col - 1};
        } else if (caret.line > 0) {
          state.anchor = TextPos{caret.line - 1, state.lines[caret.line - 1].size()};
        }
      }
      return ReplaceSelection(memo, state, "");
    case L'\r':
      return ReplaceSelection(memo, state, "\r\n");
    default:
      // Tab, Escape, Ctrl+Backspace and the other controls are no text.
      if (typed < 0x20 || typed == 0x7F) return;
      return ReplaceSelection(memo, state, FromShown(std::wstring_view(&typed, 1)));
  }
}

void ContextMenu(HWND memo, MemoState& state, LPARAM where) {
  POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  if (static_cast<DWORD>(where) == 0xFFFFFFFF) {  // from the keyboard: at the caret
    GetCaretPos(&at);
    ClientToScreen(memo, &at);
  }
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  const UINT selected = HasSelection(state) ? MF_ENABLED : MF_GRAYED;
  const UINT pasteable = IsClipboardFormatAvailable(CF_UNICODETEXT) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | selected, kCut, L"Вы&резать");
  AppendMenuW(menu, MF_STRING | selected, kCopy, L"&Копировать");
  AppendMenuW(menu, MF_STRING | pasteable, kPaste, L"Вст&авить");
  AppendMenuW(menu, MF_STRING | selected, kDelete, L"&Удалить");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (state.length > 0 ? MF_ENABLED : MF_GRAYED), kSelectAll,
              L"Выделить &все");
  SetFocus(memo);
  const UINT command = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, memo, nullptr));
  DestroyMenu(menu);
  switch (command) {
    case kCut:
      Copy(memo, state);
      return ReplaceSelection(memo, state, "");
    case kCopy:
      return Copy(memo, state);
    case kPaste:
      return Paste(memo, state);
    case kDelete:
      return ReplaceSelection(memo, state, "");
    case kSelectAll:
      return SelectAll(memo, state);
    default:
      return;
  }
}

void SetFont(HWND memo, MemoState& state, HFONT font) {
  state.font = font;
  Measure measure(memo, state);
  TEXTMETRICW metrics{};
  GetTextMetricsW(measure.dc(), &metrics);
  state.line_height = std::max(1, static_cast<int>(metrics.tmHeight));
  if (GetFocus() == memo) {
    DestroyCaret();
    CreateCaret(memo, nullptr, 1, state.line_height);
    ShowCaret(memo);
  }
}

void VerticalScroll(HWND memo, MemoState& state, WPARAM request) {
  switch (LOWORD(request)) {
    case SB_LINEUP:
      return ScrollRows(memo, state, -1);
    case SB_LINEDOWN:
      return ScrollRows(memo, state, 1);
    case SB_PAGEUP:
      return ScrollRows(memo, state, -VisibleRows(memo, state));
    case SB_PAGEDOWN:
      return ScrollRows(memo, state, VisibleRows(memo, state));
    case SB_TOP:
      return ScrollToLine(memo, state, 0);
    case SB_BOTTOM:
      return ScrollToLine(memo, state, state.lines.size() - 1);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO bar{};
      bar.cbSize = sizeof bar;
      bar.fMask = SIF_TRACKPOS;
      GetScrollInfo(memo, SB_VERT, &bar);
      return ScrollToLine(memo, state, static_cast<std::size_t>(std::max(bar.nTrackPos, 0)));
    }
    default:
      return;
  }
}

LRESULT CALLBACK HistoryProc(HWND memo, UINT message, WPARAM wparam, LPARAM lparam) {
  MemoState* found = StateOf(memo);
  if (found == nullptr) return DefWindowProcW(memo, message, wparam, lparam);
  MemoState& state = *found;
  switch (message) {
    case WM_PAINT:
      Paint(memo, state);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_SIZE:
      InvalidateRect(memo, nullptr, FALSE);
      return 0;
    case WM_SETFONT:
      SetFont(memo, state, reinterpret_cast<HFONT>(wparam));
      if (LOWORD(lparam) != 0) InvalidateRect(memo, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(state.font);
    case WM_GETDLGCODE: {
      // Enter splits a line rather than pressing a default button; Tab leaves.
      LRESULT code = DLGC_WANTCHARS | DLGC_WANTARROWS;
      auto* key = reinterpret_cast<MSG*>(lparam);
      if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
        code |= DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_SETFOCUS:
      CreateCaret(memo, nullptr, 1, state.line_height);
      ShowCaret(memo);
      InvalidateRect(memo, nullptr, FALSE);
      return 0;
    case WM_KILLFOCUS:
      DestroyCaret();
      state.dragging = false;
      return 0;
    case WM_KEYDOWN:
      KeyDown(memo, state, wparam);
      return 0;
    case WM_CHAR:
      Char(memo, state, static_cast<wchar_t>(wparam));
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(memo);
      SetCapture(memo);
      state.dragging = true;
      const TextPos at = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)),
                                    static_cast<short>(HIWORD(lparam)));
      MoveCaret(memo, state, at, (wparam & MK_SHIFT) != 0);
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      // Selects the word under the mouse.
      TextPos from = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)),
                                static_cast<short>(HIWORD(lparam)));
      TextPos to = from;
      const std::string& text = state.lines[from.line];
      while (from.col > 0 && IsWordChar(text[from.col - 1])) --from.col;
      while (to.col < text.size() && IsWordChar(text[to.col])) ++to.col;
      state.anchor = from;
      state.caret = to;
      state.goal_x = -1;
      ShowCaretRow(memo, state);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (state.dragging && GetCapture() == memo) {
        int y = static_cast<short>(HIWORD(lparam));
        RECT area;
        GetClientRect(memo, &area);
        // Dragging past the top or the bottom scrolls a row at a time.
        if (y < 0) ScrollRows(memo, state, -1);
        if (y >= area.bottom) ScrollRows(memo, state, 1);
        y = std::clamp(y, 0, std::max(0, static_cast<int>(area.bottom) - 1));
        state.caret = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)), y);
        state.goal_x = -1;
        InvalidateRect(memo, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      state.dragging = false;
      if (message == WM_LBUTTONUP && GetCapture() == memo) ReleaseCapture();
      return 0;
    case WM_MOUSEWHEEL: {
      UINT lines_per_notch = 3;
      SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines_per_notch, 0);
      if (lines_per_notch == WHEEL_PAGESCROLL) {
        lines_per_notch = static_cast<UINT>(VisibleRows(memo, state));
      }
      state.wheel_delta += GET_WHEEL_DELTA_WPARAM(wparam);
      const int notches = state.wheel_delta / WHEEL_DELTA;
      state.wheel_delta -= notches * WHEEL_DELTA;
      if (notches != 0) ScrollRows(memo, state, -notches * static_cast<long>(lines_per_notch));
      return 0;
    }
    case WM_VSCROLL:
      VerticalScroll(memo, state, wparam);
      return 0;
    case WM_TIMER:
      if (wparam != kBarTimer) break;
      KillTimer(memo, kBarTimer);
      state.bar_timer = false;
      UpdateScrollBar(memo, state);
      return 0;
    case WM_CONTEXTMENU:
      ContextMenu(memo, state, lparam);
      return 0;
    // As a system's edit answers, for whatever reads the window as one.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(state.length);
    case WM_GETTEXT: {
      if (wparam == 0 || lparam == 0) return 0;
      const std::wstring text = ShownText(state, TextPos{}, End(state));
      const std::size_t copied = std::min<std::size_t>(text.size(), wparam - 1);
      auto* out = reinterpret_cast<wchar_t*>(lparam);
      std::copy_n(text.begin(), copied, out);
      out[copied] = L'\0';
      return static_cast<LRESULT>(copied);
    }
    case WM_SETTEXT:
      ResetText(memo, state,
                lparam != 0 ? FromShown(reinterpret_cast<const wchar_t*>(lparam)) : "");
      InvalidateRect(memo, nullptr, FALSE);
      return TRUE;
    case EM_GETSEL: {
      const auto [from, to] = Selection(state);
      const std::size_t start = Offset(state, from), end = Offset(state, to);
      if (wparam != 0) *reinterpret_cast<DWORD*>(wparam) = static_cast<DWORD>(start);
      if (lparam != 0) *reinterpret_cast<DWORD*>(lparam) = static_cast<DWORD>(end);
      return MAKELRESULT(std::min<std::size_t>(start, 0xFFFF), std::min<std::size_t>(end, 0xFFFF));
    }
    case EM_SETSEL: {
      const auto offset = [&state](LPARAM value) {
        return value < 0 ? state.length : static_cast<std::size_t>(value);
      };
      state.anchor = PosAt(state, offset(static_cast<LPARAM>(static_cast<int>(wparam))));
      state.caret = PosAt(state, offset(static_cast<LPARAM>(static_cast<int>(lparam))));
      ShowCaretRow(memo, state);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(memo, message, wparam, lparam);
}

}  // namespace

namespace win32port {

void MemoStateDeleter::operator()(MemoState* state) const {
  delete state;
}

void CreateMemoState(WidgetData& data) {
  data.memo.reset(new MemoState);
}

const wchar_t* HistoryClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = HistoryProc;
    window_class.hInstance = Instance();
    window_class.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    window_class.lpszClassName = kHistoryClass;
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) throw EOutOfResources("Error creating window class");
  return kHistoryClass;
}

}  // namespace win32port

namespace port {

bool MemoEndsAtLineStart(NativeWidget memo) {
  return State(memo).lines.back().empty();
}

void MemoAddAtEnd(NativeWidget memo, std::string_view line, bool break_before, bool break_after) {
  MemoState& state = State(memo);
  if (break_before) Insert(state, End(state), "\r\n");
  Insert(state, End(state), line);
  if (break_after) Insert(state, End(state), "\r\n");
  state.caret = state.anchor = End(state);
  state.goal_x = -1;
  DropOldestLines(state);
  Changed(memo, state);
}

void MemoFlush(NativeWidget /*memo*/) {
  // Every line is in the view's lines as soon as it is added; nothing waits.
}

void MemoSetText(NativeWidget memo, std::string_view text) {
  MemoState& state = State(memo);
  ResetText(memo, state, text);
  Changed(memo, state);
}

std::string MemoText(NativeWidget memo) {
  const MemoState& state = State(memo);
  std::string text;
  text.reserve(state.length);
  for (std::size_t line = 0; line < state.lines.size(); ++line) {
    if (line > 0) text += "\r\n";
    text += state.lines[line];
  }
  return text;
}

int MemoBlockCount(NativeWidget memo) {
  return static_cast<int>(State(memo).lines.size());
}

std::string MemoLine(NativeWidget memo, int index) {
  const MemoState& state = State(memo);
  if (index < 0 || static_cast<std::size_t>(index) >= state.lines.size()) return std::string();
  return state.lines[static_cast<std::size_t>(index)];
}

int MemoSelStart(NativeWidget memo) {
  const MemoState& state = State(memo);
  return static_cast<int>(Offset(state, Selection(state).first));
}

int MemoSelLength(NativeWidget memo) {
  const MemoState& state = State(memo);
  const auto [from, to] = Selection(state);
  return static_cast<int>(Offset(state, to) - Offset(state, from));
}

void MemoSetMaxLines(NativeWidget memo, int lines) {
  MemoState& state = State(memo);
  state.max_lines = lines;
  DropOldestLines(state);
  Changed(memo, state);
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  // The history wraps its lines at the view's width, so a horizontal bar would
  // never have anything to scroll.
  MemoState& state = State(memo);
  state.vertical_bar = vertical;
  state.shown_bar = SCROLLINFO{};
  ShowScrollBar(memo, SB_VERT, vertical ? TRUE : FALSE);
  ShowScrollBar(memo, SB_HORZ, horizontal ? TRUE : FALSE);
  InvalidateRect(memo, nullptr, FALSE);
}

}  // namespace port
