// The port: everything the window framework needs of a window toolkit, and
// nothing more. framework/gui/qt implements it on Qt 6; a Win32 port implements
// the same functions; the build links exactly one. The framework's classes
// (controls, forms, the application object) hold the rules; the port only
// makes native widgets do what it is told and reports the user's actions back.
//
// Text crosses the port as 8-bit Windows-1251; the port converts at its edge.
// Sizes and positions are pixels, relative to the parent's client area; a
// window is placed on the screen by its frame (FrameRect, MoveFrame). They
// are pixels at 96 DPI, the design's units, whatever the display's density:
// the port converts at its edge, and what it reads back (Bounds, FrameRect,
// ScreenArea, NaturalSize) is in the same units, so the framework's layout
// works in units only. Qt does it through its device-independent pixels; the
// Win32 port by each window's DPI (framework/gui/win32/Win32Port_p.h).
//
// Main thread only, except PostWakeUp.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "framework/gui/Graphics.h"

class THistoryView;

// The toolkit's widget (a QWidget, an HWND): opaque to the framework.
#if defined(_WIN32)
struct HWND__;
using NativeWidget = HWND__*;
#else
class QWidget;
using NativeWidget = QWidget*;
#endif

// Modifier keys held during a key event.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;

// What a native widget reports to the object that made it. The port calls these
// on the main thread inside its catch-all, which hands an escaping exception to
// the hook installed with SetEntryErrorHook.
class TWidgetClient {
 public:
  // The object named as the sender when an entry fails.
  virtual TObject* ClientObject() = 0;
  // A button was clicked (mouse, Space, or Enter while it has the focus).
  virtual void WidgetClicked() {}
  // One typed character of an edit, before the edit takes it: set key to 0 to
  // swallow it, or to another character to replace it.
  virtual void WidgetKeyPress(char& /*key*/) {}
  // A key was let go in an edit (never an auto-repeat); key is its virtual key.
  virtual void WidgetKeyUp(std::uint16_t /*key*/, TShiftState /*shift*/) {}
  // The user asked a window to close (close box, system menu, Alt+F4).
  virtual void WidgetCloseRequested() {}
  // A release posted with PostRelease has arrived; the client may delete itself.
  virtual void WidgetReleased() {}
  // The window manager has framed a window (see WatchFraming).
  virtual void WidgetFramed() {}
  // A window became the active window (active), or stopped being it.
  virtual void WidgetActivated(bool /*active*/) {}
  // The toolkit destroyed the widget along with its parent; it is gone.
  virtual void WidgetDestroyed() {}

 protected:
  ~TWidgetClient() = default;
};

// Message box flags and results (RunMessageBox), as the Windows API numbers
// them.
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

namespace port {

enum class WidgetKind { Window, Panel, Label, Edit, Memo, ListBox, Button };
enum class WindowFrame { None, Fixed, Sizeable, Dialog };
struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// ---- the toolkit and its event loop ----
void StartToolkit(int& argc, char** argv, const std::string& app_title);
void StopToolkit();  // REQUIRES: every widget destroyed
// The program is ending: from now on destroying a widget only parts it from its
// client, and the platform's windows are left to the process's end, which
// takes them down in one step. (Under Wine each window taken down on its own,
// and above all hiding a shown one, costs round trips to the Wine server, the
// X server and the window manager: tens of milliseconds, hundreds while a
// flood keeps the machine busy.) A port whose widgets cost nothing to destroy
// may go on destroying them. REQUIRES: no widget is made or used afterwards.
void LeaveWidgetsToProcessEnd();
// Handles events that wait, at least one and never one that arrived while it
// ran, so that a stream of events cannot keep the caller from its own checks
// (the quit flag, a dialog's result); true when one was handled.
bool ProcessWaitingEvents();
// Sleeps until an event arrives (a wake-up or a quit included) and handles it.
void WaitForEvents();
// Posts a wake-up (any thread, never blocks); on arrival the port calls on_wake.
void PostWakeUp();
// Posts a quit request; on arrival the port calls on_quit.
void PostQuit();
void SetLoopHooks(std::function<void()> on_wake, std::function<void()> on_quit);
// From now on the port answers the platform's requests to end the program,
// which it otherwise leaves to the platform's default. A request that lets the
// program finish its loops (a termination signal; the desktop session ending)
// ends the message box or font dialog that the port runs, makes every later one
// return at once as if cancelled, and calls on_quit, so that the modal loops
// and the message loop end and the program takes its normal exit steps. Where
// the platform gives no way back to the loops (the display is gone; the session
// ends at WM_ENDSESSION), the port does the same and then calls end_now, which
// takes the exit steps itself and ends the process; it does not return.
// REQUIRES: called once, by the program's frame; end_now never returns.
void WatchEndRequests(std::function<void()> end_now);
void SetEntryErrorHook(std::function<void(TObject* sender, std::exception_ptr)> hook);
Rect ScreenArea();
std::string ExecutablePath();  // the running program's file
// The first character upper case, the rest lower case, in Windows-1251.
std::string TitleCase(std::string_view text);

// ---- every widget ----
// parent: the widget it is about to be put into (SetParent), when known: a
// port whose moves between parents cost much makes it there. A window (a
// top-level widget) takes none.
NativeWidget CreateWidget(WidgetKind kind, TWidgetClient* client, NativeWidget parent);
void DestroyWidget(NativeWidget widget);
void SetParent(NativeWidget widget, NativeWidget parent);  // none: top-level
void SetBounds(NativeWidget widget, int left, int top, int width, int height);
Rect Bounds(NativeWidget widget);
Rect NaturalSize(NativeWidget widget);  // what a label's text needs
void SetVisible(NativeWidget widget, bool visible);
void SetEnabled(NativeWidget widget, bool enabled);
void SetFont(NativeWidget widget, const TFont& font);  // face, size, style, text colour
void SetBackground(NativeWidget widget, TColor color);
void SetText(NativeWidget widget, std::string_view text);  // caption, or an edit's text
std::string Text(NativeWidget widget);
void SetAccessibleName(NativeWidget widget, std::string_view name);
std::string AccessibleName(NativeWidget widget);
void SetAccessibleDescription(NativeWidget widget, std::string_view description);
void SetTabStop(NativeWidget widget, bool tab_stop);
void SetTabOrder(NativeWidget before, NativeWidget after);
// by_handler: as a program gives the focus; otherwise as the Tab key does.
void SetFocus(NativeWidget widget, bool by_handler);
// The client of the focused widget: of the program (window none) or the one
// that window gives the focus to when it is active.
TWidgetClient* FocusedClient(NativeWidget window);

// ---- kinds ----
void SetPanelBevel(NativeWidget panel, bool raised, bool lowered);
void SelectAll(NativeWidget edit);
int ListCount(NativeWidget list);
std::string ListItem(NativeWidget list, int index);
void ListAdd(NativeWidget list, std::string_view text);  // throws std::bad_alloc when full
void ListDelete(NativeWidget list, int index);
int ListSelected(NativeWidget list);            // -1 for none
void ListSelect(NativeWidget list, int index);  // -1: none
void ListSetItemHeight(NativeWidget list, int pixels);
// The memo's widget shows a history of its own, which it draws and edits
// (HistoryView.h); the memo reaches its text through it.
THistoryView* MemoView(NativeWidget memo);
void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal);

// ---- windows ----
// Creates the platform's window now, still hidden.
void RealizeWindow(NativeWidget window);
void SetWindowFrame(NativeWidget window, WindowFrame frame, bool system_menu, bool minimize,
                    bool maximize, int client_width, int client_height);
Rect FrameRect(NativeWidget window);  // the window with its frame, on the screen
void MoveFrame(NativeWidget window, int left, int top);
// Reports WidgetFramed once, when the window manager has framed the window.
void WatchFraming(NativeWidget window);
void ShowWindow(NativeWidget window);  // shows, raises and activates
// Asks the user to look at a window that is not active, the platform's way (a
// flashing taskbar button, the window manager's urgency hint), until the user
// activates it. Each call is a request to the platform, so the caller asks
// once, not per event.
void RequestAttention(NativeWidget window);
// While modal the window stays above owner and the others take no input.
void BeginModal(NativeWidget window, NativeWidget owner);
void EndModal(NativeWidget window);
void ReleaseMouse();
void PostRelease(NativeWidget window);

// The active window and the focus, as they were; Restore skips what is gone.
class SavedFocus {
 public:
  SavedFocus();
  ~SavedFocus();
  void Restore();
  NativeWidget Active() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// ---- standard dialogs ----
// A message box owned by owner (none: no owner); returns the button's IDOK...
int RunMessageBox(NativeWidget owner, std::string_view text, std::string_view caption, int flags);
struct FontChoice {
  std::string name;
  int points = 0;  // 0: unchanged
  TFontStyles style = 0;
  TFontCharset charset = DEFAULT_CHARSET;
  TColor color = clWindowText;
  bool face_changed = false, script_changed = false, color_changed = false;
};
// Runs the font chooser starting from start; false when the user cancelled.
bool RunFontDialog(const TFont& start, FontChoice& choice);

}  // namespace port
