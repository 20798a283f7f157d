// The base of every control of a window: position, size, alignment, font,
// visibility, parent and children, tab order and focus.
//
// A control owns one native widget of the port (GuiPort.h) and keeps it in
// step with its properties; positions and sizes are pixels relative to the
// parent's client area. A windowed control (TWinControl) holds child controls;
// destroying it destroys its children first, the last added first. The port
// reports the user's actions straight to the control that made the widget,
// inside a catch-all that passes an escaping exception to the application's
// ReportError, so no exception crosses the toolkit.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/core/Classes.h"
#include "framework/gui/Graphics.h"
#include "framework/gui/GuiPort.h"

class TWinControl;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Virtual key codes that handlers compare with.
constexpr std::uint16_t VK_RETURN = 0x0D;
constexpr std::uint16_t VK_SHIFT = 0x10;

// The result of a modal dialog: 0 none, 1 OK, 2 Cancel.
using TModalResult = std::int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;

using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyEvent = std::function<void(TObject* sender, std::uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;

class TControl : public TComponent, public TWidgetClient {
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

  // The native widget that shows the control (for the framework and tests).
  NativeWidget Widget() const { return widget_; }

 protected:
  // A control made with a parent is made in it: the port makes its native
  // widget there, rather than elsewhere and then moved in, which costs a port
  // whose moves go through the window system (Win32: the window manager's
  // work, and under Wine round trips to its server). The caller puts the
  // control there with SetParent(parent) right after, as the form's
  // MakeField does; until then the framework does not count it as a child.
  TControl(TComponent* owner, port::WidgetKind kind, TWinControl* parent = nullptr);

  // Applies the font to the widget; controls that size to their text extend it.
  virtual void ApplyFont();
  // Edits, lists and the memo show their colour as the background of the text.
  virtual bool ColorIsBackground() const { return false; }
  // After a change of size; a windowed control places its children again.
  virtual void Resized() {}
  // After the font changed; a windowed control hands it to its children.
  virtual void FontChanged();

  TObject* ClientObject() override { return this; }
  void WidgetDestroyed() override { widget_ = nullptr; }

 private:
  friend class TWinControl;
  void InheritFont(const TFont& font);

  NativeWidget widget_;
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

  // True when the control and every parent up to its window are visible and
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

  // The window that contains the control (its topmost parent when that is a
  // window), or none.
  TWinControl* TopWindow();

  // Hooks that a window (a form) answers, so that controls reach their window
  // without knowing its class.
  virtual bool IsWindow() const { return false; }
  // A control inside changed its place in the tab order.
  virtual void TabOrderChanged() {}
  // A button inside was clicked; its ModalResult goes to the window.
  virtual void TakeModalResult(TModalResult /*result*/) {}

 protected:
  TWinControl(TComponent* owner, port::WidgetKind kind, TWinControl* parent = nullptr);

  // Called when the control receives the focus from a handler (SetFocus).
  virtual void FocusedByHandler() {}
  void Resized() override { AlignControls(); }
  void FontChanged() override;

 private:
  friend class TControl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  std::vector<TControl*> controls_;
  int tab_order_ = -1;
  bool tab_stop_ = false;
  bool aligning_ = false;
};
