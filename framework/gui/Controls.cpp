#include "framework/gui/Controls.h"

#include <algorithm>
#include <utility>

#include "framework/core/ScopeGuard.h"

// ---- TControl ----

TControl::TControl(TComponent* owner, port::WidgetKind kind, TWinControl* parent)
    : TComponent(owner),
      widget_(port::CreateWidget(kind, this, parent != nullptr ? parent->widget_ : nullptr)) {
  font_.SetOnChange([this] { FontChanged(); });
  port::Rect size = port::Bounds(widget_);
  width_ = size.width;
  height_ = size.height;
}

TControl::~TControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (widget_ != nullptr) port::DestroyWidget(std::exchange(widget_, nullptr));
}

std::string TControl::AccessibleName() const {
  return widget_ != nullptr ? port::AccessibleName(widget_) : std::string();
}

void TControl::SetAccessibleName(const std::string& name) {
  if (widget_ != nullptr) port::SetAccessibleName(widget_, name);
}

void TControl::SetAccessibleDescription(const std::string& description) {
  if (widget_ != nullptr) port::SetAccessibleDescription(widget_, description);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = nullptr;
  if (widget_ != nullptr) port::SetParent(widget_, parent != nullptr ? parent->widget_ : nullptr);
  if (parent != nullptr) {
    parent->InsertControl(this);
    if (parent_font_) InheritFont(parent->font_);
    if (widget_ != nullptr) {
      port::SetBounds(widget_, left_, top_, width_, height_);
      port::SetVisible(widget_, visible_);
    }
    if (align_ != alNone) parent->AlignControls();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (widget_ != nullptr && parent_ != nullptr) port::SetBounds(widget_, left, top, width, height);
  if (resized) Resized();
  if (parent_ != nullptr && align_ != alNone) parent_->AlignControls();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->AlignControls();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (widget_ != nullptr && parent_ != nullptr) port::SetVisible(widget_, visible);
  if (parent_ != nullptr && align_ != alNone) parent_->AlignControls();
}

void TControl::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (widget_ != nullptr) port::SetEnabled(widget_, enabled);
}

void TControl::SetParentFont(bool value) {
  parent_font_ = value;
  if (value && parent_ != nullptr) InheritFont(parent_->font_);
}

void TControl::SetColor(TColor color) {
  color_ = color;
  if (widget_ != nullptr && ColorIsBackground()) port::SetBackground(widget_, color);
}

void TControl::ApplyFont() {
  if (widget_ != nullptr) port::SetFont(widget_, font_);
}

void TControl::FontChanged() {
  if (!inheriting_font_) parent_font_ = false;
  ApplyFont();
}

void TControl::InheritFont(const TFont& font) {
  auto inheriting = ScopedValue(inheriting_font_, true);
  font_.Assign(&font);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner, port::WidgetKind kind, TWinControl* parent)
    : TControl(owner, kind, parent) {}

TWinControl::~TWinControl() {
  while (!controls_.empty()) delete controls_.back();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* child : controls_) {
    if (child->parent_font_) child->InheritFont(*Font());
  }
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  control->parent_ = this;
  if (auto* win = dynamic_cast<TWinControl*>(control)) {
    if (win->tab_order_ < 0) {
      int siblings = 0;
      for (TControl* other : controls_) {
        if (other != control && dynamic_cast<TWinControl*>(other) != nullptr) ++siblings;
      }
      win->tab_order_ = siblings;
    }
  }
}

void TWinControl::RemoveControl(TControl* control) {
  auto it = std::find(controls_.begin(), controls_.end(), control);
  if (it != controls_.end()) controls_.erase(it);
  control->parent_ = nullptr;
}

TWinControl* TWinControl::TopWindow() {
  TWinControl* top = this;
  while (top->Parent() != nullptr) top = top->Parent();
  return top->IsWindow() ? top : nullptr;
}

void TWinControl::SetTabOrder(int order) {
  tab_order_ = order;
  if (TWinControl* window = TopWindow()) {
    if (!window->IsLoading()) window->TabOrderChanged();
  }
}

void TWinControl::SetTabStop(bool value) {
  tab_stop_ = value;
  if (Widget() != nullptr) port::SetTabStop(Widget(), value);
}

bool TWinControl::CanFocus() const {
  const TControl* top = this;
  for (const TControl* control = this; control != nullptr; control = control->Parent()) {
    if (!control->Visible() || !control->Enabled()) return false;
    top = control;
  }
  const auto* window = dynamic_cast<const TWinControl*>(top);
  return window != nullptr && window->IsWindow();
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  if (Widget() == nullptr) return;
  port::SetFocus(Widget(), /*by_handler=*/true);
  FocusedByHandler();
}

bool TWinControl::Focused() const {
  return Widget() != nullptr && port::FocusedClient(nullptr) == this;
}

void TWinControl::AlignControls() {
  if (aligning_) return;
  // Set while the children are placed, so that their new bounds do not start
  // another alignment of this parent.
  auto aligning = ScopedValue(aligning_, true);
  int left = 0;
  int top = 0;
  int right = Width();
  int bottom = Height();
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* control : controls_) {
      if (control->Align() != pass || !control->Visible()) continue;
      int width = control->Width();
      int height = control->Height();
      switch (pass) {
        case alTop:
          control->SetBounds(left, top, right - left, height);
          top += height;
          break;
        case alBottom:
          control->SetBounds(left, bottom - height, right - left, height);
          bottom -= height;
          break;
        case alLeft:
          control->SetBounds(left, top, width, bottom - top);
          left += width;
          break;
        case alRight:
          control->SetBounds(right - width, top, width, bottom - top);
          right -= width;
          break;
        case alClient:
          control->SetBounds(left, top, right - left, bottom - top);
          break;
        case alNone:
          break;
      }
    }
  }
}
