// The base of every control of a window: position, size, alignment, font,
// visibility, parent and children, tab order and focus.
//
// A control owns one toolkit widget and keeps it in step with its properties;
// positions and sizes are pixels relative to the parent's client area. A
// windowed control (TWinControl) holds child controls; destroying it destroys
// its children first, the last added first. Every event that reaches a control
// from the toolkit runs inside a catch-all that passes an escaping exception to
// the application's ReportError, so no exception crosses the toolkit.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/core/Classes.h"
#include "framework/gui/Graphics.h"

class QWidget;
class TWinControl;
class TCustomForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Modifier keys held during a key event.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;

// Virtual key codes of the keys the program may look at.
constexpr std::uint16_t VK_BACK = 0x08;
constexpr std::uint16_t VK_TAB = 0x09;
constexpr std::uint16_t VK_RETURN = 0x0D;
constexpr std::uint16_t VK_SHIFT = 0x10;
constexpr std::uint16_t VK_CONTROL = 0x11;
constexpr std::uint16_t VK_MENU = 0x12;
constexpr std::uint16_t VK_ESCAPE = 0x1B;
constexpr std::uint16_t VK_SPACE = 0x20;
constexpr std::uint16_t VK_LEFT = 0x25;
constexpr std::uint16_t VK_UP = 0x26;
constexpr std::uint16_t VK_RIGHT = 0x27;
constexpr std::uint16_t VK_DOWN = 0x28;
constexpr std::uint16_t VK_DELETE = 0x2E;

using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyEvent = std::function<void(TObject* sender, std::uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;

class TControl : public TComponent {
 public:
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  // Moves the control into parent (none: out of every parent). The control
  // takes the parent's font while ParentFont is set.
  void SetParent(TWinControl* parent);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
  void SetTop(int top) { SetBounds(left_, top, width_, height_); }
  void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
  void SetHeight(int height) { SetBounds(left_, top_, width_, height); }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // The control's own font, or its parent's while ParentFont is set. Changing
  // the font clears ParentFont.
  TFont* Font() { return &font_; }
  bool ParentFont() const { return parent_font_; }
  void SetParentFont(bool value);

  TColor Color() const { return color_; }
  void SetColor(TColor color);

  // What a screen reader says for the control (8-bit text), and a longer
  // description of what it does. Controls with a caption are named by it.
  std::string AccessibleName() const;
  void SetAccessibleName(const std::string& name);
  void SetAccessibleDescription(const std::string& description);

  // The toolkit widget that shows the control (for the framework and tests).
  QWidget* Widget() const { return widget_; }

 protected:
  // Takes ownership of widget.
  TControl(TComponent* owner, QWidget* widget);

  // Applies the font to the widget; controls with inner parts extend it.
  virtual void ApplyFont();
  virtual void ApplyColor();
  virtual void BoundsChanged() {}

  // The toolkit may have moved or resized the widget itself (a label that fits
  // its caption); this takes the new geometry into the properties.
  void TakeWidgetGeometry();

 private:
  friend class TWinControl;
  void FontChanged();
  void InheritFont(const TFont& font);

  QWidget* widget_;
  TWinControl* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TFont font_;
  bool parent_font_ = true;
  bool inheriting_font_ = false;
  TColor color_ = clBtnFace;
};

class TWinControl : public TControl {
 public:
  // Destroys the child controls first, the last added first.
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<std::size_t>(index)); }

  // Position among the siblings when the focus moves with Tab; -1 for a control
  // that takes no part.
  int TabOrder() const { return tab_order_; }
  void SetTabOrder(int order);
  bool TabStop() const { return tab_stop_; }
  void SetTabStop(bool value);

  // True when the control and every parent up to its form are visible and
  // enabled.
  bool CanFocus() const;
  // Gives the keyboard focus to the control. Raises EInvalidOperation "Cannot
  // focus a disabled or invisible window" when CanFocus is false.
  void SetFocus();
  bool Focused() const;

  // Places the children with an alignment into the client area: top, bottom,
  // left and right ones along the edges in that order, then the client one in
  // what is left.
  void AlignControls();

 protected:
  TWinControl(TComponent* owner, QWidget* widget);

  // Called when the control receives the focus from a handler (SetFocus).
  virtual void FocusedByHandler() {}

 private:
  friend class TControl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  std::vector<TControl*> controls_;
  int tab_order_ = -1;
  bool tab_stop_ = false;
  bool aligning_ = false;
};

// The form that contains a control (its topmost parent), or none.
TCustomForm* GetParentForm(TControl* control);
