// Forms: the windows of the program, their close protocol and their modal
// loop.
//
// A form is a top-level windowed control. Its resource is its constructor,
// which makes its controls with MakeField while the form is loading. Closing a
// form (close box, system menu, Alt+F4, CloseForm) asks OnCloseQuery and
// OnClose; closing the application's MainWindow ends the program's loop.
// RunModal shows a form as a modal dialog: the other windows take no input,
// the application's loop keeps running (handed-over calls included), and the
// loop ends when a button or a close sets a modal result.
//
// Forms reach the application object only through TFormHost, which the
// application installs (Application.h).
//
// Main thread only.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/gui/Controls.h"
#include "framework/gui/Memo.h"
#include "framework/gui/StdCtrls.h"

class TCustomForm;

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };

using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 1;
constexpr TBorderIcons biMinimize = 2;
constexpr TBorderIcons biMaximize = 4;

enum TPosition { poDesigned, poScreenCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseQueryEvent = std::function<void(TObject* sender, bool& can_close)>;
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;

// What forms need of the application object.
class TFormHost {
 public:
  virtual TCustomForm* MainWindow() const = 0;
  virtual void Quit() = 0;
  virtual void PumpOneMessage() = 0;
  virtual bool QuitRequested() const = 0;
  virtual void ReportError(TObject* sender, std::exception_ptr error) = 0;
  // The form is being destroyed; it is no longer the MainWindow.
  virtual void FormDestroyed(TCustomForm* form) = 0;

 protected:
  ~TFormHost() = default;
};

class TCustomForm : public TWinControl {
 public:
  // Destroys the child controls, then the other owned components, the last
  // created first.
  ~TCustomForm() override;

  // The application object installs itself (none: forms work without it, as
  // in tests of single controls).
  static void SetHost(TFormHost* host);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  // The client area's size; with a fixed border the user cannot change it.
  int ClientWidth() const { return Width(); }
  int ClientHeight() const { return Height(); }
  void SetClientSize(int width, int height);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);
  TBorderIcons BorderIcons() const { return border_icons_; }
  void SetBorderIcons(TBorderIcons icons);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }

  // The frame's position on the screen (the window with its border).
  int FrameLeft() const;
  int FrameTop() const;

  // Showing raises OnShow before the window appears and gives the focus to the
  // active control, or to the first control in tab order that can take it.
  void SetVisible(bool visible) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

  // The control that has, or will get when the form is active, the focus.
  TWinControl* ActiveControl() const;

  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result) { modal_result_ = result; }
  bool IsModal() const { return modal_; }

  // Shows the form as a modal dialog and returns its modal result. Raises
  // EInvalidOperation "Cannot make a visible window modal" when the form is
  // visible, disabled or already modal.
  TModalResult RunModal();
  // Closes the form as its close box does.
  void CloseForm();
  // Destroys the form once the current event has been handled.
  void Release();

  // Asks the user to look at the form when it is shown and not the active
  // window (its taskbar button flashes, or the window manager marks it
  // urgent). One request stands until the user activates the form: asking
  // again before that asks the platform nothing, so a stream of events costs
  // one request, and the next one after an activation asks anew.
  void RequestAttention();

  void SetOnShow(TNotifyEvent handler) { on_show_ = std::move(handler); }
  void SetOnCloseQuery(TCloseQueryEvent handler) { on_close_query_ = std::move(handler); }
  void SetOnClose(TCloseEvent handler) { on_close_ = std::move(handler); }

  // Destroys the controls and components while the whole form object still
  // exists, so their ends may still reach the form's handlers; clears the
  // fields made with MakeField. The application's exit step calls it before
  // the form is deleted. Safe to call twice.
  void DestroyContents();

  // The tab order across the form: each parent's children by TabOrder, depth
  // first. Taken up when loading ends and when the form is shown.
  void UpdateTabOrder();
  std::vector<TWinControl*> TabList();

  bool IsWindow() const override { return true; }
  void TabOrderChanged() override { UpdateTabOrder(); }
  void TakeModalResult(TModalResult result) override { modal_result_ = result; }

 protected:
  explicit TCustomForm(TComponent* owner);

  // A form's resource: creates a component owned by the form, names it, puts a
  // control into parent (made there, see TControl's constructor), and stores
  // it in field, which DestroyContents clears.
  template <typename T>
  T* MakeField(T*& field, const char* name, TWinControl* parent = nullptr) {
    T* component = nullptr;
    if constexpr (std::is_base_of_v<TControl, T>) {
      if (parent == nullptr) parent = this;
      component = new T(this, parent);
    } else {
      component = new T(this);
    }
    field = component;
    field_resets_.push_back({component, [&field] { field = nullptr; }});
    component->SetName(name);
    if constexpr (std::is_base_of_v<TControl, T>) component->SetParent(parent);
    return component;
  }

  void Loaded() override;

  void WidgetCloseRequested() override { CloseForm(); }
  void WidgetReleased() override;
  void WidgetFramed() override;
  void WidgetActivated(bool active) override;

 private:
  struct FieldReset {
    TComponent* component;
    std::function<void()> reset;
  };
  void DestroyComponent(TComponent* component);
  void ApplyWindowFlags();
  void PlaceOnFirstShow();
  void CentreOnScreen();
  // OnCloseQuery, then OnClose with caHide: the action the close takes, caNone
  // when it is refused.
  TCloseAction AskClose();
  void ModalCloseAttempt();

  std::string caption_;
  TBorderStyle border_style_ = bsSizeable;
  TBorderIcons border_icons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDesigned;
  TModalResult modal_result_ = mrNone;
  bool modal_ = false;
  bool placed_ = false;
  bool recentre_when_framed_ = false;
  bool active_ = false;
  bool attention_requested_ = false;  // since the form was last activated
  TNotifyEvent on_show_;
  TCloseQueryEvent on_close_query_;
  TCloseEvent on_close_;
  std::vector<FieldReset> field_resets_;
};

class TForm : public TCustomForm {
 protected:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};
