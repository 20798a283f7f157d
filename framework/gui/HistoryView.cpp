#include "framework/gui/HistoryView.h"

#include <algorithm>
#include <cmath>

#include "framework/core/Ansi.h"

namespace {

// Lines added during a flood are painted at most this often, and at least
// this often even where a paint waits until the event queue is empty.
constexpr auto kFrame = std::chrono::milliseconds(16);
// How often the scroll bar is told during a flood.
constexpr auto kBarPeriod = std::chrono::milliseconds(200);
constexpr char16_t kShownCR = u'\u240D';
constexpr char16_t kShownLF = u'\u240A';

int Milliseconds(std::chrono::steady_clock::duration d) {
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(d).count());
}

}  // namespace

THistoryView::THistoryView(THistorySurface* surface) : surface_(surface) {}

// ---- shown text ----

namespace {

// How each byte shows.
const std::array<char16_t, 256>& ShownChars() {
  struct Table {
    std::array<char16_t, 256> chars{};
  };
  static const Table table = [] {
    Table made;
    std::string bytes(256, '\0');
    for (int b = 0; b < 256; ++b) bytes[static_cast<std::size_t>(b)] = static_cast<char>(b);
    const std::u16string shown = AnsiToUtf16(bytes);
    for (std::size_t b = 0; b < 256; ++b) made.chars[b] = b < shown.size() ? shown[b] : u'?';
    made.chars['\r'] = kShownCR;
    made.chars['\n'] = kShownLF;
    return made;
  }();
  return table.chars;
}

}  // namespace

char16_t THistoryView::ShownChar(unsigned char byte) {
  return ShownChars()[byte];
}

std::size_t THistoryView::ShownLength(TTextPos from, TTextPos to,
                                      std::u16string_view line_break) const {
  if (!(from < to)) return 0;
  return text_.Offset(to, line_break.size()) - text_.Offset(from, line_break.size());
}

void THistoryView::WriteShown(TTextPos from, TTextPos to, std::u16string_view line_break,
                              char16_t* out) const {
  if (!(from < to)) return;
  const std::array<char16_t, 256>& chars = ShownChars();
  std::size_t line = from.line;
  text_.ForEachLine(from.line, to.line, [&](std::string_view bytes) {
    const std::size_t start = line == from.line ? from.col : 0;
    const std::size_t end = line == to.line ? to.col : bytes.size();
    for (std::size_t i = start; i < end; ++i) *out++ = chars[static_cast<unsigned char>(bytes[i])];
    if (line != to.line) out = std::copy(line_break.begin(), line_break.end(), out);
    ++line;
  });
}

std::u16string THistoryView::Shown(TTextPos from, TTextPos to,
                                   std::u16string_view line_break) const {
  std::u16string shown(ShownLength(from, to, line_break), u'\0');
  WriteShown(from, to, line_break, shown.data());
  return shown;
}

std::string THistoryView::BytesFromShown(std::u16string_view text, bool lf_breaks) {
  text = text.substr(0, text.find(u'\0'));
  std::string bytes;
  bytes.reserve(text.size());
  std::size_t plain = 0;  // start of the characters not yet converted
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char16_t c = i < text.size() ? text[i] : u'\0';
    const bool lone_lf = c == u'\n' && !(i > 0 && text[i - 1] == u'\r');
    const bool special =
        c == kShownCR || c == kShownLF || (lone_lf && lf_breaks) || i == text.size();
    if (!special) continue;
    bytes += Utf16ToAnsi(text.substr(plain, i - plain));
    if (c == kShownCR) bytes += '\r';
    if (c == kShownLF) bytes += '\n';
    if (lone_lf && lf_breaks && i < text.size()) bytes += "\r\n";
    plain = i + 1;
  }
  return bytes;
}

// ---- layout ----

double THistoryView::TextWidth() const {
  return std::max(1.0, static_cast<double>(width_ - 2 * metrics_.margin));
}

double THistoryView::Advance(unsigned char byte, double x) const {
  if (byte == '\t' && metrics_.tab_width > 0) {
    return (std::floor(x / metrics_.tab_width) + 1) * metrics_.tab_width - x;
  }
  return metrics_.advances[byte];
}

// Word wrap as the system's edit does it: at the last space that fits
// (spaces may hang past the width), a word wider than the width broken where
// the width ends.
std::vector<std::size_t> THistoryView::RowStarts(std::string_view line) const {
  std::vector<std::size_t> starts{0};
  const double width = TextWidth();
  std::size_t start = 0;
  while (start < line.size()) {
    double x = 0;
    std::size_t next = start;
    for (; next < line.size(); ++next) {
      const double advance = Advance(static_cast<unsigned char>(line[next]), x);
      if (x + advance > width) break;
      x += advance;
    }
    if (next >= line.size()) break;
    const std::size_t fit = next - start;
    if (line[next] == ' ') {
      while (next < line.size() && line[next] == ' ') ++next;
    } else {
      std::size_t space = next;
      while (space > start && line[space - 1] != ' ') --space;
      next = space > start ? space : start + std::max<std::size_t>(fit, 1);
    }
    if (next >= line.size()) break;
    starts.push_back(next);
    start = next;
  }
  return starts;
}

std::size_t THistoryView::RowOf(const std::vector<std::size_t>& starts, std::size_t col) {
  return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), col) -
                                  starts.begin()) -
         1;
}

std::size_t THistoryView::RowCount(std::size_t line) const {
  return RowStarts(text_.Line(line)).size();
}

THistoryView::RowPos THistoryView::RowOfPos(TTextPos pos) const {
  return RowPos{pos.line, RowOf(RowStarts(text_.Line(pos.line)), pos.col)};
}

double THistoryView::XOf(std::string_view line, std::size_t start, std::size_t col) const {
  double x = 0;
  for (std::size_t i = start; i < col && i < line.size(); ++i) {
    x += Advance(static_cast<unsigned char>(line[i]), x);
  }
  return x;
}

std::size_t THistoryView::ColumnAt(std::string_view line, std::size_t start, std::size_t end,
                                   bool last_row, double x) const {
  std::size_t col = start;
  double left = 0;
  while (col < end) {
    const double advance = Advance(static_cast<unsigned char>(line[col]), left);
    if (x <= left + advance / 2) break;
    left += advance;
    ++col;
  }
  // The space a row wrapped at belongs to its end; the caret goes before it.
  if (!last_row && col == end && col > start && line[end - 1] == ' ') --col;
  return col;
}

// Moves by delta rows, stopping at the first and the last row.
THistoryView::RowPos THistoryView::Step(RowPos pos, long delta) const {
  while (delta > 0) {
    const std::size_t rows = RowCount(pos.line);
    const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(delta),
                                                   rows - 1 - std::min(pos.row, rows - 1));
    if (step > 0) {
      pos.row += step;
      delta -= static_cast<long>(step);
    } else if (pos.line + 1 < text_.LineCount()) {
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
      pos.row = RowCount(pos.line) - 1;
      ++delta;
    } else {
      break;
    }
  }
  return pos;
}

int THistoryView::VisibleRows() const {
  return std::max(1, (height_ - metrics_.top) / std::max(1, metrics_.row_height));
}

// The first row shown when the last row is at the bottom.
THistoryView::RowPos THistoryView::EndTop() const {
  const std::size_t last = text_.LineCount() - 1;
  return Step(RowPos{last, RowCount(last) - 1}, -(VisibleRows() - 1));
}

// Puts the view between the first row and the end; at the end it follows it.
void THistoryView::ClampTop() {
  if (top_.line >= text_.LineCount()) top_ = RowPos{text_.LineCount() - 1, 0};
  top_.row = std::min(top_.row, RowCount(top_.line) - 1);
  const RowPos end = EndTop();
  follows_end_ = !(top_ < end);
  if (follows_end_) top_ = end;
}

void THistoryView::ResolveTop() {
  if (follows_end_) {
    top_ = EndTop();
  } else {
    ClampTop();
  }
}

// Rows from a to b (a before b), counting no further than limit.
long THistoryView::RowsBetween(RowPos a, RowPos b, long limit) const {
  long rows = 0;
  while (a < b && rows < limit) {
    if (a.line == b.line) return rows + static_cast<long>(b.row - a.row);
    rows += static_cast<long>(RowCount(a.line) - a.row);
    a = RowPos{a.line + 1, 0};
  }
  return rows;
}

bool THistoryView::Place(TTextPos pos, int& y, double& x) {
  ResolveTop();
  pos = text_.Clamp(pos);
  const std::string_view line = text_.Line(pos.line);
  const auto starts = RowStarts(line);
  const RowPos row{pos.line, RowOf(starts, pos.col)};
  if (row < top_) return false;
  const long rows = RowsBetween(top_, row, VisibleRows() + 1);
  y = metrics_.top + static_cast<int>(rows) * metrics_.row_height;
  x = metrics_.margin + XOf(line, starts[row.row], pos.col);
  return true;
}

// ---- the memo's operations ----

void THistoryView::FollowDroppedLines() {
  const std::uint64_t gone = text_.DroppedLines() - dropped_seen_;
  dropped_seen_ = text_.DroppedLines();
  if (gone == 0) return;
  top_ = top_.line < gone ? RowPos{} : RowPos{top_.line - static_cast<std::size_t>(gone), top_.row};
}

void THistoryView::AddLine(std::string_view line) {
  text_.AddLine(line);
  FollowDroppedLines();
  goal_x_ = -1;
  Changed();
  surface_->CaretMoved();
}

void THistoryView::SetText(std::string_view bytes) {
  text_.Assign(bytes);
  dropped_seen_ = text_.DroppedLines();
  top_ = RowPos{};
  follows_end_ = false;
  goal_x_ = -1;
  ClampTop();
  Changed();
  surface_->CaretMoved();
}

void THistoryView::SetMaxLines(int lines) {
  text_.SetMaxLines(lines);
  FollowDroppedLines();
  Changed();
}

void THistoryView::Select(TTextPos anchor, TTextPos caret) {
  text_.Select(anchor, caret);
  goal_x_ = -1;
  ShowCaretRow();
  surface_->CaretMoved();
}

// ---- the port's ----

void THistoryView::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
  Changed();
}

void THistoryView::FontChanged() {
  metrics_ = surface_->MeasureFont();
  metrics_.row_height = std::max(1, metrics_.row_height);
  goal_x_ = -1;
  Changed();
}

// Asks for a repaint at once when the last one is a frame old, otherwise when
// the frame timer fires; once until the paint.
void THistoryView::Changed() {
  if (repaint_asked_) return;
  const Clock::duration since = Clock::now() - last_paint_;
  if (since >= kFrame) {
    repaint_asked_ = true;
    surface_->Repaint();
  } else if (!frame_timer_) {
    frame_timer_ = true;
    surface_->StartTimer(kFrameTimer, Milliseconds(kFrame - since));
  }
}

void THistoryView::TimerFired(int id) {
  if (id == kFrameTimer) {
    frame_timer_ = false;
    if (!repaint_asked_) {
      repaint_asked_ = true;
      surface_->Repaint();
    }
  } else if (id == kBarTimer) {
    bar_timer_ = false;
    UpdateScrollBar();
  }
}

void THistoryView::PaintRow(std::string_view line, std::size_t start, std::size_t end,
                            std::size_t selected_from, std::size_t selected_to, int y) {
  // Runs of the row: cut where the selection starts and ends and around tabs,
  // which advance to the next stop and draw nothing.
  const std::array<char16_t, 256>& chars = ShownChars();
  double x = 0;
  std::size_t from = start;
  while (from < end) {
    const bool selected = from >= selected_from && from < selected_to;
    const std::size_t cut = selected ? std::min(end, selected_to)
                                     : (from < selected_from ? std::min(end, selected_from) : end);
    if (line[from] == '\t') {
      const double advance = Advance('\t', x);
      if (selected) surface_->DrawRun(metrics_.margin + x, y, {}, advance, true);
      x += advance;
      ++from;
      continue;
    }
    std::size_t to = from;
    double width = 0;
    run_.clear();
    for (; to < cut && line[to] != '\t'; ++to) {
      width += Advance(static_cast<unsigned char>(line[to]), x + width);
      run_.push_back(chars[static_cast<unsigned char>(line[to])]);
    }
    surface_->DrawRun(metrics_.margin + x, y, run_, width, selected);
    x += width;
    from = to;
  }
}

void THistoryView::Paint(int top, int bottom) {
  FollowDroppedLines();
  ResolveTop();
  const auto [selected_from, selected_to] = text_.Selection();
  const TTextPos caret = text_.Caret();
  bool caret_shown = false;
  double caret_x = 0;
  int caret_y = 0;
  std::size_t lines_shown = 0;
  int y = metrics_.top;
  for (std::size_t line = top_.line; line < text_.LineCount() && y < height_; ++line) {
    ++lines_shown;
    const std::string_view bytes = text_.Line(line);
    const auto starts = RowStarts(bytes);
    // The selected columns of this line.
    std::size_t from = 0, to = 0;
    if (selected_from.line <= line && line <= selected_to.line) {
      from = line == selected_from.line ? selected_from.col : 0;
      to = line == selected_to.line ? selected_to.col : bytes.size();
    }
    for (std::size_t row = line == top_.line ? top_.row : 0; row < starts.size() && y < height_;
         ++row) {
      const std::size_t start = starts[row];
      const bool last_row = row + 1 == starts.size();
      const std::size_t end = last_row ? bytes.size() : starts[row + 1];
      if (y + metrics_.row_height > top && y < bottom) PaintRow(bytes, start, end, from, to, y);
      if (line == caret.line && caret.col >= start && (caret.col < end || last_row)) {
        caret_shown = true;
        caret_x = metrics_.margin + XOf(bytes, start, caret.col);
        caret_y = y;
      }
      y += metrics_.row_height;
    }
  }
  surface_->PlaceCaret(caret_shown, caret_x, caret_y);
  last_paint_ = Clock::now();
  repaint_asked_ = false;
  lines_shown_ = std::max<std::size_t>(lines_shown, 1);
  UpdateScrollBar();
}

void THistoryView::UpdateScrollBar() {
  const std::array<std::size_t, 3> bar{text_.LineCount() - 1, lines_shown_, top_.line};
  if (bar_told_ && bar == bar_shown_) return;
  const Clock::time_point now = Clock::now();
  if (bar_told_ && now - bar_told_at_ < kBarPeriod) {
    if (!bar_timer_) {
      bar_timer_ = true;
      surface_->StartTimer(kBarTimer, Milliseconds(kBarPeriod - (now - bar_told_at_)));
    }
    return;
  }
  bar_shown_ = bar;
  bar_told_ = true;
  bar_told_at_ = now;
  surface_->SetScrollBar(bar[0], bar[1], bar[2]);
}

// ---- scrolling and the caret ----

// The user scrolled: the scroll bar hears of it at the next paint, whenever
// it was last told (it may also have moved itself).
void THistoryView::ScrollRows(long rows) {
  bar_told_ = false;
  ResolveTop();
  top_ = Step(top_, rows);
  ClampTop();
  Changed();
}

void THistoryView::ScrollToLine(std::size_t line) {
  bar_told_ = false;
  top_ = RowPos{line, 0};
  ClampTop();
  Changed();
}

// Scrolls as little as shows the caret's row.
void THistoryView::ShowCaretRow() {
  ResolveTop();
  const RowPos caret = RowOfPos(text_.Caret());
  const long rows = VisibleRows();
  if (caret < top_) {
    top_ = caret;
  } else if (RowsBetween(top_, caret, rows) >= rows) {
    top_ = Step(caret, -(rows - 1));
  }
  ClampTop();
  Changed();
}

void THistoryView::MoveCaret(TTextPos to, bool extend, bool keep_goal) {
  text_.Select(extend ? text_.Anchor() : to, to);
  if (!keep_goal) goal_x_ = -1;
  ShowCaretRow();
  surface_->CaretMoved();
}

void THistoryView::Replace(std::string_view bytes) {
  text_.ReplaceSelection(bytes);
  FollowDroppedLines();
  goal_x_ = -1;
  ShowCaretRow();
  surface_->CaretMoved();
}

// The caret rows rows up (negative) or down, keeping its x.
TTextPos THistoryView::VerticalMove(long rows) {
  const TTextPos caret = text_.Caret();
  const std::string_view here = text_.Line(caret.line);
  const auto here_starts = RowStarts(here);
  const std::size_t here_row = RowOf(here_starts, caret.col);
  if (goal_x_ < 0) goal_x_ = XOf(here, here_starts[here_row], caret.col);
  const RowPos to = Step(RowPos{caret.line, here_row}, rows);
  const std::string_view line = text_.Line(to.line);
  const auto starts = RowStarts(line);
  const bool last_row = to.row + 1 == starts.size();
  const std::size_t end = last_row ? line.size() : starts[to.row + 1];
  return TTextPos{to.line, ColumnAt(line, starts[to.row], end, last_row, goal_x_)};
}

// Home and End of the caret's row.
TTextPos THistoryView::RowEdge(bool end) {
  const TTextPos caret = text_.Caret();
  const std::string_view line = text_.Line(caret.line);
  const auto starts = RowStarts(line);
  const std::size_t row = RowOf(starts, caret.col);
  if (!end) return TTextPos{caret.line, starts[row]};
  const bool last_row = row + 1 == starts.size();
  std::size_t col = last_row ? line.size() : starts[row + 1];
  if (!last_row && col > starts[row] && line[col - 1] == ' ') --col;
  return TTextPos{caret.line, col};
}

// ---- the user's ----

void THistoryView::KeyDown(Key key, bool shift, bool control) {
  TTextPos caret = text_.Caret();
  switch (key) {
    case Key::Left:
      if (control) {
        caret = text_.WordLeft(caret);
      } else if (!shift && text_.HasSelection()) {
        caret = text_.Selection().first;
      } else if (caret.col > 0) {
        --caret.col;
      } else if (caret.line > 0) {
        caret = TTextPos{caret.line - 1, text_.Line(caret.line - 1).size()};
      }
      return MoveCaret(caret, shift);
    case Key::Right:
      if (control) {
        caret = text_.WordRight(caret);
      } else if (!shift && text_.HasSelection()) {
        caret = text_.Selection().second;
      } else if (caret.col < text_.Line(caret.line).size()) {
        ++caret.col;
      } else if (caret.line + 1 < text_.LineCount()) {
        caret = TTextPos{caret.line + 1, 0};
      }
      return MoveCaret(caret, shift);
    case Key::Up:
    case Key::Down:
      if (control) return ScrollRows(key == Key::Up ? -1 : 1);
      return MoveCaret(VerticalMove(key == Key::Up ? -1 : 1), shift, /*keep_goal=*/true);
    case Key::PageUp:
    case Key::PageDown: {
      const long rows = VisibleRows() * (key == Key::PageUp ? -1 : 1);
      caret = VerticalMove(rows);
      ScrollRows(rows);
      return MoveCaret(caret, shift, /*keep_goal=*/true);
    }
    case Key::Home:
      return MoveCaret(control ? TTextPos{} : RowEdge(false), shift);
    case Key::End:
      return MoveCaret(control ? text_.End() : RowEdge(true), shift);
    case Key::Delete:
      if (!text_.HasSelection()) {
        if (caret.col < text_.Line(caret.line).size()) {
          text_.Select(TTextPos{caret.line, caret.col + 1}, caret);
        } else if (caret.line + 1 < text_.LineCount()) {
          text_.Select(TTextPos{caret.line + 1, 0}, caret);
        }
      }
      return Replace({});
    case Key::Backspace:
      if (!text_.HasSelection()) {
        if (caret.col > 0) {
          text_.Select(TTextPos{caret.line, caret.col - 1}, caret);
        } else if (caret.line > 0) {
          text_.Select(TTextPos{caret.line - 1, text_.Line(caret.line - 1).size()}, caret);
        }
      }
      return Replace({});
    case Key::Enter:
      return Replace("\r\n");
  }
}

void THistoryView::Type(std::u16string_view typed) {
  std::u16string text;
  for (char16_t c : typed) {
    // Tab, Escape, Ctrl+Backspace and the other controls are no text.
    if (c >= 0x20 && c != 0x7F) text.push_back(c);
  }
  if (!text.empty()) Replace(BytesFromShown(text, /*lf_breaks=*/false));
}

void THistoryView::Copy() {
  if (!text_.HasSelection()) return;
  const std::pair<TTextPos, TTextPos> selected = text_.Selection();
  const std::u16string_view line_break = surface_->LineBreak();
  surface_->SetClipboardText(
      ShownLength(selected.first, selected.second, line_break),
      [&](char16_t* out) { WriteShown(selected.first, selected.second, line_break, out); });
}

void THistoryView::Cut() {
  if (!text_.HasSelection()) return;
  Copy();
  Replace({});
}

void THistoryView::Paste() {
  const std::u16string text = surface_->ClipboardText();
  if (!text.empty()) PasteText(text);
}

void THistoryView::PasteText(std::u16string_view text) {
  Replace(BytesFromShown(text, surface_->LineBreak() == u"\n"));
}

void THistoryView::DeleteSelection() {
  if (text_.HasSelection()) Replace({});
}

void THistoryView::SelectAll() {
  text_.Select(TTextPos{}, text_.End());
  goal_x_ = -1;
  ShowCaretRow();
  surface_->CaretMoved();
}

TTextPos THistoryView::PosAtPoint(int x, int y) {
  ResolveTop();
  const int from_top = y - metrics_.top;
  const long row =
      from_top < 0 ? -1 - (-from_top - 1) / metrics_.row_height : from_top / metrics_.row_height;
  const RowPos at = Step(top_, row);
  const std::string_view line = text_.Line(at.line);
  const auto starts = RowStarts(line);
  const std::size_t index = std::min(at.row, starts.size() - 1);
  const bool last_row = index + 1 == starts.size();
  const std::size_t end = last_row ? line.size() : starts[index + 1];
  return TTextPos{at.line, ColumnAt(line, starts[index], end, last_row, x - metrics_.margin)};
}

void THistoryView::MouseDown(int x, int y, bool extend) {
  dragging_ = true;
  MoveCaret(PosAtPoint(x, y), extend);
}

void THistoryView::MouseMove(int x, int y) {
  if (!dragging_) return;
  if (y < 0) ScrollRows(-1);
  if (y >= height_) ScrollRows(1);
  y = std::clamp(y, 0, std::max(0, height_ - 1));
  text_.Select(text_.Anchor(), PosAtPoint(x, y));
  goal_x_ = -1;
  Changed();
  surface_->CaretMoved();
}

void THistoryView::MouseUp() {
  dragging_ = false;
}

void THistoryView::DoubleClick(int x, int y) {
  TTextPos from = PosAtPoint(x, y);
  TTextPos to = from;
  const std::string_view line = text_.Line(from.line);
  while (from.col > 0 && THistoryText::IsWordChar(line[from.col - 1])) --from.col;
  while (to.col < line.size() && THistoryText::IsWordChar(line[to.col])) ++to.col;
  text_.Select(from, to);
  goal_x_ = -1;
  ShowCaretRow();
  surface_->CaretMoved();
}

void THistoryView::Wheel(int delta, int rows_per_notch) {
  wheel_delta_ += delta;
  const int notches = wheel_delta_ / 120;
  wheel_delta_ -= notches * 120;
  if (notches != 0) ScrollRows(-static_cast<long>(notches) * rows_per_notch);
}

// ---- for input methods and assistive tools ----

THistoryView::Box THistoryView::CharBox(TTextPos pos) {
  pos = text_.Clamp(pos);
  Box box;
  box.height = metrics_.row_height;
  if (!Place(pos, box.y, box.x)) box.y = -metrics_.row_height;
  const std::string_view line = text_.Line(pos.line);
  if (pos.col < line.size()) {
    box.width = Advance(static_cast<unsigned char>(line[pos.col]), box.x - metrics_.margin);
  }
  return box;
}

THistoryView::Box THistoryView::CaretBox() {
  Box box = CharBox(text_.Caret());
  box.width = 1;
  return box;
}
