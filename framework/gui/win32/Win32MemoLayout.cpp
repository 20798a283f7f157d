// The history view's rows, scrolling and painting: a line shows wrapped at the
// window's width, and only the lines in view are laid out. The position of the
// view is a line and a row in it; the scroll bar counts lines, so that no line
// outside the view is ever measured (the bar is exact in lines, approximate in
// rows).
#include <array>
#include <climits>

#include "framework/gui/win32/Win32Memo_p.h"

namespace win32port {
namespace {

// Lines added during a flood are painted at least this often, even when the
// message queue never runs empty (WM_PAINT waits for that).
constexpr ULONGLONG kFrameMs = 16;
// Telling the scroll bar costs milliseconds under Wine (it repaints the bar
// through the X server at once); during a flood it is told this often.
constexpr ULONGLONG kBarMs = 200;
constexpr wchar_t kShownCR = L'\u240D';
constexpr wchar_t kShownLF = L'\u240A';

// How each byte shows on screen.
const std::array<wchar_t, 256>& ShownChars() {
  static const std::array<wchar_t, 256> table = [] {
    std::array<wchar_t, 256> chars{};
    std::string bytes(256, '\0');
    for (int byte = 0; byte < 256; ++byte) bytes[byte] = static_cast<char>(byte);
    std::wstring wide = ToWide(bytes);
    for (int byte = 0; byte < 256; ++byte) {
      chars[byte] = static_cast<std::size_t>(byte) < wide.size() ? wide[byte] : L'?';
    }
    chars['\r'] = kShownCR;
    chars['\n'] = kShownLF;
    return chars;
  }();
  return table;
}

}  // namespace

std::wstring Shown(std::string_view bytes) {
  const auto& chars = ShownChars();
  std::wstring out(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    out[i] = chars[static_cast<unsigned char>(bytes[i])];
  return out;
}

std::string FromShown(std::wstring_view shown) {
  std::wstring text(shown);
  for (wchar_t& c : text) {
    if (c == kShownCR) c = L'\r';
    if (c == kShownLF) c = L'\n';
  }
  return FromWide(text);
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

std::size_t RowOf(const std::vector<std::size_t>& starts, std::size_t col) {
  return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), col) -
                                  starts.begin()) -
         1;
}

namespace {

std::vector<std::size_t> LineRows(const Measure& measure, const MemoState& state,
                                  std::size_t line) {
  return RowStarts(measure.dc(), measure.width(), Shown(state.lines[line]));
}

std::size_t RowCount(const Measure& measure, const MemoState& state, std::size_t line) {
  return LineRows(measure, state, line).size();
}

RowPos RowOfPos(const Measure& measure, const MemoState& state, TextPos pos) {
  return RowPos{pos.line, RowOf(LineRows(measure, state, pos.line), pos.col)};
}

}  // namespace

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

namespace {

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

}  // namespace

void KeepLineLimit(MemoState& state) {
  const std::size_t gone = DropOldestLines(state);
  if (gone == 0) return;
  state.top = state.top.line < gone ? RowPos{} : RowPos{state.top.line - gone, state.top.row};
}

void ResetText(HWND memo, MemoState& state, std::string_view bytes) {
  state.lines.assign(1, std::string());
  state.length = 0;
  state.caret = state.anchor = TextPos{};
  Insert(state, TextPos{}, bytes);
  KeepLineLimit(state);
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
  WidgetData& data = *DataOf(memo);
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
    const COLORREF text_color = ToColorRef(data.text_color);
    const COLORREF background = ToColorRef(data.background);
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

void Changed(HWND memo, MemoState& state) {
  // Invalidating asks the window system; once until the paint is enough.
  if (!state.invalid) InvalidateRect(memo, nullptr, FALSE);
  state.invalid = true;
  if (GetTickCount64() - state.last_paint_ms >= kFrameMs) UpdateWindow(memo);
}

}  // namespace win32port
