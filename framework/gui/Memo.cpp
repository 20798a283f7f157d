#include "framework/gui/Memo.h"

#include "framework/gui/HistoryView.h"

int TMemoLines::Count() const {
  const THistoryView* view = memo_->View();
  return view != nullptr ? static_cast<int>(view->Text().CountedLines()) : 0;
}

std::string TMemoLines::Strings(int index) const {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return std::string(memo_->View()->Text().Line(static_cast<std::size_t>(index)));
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

THistoryView* TMemo::View() const {
  return Widget() != nullptr ? port::MemoView(Widget()) : nullptr;
}

void TMemo::SetMaxLines(int lines) {
  max_lines_ = lines;
  if (THistoryView* view = View()) view->SetMaxLines(lines);
}

std::string TMemo::Text() const {
  const THistoryView* view = View();
  return view != nullptr ? view->Text().Text() : std::string();
}

void TMemo::SetText(const std::string& text) {
  if (THistoryView* view = View()) view->SetText(std::string_view(text).substr(0, text.find('\0')));
}

void TMemo::AddLine(const std::string& line) {
  if (THistoryView* view = View()) view->AddLine(line);
}

void TMemo::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  if (Widget() == nullptr) return;
  port::MemoSetScrollBars(Widget(), style == ssVertical || style == ssBoth,
                          style == ssHorizontal || style == ssBoth);
}

int TMemo::SelStart() const {
  const THistoryView* view = View();
  return view != nullptr ? static_cast<int>(view->Text().Offset(view->Text().Selection().first))
                         : 0;
}

int TMemo::SelLength() const {
  const THistoryView* view = View();
  if (view == nullptr) return 0;
  const auto [from, to] = view->Text().Selection();
  return static_cast<int>(view->Text().Offset(to) - view->Text().Offset(from));
}
