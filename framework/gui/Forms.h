// Forms and the application object: the message loop, modal dialogs and the
// error display.
//
// There is one TApplication per process (the global Application). It owns
// every form made with MakeForm; the first one becomes the MainWindow, whose
// closing ends RunMessageLoop. PumpOneMessage handles what the toolkit has
// waiting, or runs the idle step: the calls that workers handed to the main
// thread, then a wait for the next event. A worker wakes that wait through
// PostWakeUp, installed as the main-thread wake hook; the wake-up is an event
// posted to a hidden object, so handed-over calls also run inside modal
// dialogs, message boxes and the font dialog.
//
// Every exception that escapes a handler reaches ReportError: an EAbort is
// dropped, another Exception is shown by ShowErrorBox with its message under
// AppTitle, anything else gets the "Application Error" box. The program goes
// on in every case.
//
// Main thread only, except PostWakeUp, which any thread may call.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/core/Threads.h"
#include "framework/gui/StdCtrls.h"

class QWidget;

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };

using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 1;
constexpr TBorderIcons biMinimize = 2;
constexpr TBorderIcons biMaximize = 4;

enum TPosition { poDesigned, poScreenCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseQueryEvent = std::function<void(TObject* sender, bool& can_close)>;
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;

class TCustomForm : public TWinControl {
 public:
  // Destroys the child controls, then the other owned components, the last
  // created first.
  ~TCustomForm() override;

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

  void SetOnShow(TNotifyEvent handler) { on_show_ = std::move(handler); }
  void SetOnHide(TNotifyEvent handler) { on_hide_ = std::move(handler); }
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

 protected:
  explicit TCustomForm(TComponent* owner);

  // A form's resource: creates a component owned by the form, names it, puts a
  // control into parent, and stores it in field, which DestroyContents clears.
  template <typename T>
  T* MakeField(T*& field, const char* name, TWinControl* parent = nullptr) {
    T* component = new T(this);
    field = component;
    field_resets_.push_back({component, [&field] { field = nullptr; }});
    component->SetName(name);
    if constexpr (std::is_base_of_v<TControl, T>) {
      component->SetParent(parent != nullptr ? parent : this);
    }
    return component;
  }

  void Loaded() override;

 private:
  struct FieldReset {
    TComponent* component;
    std::function<void()> reset;
  };
  void DestroyComponent(TComponent* component);
  void ApplyWindowFlags();
  void PlaceOnFirstShow();
  void ModalCloseAttempt();

  std::string caption_;
  TBorderStyle border_style_ = bsSizeable;
  TBorderIcons border_icons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDesigned;
  TModalResult modal_result_ = mrNone;
  bool modal_ = false;
  bool placed_ = false;
  TNotifyEvent on_show_;
  TNotifyEvent on_hide_;
  TCloseQueryEvent on_close_query_;
  TCloseEvent on_close_;
  std::vector<FieldReset> field_resets_;
};

class TForm : public TCustomForm {
 protected:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};

// Message box flags and results.
constexpr int MB_OK = 0x0;
constexpr int MB_OKCANCEL = 0x1;
constexpr int MB_ABORTRETRYIGNORE = 0x2;
constexpr int MB_YESNOCANCEL = 0x3;
constexpr int MB_YESNO = 0x4;
constexpr int MB_RETRYCANCEL = 0x5;
constexpr int MB_ICONSTOP = 0x10;
constexpr int MB_ICONERROR = 0x10;
constexpr int MB_ICONQUESTION = 0x20;
constexpr int MB_ICONWARNING = 0x30;
constexpr int MB_ICONINFORMATION = 0x40;
constexpr int MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class TApplication : public TComponent {
 public:
  // Creates the toolkit's application (argc and argv must outlive it), sets the
  // global Application and installs the wake-up hook.
  // REQUIRES: no other TApplication exists; called on the main thread.
  TApplication(int& argc, char** argv);
  // Destroys the forms, clears the wake-up hook and the global.
  ~TApplication() override;

  // Runs the registered start-up procedure; none is registered here.
  void InitApp();

  // Creates a form of class T owned by the application. reference points at
  // the form before its constructor runs and is cleared if it raises. The
  // first form becomes the MainWindow.
  template <typename T>
  void MakeForm(T*& reference) {
    void* memory = ::operator new(sizeof(T));
    reference = static_cast<T*>(memory);
    T* form;
    try {
      form = new (memory) T(this);
    } catch (...) {
      reference = nullptr;
      ::operator delete(memory);
      throw;
    }
    FormMade(form);
  }

  // Shows the MainWindow and handles events until QuitRequested; an exception
  // that escapes one step goes to ReportError. Returns at once without one.
  void RunMessageLoop();
  // Handles the events waiting, or, when none waits, runs the handed-over calls
  // and, if there were none, waits for the next event.
  void PumpOneMessage();
  // Asks the loops to end; QuitRequested is set when the request is handled.
  void Quit();
  bool QuitRequested() const { return quit_requested_; }

  // REQUIRES: called while error is being handled (inside a catch block), or
  // with the error to show.
  void ReportError(TObject* sender, std::exception_ptr error = std::current_exception());
  void ShowErrorBox(const Exception& error);
  int ShowAppMessageBox(const std::string& text, const std::string& caption, int flags);

  // Wakes the main thread's wait; any thread. Never blocks.
  void PostWakeUp(TThread* sender);

  const std::string& AppTitle() const { return title_; }
  TCustomForm* MainWindow() const { return main_window_; }

  // The exit step: destroys every form, the last created first.
  void DestroyForms();
  // Test support: destroys the forms and forgets the MainWindow and a quit.
  void ResetForTesting();

  // The toolkit side, for the framework's own code.
  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  friend class TCustomForm;
  void FormMade(TCustomForm* form);

  std::unique_ptr<Impl> impl_;
  std::string title_;
  TCustomForm* main_window_ = nullptr;
  bool quit_requested_ = false;
};

extern TApplication* Application;

// The error box's title for an executable at path: the file name without its
// directory, cut at its first ".", the first character upper case and the
// rest lower case. "TALKER.EXE" gives "Talker", "/usr/bin/kvelmar" "Kvelmar".
std::string TitleFromExePath(std::string_view path);

// A message as the error box shows it: with a full stop appended when the last
// byte is above "." (0x2E); an empty message stays empty.
std::string WithFullStop(std::string message);

// The text of the last-resort "Application Error" box for the error: class
// name, module file name, address relative to the module's base (8 upper-case
// hexadecimal digits) and, for an Exception, its message with the full stop.
std::string ApplicationErrorText(std::exception_ptr error);

// The runtime's frame around a program entry: creates the application object,
// runs entry, and ends with exit code 0. An exception that leaves entry is
// shown in the "Application Error" box (no owner, task-modal, error icon) and
// the exit code is 1. The forms are destroyed, the last created first, before
// this returns.
int ProgramMain(int argc, char** argv, const std::function<void()>& entry);
