#include "framework/gui/Memo.h"

#include <string_view>

int TMemoLines::Count() const {
  if (memo_->Widget() == nullptr) return 0;
  // A final line break leaves an empty last block, which is no line.
  int blocks = port::MemoBlockCount(memo_->Widget());
  return port::MemoEndsAtLineStart(memo_->Widget()) ? blocks - 1 : blocks;
}

std::string TMemoLines::Strings(int index) const {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return port::MemoLine(memo_->Widget(), index);
}

void TMemoLines::Add(const std::string& line) {
  memo_->AddLine(line);
}

TMemo::TMemo(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, port::WidgetKind::Memo, parent) {
  SetTabStop(true);
  SetColor(clWindow);
  SetMaxLines(kDefaultMaxLines);
}

void TMemo::SetMaxLines(int lines) {
  max_lines_ = lines;
  if (Widget() != nullptr) port::MemoSetMaxLines(Widget(), lines);
}

std::string TMemo::Text() const {
  return Widget() != nullptr ? port::MemoText(Widget()) : std::string();
}

void TMemo::SetText(const std::string& text) {
  if (Widget() != nullptr)
    port::MemoSetText(Widget(), std::string_view(text).substr(0, text.find('\0')));
}

void TMemo::AddLine(const std::string& line) {
  if (Widget() == nullptr) return;
  const std::size_t zero = line.find('\0');
  const std::string_view shown = std::string_view(line).substr(0, zero);
  // Empty, or ending with a line break: the last line is empty. Looking at the
  // end only keeps the cost independent of the history's length.
  const bool at_line_start = port::MemoEndsAtLineStart(Widget());
  port::MemoAddAtEnd(Widget(), shown, /*break_before=*/!at_line_start,
                     /*break_after=*/at_line_start && zero == std::string::npos);
}

void TMemo::Flush() {
  if (Widget() != nullptr) port::MemoFlush(Widget());
}

void TMemo::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  if (Widget() == nullptr) return;
  port::MemoSetScrollBars(Widget(), style == ssVertical || style == ssBoth,
                          style == ssHorizontal || style == ssBoth);
}

int TMemo::SelStart() const {
  return Widget() != nullptr ? port::MemoSelStart(Widget()) : 0;
}

int TMemo::SelLength() const {
  return Widget() != nullptr ? port::MemoSelLength(Widget()) : 0;
}
