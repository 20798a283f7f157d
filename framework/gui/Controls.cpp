#include "framework/gui/Controls.h"

#include <QApplication>
#include <QPalette>
#include <QVariant>
#include <algorithm>
#include <exception>

#include "framework/gui/Forms.h"
#include "framework/gui/QtBridge_p.h"

namespace {

constexpr char kControlProperty[] = "kvControl";

// Temporarily set while a parent places its aligned children, so that their
// new bounds do not start another alignment of the same parent.
struct AlignScope {
  explicit AlignScope(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~AlignScope() { flag_ = previous_; }
  bool& flag_;
  bool previous_;
};

}  // namespace

// ---- the Qt boundary ----

QColor ToQColor(TColor color) {
  if (IsSystemColor(color)) {
    QPalette palette = QApplication::palette();
    switch (color) {
      case clWindow:
        return palette.color(QPalette::Active, QPalette::Base);
      case clWindowText:
        return palette.color(QPalette::Active, QPalette::Text);
      case clBtnText:
        return palette.color(QPalette::Active, QPalette::ButtonText);
      case clBtnFace:
      default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor FromQColor(const QColor& color) {
  return RGBColor(color.red(), color.green(), color.blue());
}

QFont ToQFont(const TFont& font) {
  QFont result(ToQString(font.Name()));
  result.setPixelSize(font.Height() > 0 ? font.Height() : 1);
  result.setBold((font.Style() & fsBold) != 0);
  result.setItalic((font.Style() & fsItalic) != 0);
  result.setUnderline((font.Style() & fsUnderline) != 0);
  result.setStrikeOut((font.Style() & fsStrikeOut) != 0);
  return result;
}

TControl* ControlOf(const QObject* object) {
  for (; object != nullptr; object = object->parent()) {
    QVariant link = object->property(kControlProperty);
    if (link.isValid()) return reinterpret_cast<TControl*>(link.value<quintptr>());
    // A window's inner parts belong to it, not to the widget that owns it.
    if (object->isWidgetType() && static_cast<const QWidget*>(object)->isWindow()) break;
  }
  return nullptr;
}

void LinkWidget(QWidget* widget, TControl* control) {
  widget->setProperty(kControlProperty, QVariant::fromValue(reinterpret_cast<quintptr>(control)));
}

void UnlinkWidget(QWidget* widget) {
  widget->setProperty(kControlProperty, QVariant());
}

bool RunGuarded(TObject* sender, const std::function<void()>& entry) {
  try {
    entry();
    return true;
  } catch (...) {
    if (Application != nullptr) Application->ReportError(sender, std::current_exception());
    return false;
  }
}

// ---- TControl ----

TControl::TControl(TComponent* owner, QWidget* widget) : TComponent(owner), widget_(widget) {
  LinkWidget(widget_, this);
  QObject::connect(widget_, &QObject::destroyed, [this] { widget_ = nullptr; });
  font_.SetOnChange([this] { FontChanged(); });
  width_ = widget_->width();
  height_ = widget_->height();
}

TControl::~TControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
  QWidget* widget = widget_;
  if (widget != nullptr) {
    UnlinkWidget(widget);
    widget->disconnect();
    widget_ = nullptr;
    delete widget;
  }
}

std::string TControl::AccessibleName() const {
  return widget_ != nullptr ? FromQString(widget_->accessibleName()) : std::string();
}

void TControl::SetAccessibleName(const std::string& name) {
  if (widget_ != nullptr) widget_->setAccessibleName(ToQString(name));
}

void TControl::SetAccessibleDescription(const std::string& description) {
  if (widget_ != nullptr) widget_->setAccessibleDescription(ToQString(description));
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = nullptr;
  if (widget_ != nullptr) widget_->setParent(parent != nullptr ? parent->widget_ : nullptr);
  if (parent != nullptr) {
    parent->InsertControl(this);
    if (parent_font_) InheritFont(parent->font_);
    if (widget_ != nullptr) {
      widget_->setGeometry(left_, top_, width_, height_);
      widget_->setVisible(visible_);
    }
    if (align_ != alNone) parent->AlignControls();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (widget_ != nullptr) {
    if (parent_ != nullptr) {
      widget_->setGeometry(left, top, width, height);
    }
  }
  BoundsChanged();
  if (resized) {
    if (auto* self = dynamic_cast<TWinControl*>(this)) self->AlignControls();
  }
  if (parent_ != nullptr && align_ != alNone) parent_->AlignControls();
}

void TControl::TakeWidgetGeometry() {
  if (widget_ == nullptr) return;
  SetBounds(left_, top_, widget_->width(), widget_->height());
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->AlignControls();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (widget_ != nullptr && parent_ != nullptr) widget_->setVisible(visible);
  if (parent_ != nullptr && align_ != alNone) parent_->AlignControls();
}

void TControl::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (widget_ != nullptr) widget_->setEnabled(enabled);
}

void TControl::SetParentFont(bool value) {
  parent_font_ = value;
  if (value && parent_ != nullptr) InheritFont(parent_->font_);
}

void TControl::SetColor(TColor color) {
  color_ = color;
  ApplyColor();
}

void TControl::ApplyFont() {
  if (widget_ == nullptr) return;
  widget_->setFont(ToQFont(font_));
  QPalette palette = widget_->palette();
  QColor color = ToQColor(font_.Color());
  palette.setColor(QPalette::Text, color);
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::ButtonText,
                   font_.Color() == clWindowText ? ToQColor(clBtnText) : color);
  widget_->setPalette(palette);
}

void TControl::ApplyColor() {}

void TControl::FontChanged() {
  if (!inheriting_font_) parent_font_ = false;
  ApplyFont();
  if (auto* self = dynamic_cast<TWinControl*>(this)) {
    for (TControl* child : self->controls_) {
      if (child->parent_font_) child->InheritFont(font_);
    }
  }
}

void TControl::InheritFont(const TFont& font) {
  bool previous = inheriting_font_;
  inheriting_font_ = true;
  try {
    font_.Assign(&font);
  } catch (...) {
    inheriting_font_ = previous;
    throw;
  }
  inheriting_font_ = previous;
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner, QWidget* widget) : TControl(owner, widget) {}

TWinControl::~TWinControl() {
  while (!controls_.empty()) delete controls_.back();
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

void TWinControl::SetTabOrder(int order) {
  tab_order_ = order;
  if (TCustomForm* form = GetParentForm(this)) {
    if (!form->IsLoading()) form->UpdateTabOrder();
  }
}

void TWinControl::SetTabStop(bool value) {
  tab_stop_ = value;
  if (Widget() != nullptr && Widget()->focusPolicy() != Qt::NoFocus) {
    Widget()->setFocusPolicy(value ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

bool TWinControl::CanFocus() const {
  const TControl* control = this;
  const TControl* top = this;
  for (; control != nullptr; control = control->Parent()) {
    if (!control->Visible() || !control->Enabled()) return false;
    top = control;
  }
  return dynamic_cast<const TCustomForm*>(top) != nullptr;
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  if (Widget() == nullptr) return;
  Widget()->setFocus(Qt::OtherFocusReason);
  FocusedByHandler();
}

bool TWinControl::Focused() const {
  if (Widget() == nullptr) return false;
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr && (focus == Widget() || Widget()->isAncestorOf(focus)) &&
         ControlOf(focus) == this;
}

void TWinControl::AlignControls() {
  if (aligning_) return;
  AlignScope scope(aligning_);
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

TCustomForm* GetParentForm(TControl* control) {
  TControl* top = control;
  while (top != nullptr && top->Parent() != nullptr) top = top->Parent();
  return dynamic_cast<TCustomForm*>(top);
}
