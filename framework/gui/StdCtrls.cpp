#include "framework/gui/StdCtrls.h"

#include <limits>
#include <new>

// ---- TPanel ----

TPanel::TPanel(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, port::WidgetKind::Panel, parent) {
  SetBevelOuter(bvRaised);
}

void TPanel::SetBevelOuter(TBevelCut bevel) {
  bevel_outer_ = bevel;
  if (Widget() != nullptr) port::SetPanelBevel(Widget(), bevel == bvRaised, bevel == bvLowered);
}

// ---- TLabel ----

TLabel::TLabel(TComponent* owner, TWinControl* parent)
    : TControl(owner, port::WidgetKind::Label, parent) {}

void TLabel::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (Widget() != nullptr) port::SetText(Widget(), caption_);
  FitToCaption();
}

void TLabel::ApplyFont() {
  TControl::ApplyFont();
  FitToCaption();
}

void TLabel::FitToCaption() {
  if (Widget() == nullptr) return;
  port::Rect size = port::NaturalSize(Widget());
  SetBounds(Left(), Top(), size.width, size.height);
}

// ---- TEdit ----

TEdit::TEdit(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, port::WidgetKind::Edit, parent) {
  SetTabStop(true);
  SetColor(clWindow);
}

std::string TEdit::Text() const {
  return Widget() != nullptr ? port::Text(Widget()) : std::string();
}

void TEdit::SetText(const std::string& text) {
  // The text reaches the control as a zero-terminated string.
  if (Widget() != nullptr)
    port::SetText(Widget(), std::string_view(text).substr(0, text.find('\0')));
}

void TEdit::SelectAll() {
  if (Widget() != nullptr) port::SelectAll(Widget());
}

void TEdit::WidgetKeyUp(std::uint16_t key, TShiftState shift) {
  if (on_key_up_) on_key_up_(this, key, shift);
}

void TEdit::WidgetKeyPress(char& key) {
  if (on_key_press_) on_key_press_(this, key);
}

// ---- TListBox ----

int TListBoxItems::Count() const {
  return list_->Widget() != nullptr ? port::ListCount(list_->Widget()) : 0;
}

std::string TListBoxItems::Strings(int index) const {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return port::ListItem(list_->Widget(), index);
}

int TListBoxItems::Add(const std::string& text) {
  if (list_->Widget() == nullptr || Count() >= list_->capacity_) {
    throw EOutOfResources("Unable to insert a line");
  }
  try {
    port::ListAdd(list_->Widget(), text);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources("Unable to insert a line");
  }
  return Count() - 1;
}

void TListBoxItems::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  port::ListDelete(list_->Widget(), index);
}

TListBox::TListBox(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, port::WidgetKind::ListBox, parent),
      capacity_(std::numeric_limits<int>::max() - 1) {
  port::ListSetItemHeight(Widget(), item_height_);
  SetTabStop(true);
  SetColor(clWindow);
}

int TListBox::ItemIndex() const {
  return Widget() != nullptr ? port::ListSelected(Widget()) : -1;
}

void TListBox::SetItemIndex(int index) {
  if (Widget() == nullptr) return;
  port::ListSelect(Widget(), index >= 0 && index < items_.Count() ? index : -1);
}

void TListBox::SetItemHeight(int pixels) {
  item_height_ = pixels > 0 ? pixels : 1;
  if (Widget() != nullptr) port::ListSetItemHeight(Widget(), item_height_);
}

// ---- TButton ----

TButton::TButton(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, port::WidgetKind::Button, parent) {
  SetTabStop(true);
}

void TButton::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (Widget() != nullptr) port::SetText(Widget(), caption_);
}

void TButton::Click() {
  if (TWinControl* window = TopWindow()) window->TakeModalResult(modal_result_);
  if (on_click_) on_click_(this);
}
