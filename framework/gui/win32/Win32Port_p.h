// What the Win32 port's files share: text and colour conversion, scaling, the
// data each native window carries, the catch-all around every entry from the
// system into framework code, and the application window. Included only by
// framework/gui/win32/*.cpp.
//
// Scaling. The framework places, sizes and measures everything in 96-DPI
// units, the design's pixels (GuiPort.h); the system works in the display's
// pixels. The two meet here and nowhere else: every form is laid out for one
// DPI, its monitor's (DpiOf), which it follows through WM_DPICHANGED; each
// widget keeps what the framework set in units (WidgetData: its bounds, its
// font, a list's item height, a form's client size) and the port's operations
// turn that into pixels at its form's DPI, and what they read back into units.
// So the framework reads back exactly what it set, at every DPI, and a change
// of DPI lays the window out again from the same units.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/Ansi.h"
#include "framework/gui/GuiPort.h"

// The system's headers after the framework's: they define as macros some names
// that the framework declares as constants (MB_OK, IDOK, ANSI_CHARSET), with
// the same values. The system's MulDiv (C linkage) would clash with the
// framework's own, which the port uses.
// clang-format off
#define MulDiv SystemMulDiv
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#undef MulDiv
// clang-format on

namespace win32port {

// Windows-1251 bytes to UTF-16 and back; every byte survives the trip.
std::wstring ToWide(std::string_view ansi);
std::string FromWide(std::wstring_view text);

// A colour as the system shows it; system colours follow the system's palette.
COLORREF ToColorRef(TColor color);

// ---- scaling (see the top of this file; Win32Scaling.cpp) ----

// The DPI that window is laid out for: its form's; for a window outside the
// port's forms, the DPI the system gives it (GetDpiForWindow where the system
// has it, Windows 10 and later; else the screen's LOGPIXELSY); for none, the
// system's.
int DpiOf(HWND window);
// Units to pixels and back at a DPI, rounded to the nearest.
int ToPixels(int units, int dpi);
int ToUnits(int pixels, int dpi);
// The system's font for a framework font on a display of dpi: the one place
// where every control's font is made (the history's too, which takes it with
// WM_SETFONT).
HFONT MakeFont(const TFont& font, int dpi);
// The frame that holds a client area of width x height pixels with the
// window's styles, at dpi.
SIZE FrameSize(HWND window, int client_width, int client_height, int dpi);
// The DPI a new form is laid out for: the one the system gives it.
int InitialDpi(HWND form);
// A control put where its bounds in units say; a widget given its font, and a
// list its item height, made for its form's DPI.
void PlaceControl(HWND control);
void ApplyFont(HWND widget);
// Has what the window shows drawn again. A hidden window is drawn whole when
// it is shown, so it needs nothing (and under Wine, no round trip).
void Repaint(HWND window);
void ApplyItemHeight(HWND list);
// All three again, for a control and every control inside it.
void LayOutAgain(HWND control);
// Lays a form out for dpi: every control's bounds and font from their units,
// then the form's size; placed at suggested's top left corner when given.
void LayOutForDpi(HWND form, int dpi, const RECT* suggested);
// Lays a form out again if the system now gives it another DPI than the one
// it is laid out for (its monitor's DPI changed, or it was moved to another
// monitor while hidden); done before it shows.
void SyncDpi(HWND form);
// Gives the system the frame that a hidden form's border and client size ask
// for, if it has not had it yet. A hidden form's frame waits until the form
// is shown or measured: a form's resource sets its size, border and border
// icons one by one, and each new frame costs the system the window manager's
// work (under Wine tens of round trips to its server), for a window that
// nobody sees.
void ApplyFrame(HWND form);

// Messages of the port's own windows.
constexpr UINT kQuitMessage = WM_APP + 1;           // to the application window
constexpr UINT kReleaseMessage = WM_APP + 2;        // to a form: PostRelease
constexpr UINT kFramedMessage = WM_APP + 3;         // to a form: WatchFraming
constexpr UINT kActivatePopupMessage = WM_APP + 4;  // to a disabled form: activated

// The memo's state (Win32Memo_p.h).
struct MemoState;
struct MemoStateDeleter {
  void operator()(MemoState* state) const;
};

// What each native window of the port carries (GWLP_USERDATA), from its
// creation to WM_NCDESTROY.
struct WidgetData {
  WidgetData(port::WidgetKind k, TWidgetClient* c);
  ~WidgetData();
  WidgetData(const WidgetData&) = delete;
  WidgetData& operator=(const WidgetData&) = delete;

  port::WidgetKind kind;
  TWidgetClient* client;        // none once the framework has let go of it
  WNDPROC base_proc = nullptr;  // the system class's procedure of a control
  // In units, as the framework set them: a control's bounds in its parent
  // (placed once set), a form's client size (bounds.width and height).
  port::Rect bounds;
  bool placed = false;
  // A hidden form's: its size for bounds, and its styles, not yet given to
  // the system (ApplyFrame).
  bool frame_pending = false;
  int item_height = 0;  // a list's, 0 until set
  int dpi = 0;          // a form's: the DPI it is laid out for
  TFont font_spec;      // what font was made from, once has_font
  bool has_font = false;
  HFONT font = nullptr;
  TColor text_color = clWindowText;
  TColor background;
  HBRUSH background_brush = nullptr;  // made when first needed
  std::string accessible_name;
  std::string accessible_description;
  // Panels.
  bool raised = false, lowered = false;
  // Forms: the control of the form that last had the focus, which gets it
  // back when the form is activated or restored; the windows a modal run
  // disabled, and the form's owner before it.
  HWND saved_focus = nullptr;
  std::vector<HWND> disabled_by_modal;
  HWND owner_before_modal = nullptr;
  // The memo.
  std::unique_ptr<MemoState, MemoStateDeleter> memo;

  HBRUSH BackgroundBrush();
};

WidgetData* DataOf(HWND window);
// The client of the window or of its nearest ancestor with one, within its
// top-level window; none.
TWidgetClient* ClientOf(HWND window);

// Runs an entry from the system into framework code; an exception that escapes
// it goes to the entry error hook with client's object as sender (none: the
// application). Returns false when one escaped.
bool RunGuarded(TWidgetClient* client, const std::function<void()>& entry);

HINSTANCE Instance();

// A function of a system library that only some of the program's uses need:
// the font dialog's comdlg32 (which brings shell32, shlwapi and the printer
// spooler with it) and the screen readers' oleacc, oleaut32 and ole32. The
// library is loaded from the system's folder when one of its functions is
// first asked for, and stays; a program that never opens the font dialog
// never loads it, and its start-up does not pay for it. None, with the
// system's error in GetLastError, when the system lacks it.
FARPROC SystemLibraryFunction(const wchar_t* library, const char* name);
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  // Through a function type of no arguments, which the compiler accepts for
  // any function pointer.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(SystemLibraryFunction(library, name)));
}

HWND ApplicationWindow();
// The session is ending: a message box or font dialog returns at once, as if
// cancelled (see port::WatchEndRequests).
bool EndRequested();
// The program is ending and its windows are left to the process's end
// (port::LeaveWidgetsToProcessEnd).
bool WidgetsLeftToProcessEnd();
// A hidden window that holds the controls not made in, or taken out of, a
// parent; none when the system cannot make it.
HWND ParkingWindow();
// The form the application window stands for (WM_CLOSE to it closes that
// form), which has the program's taskbar button; none.
HWND MainForm();
void SetMainForm(HWND form);

// ---- screen readers (Win32Accessible.cpp) ----

// Answers WM_GETOBJECT for a window whose name or description the program
// set, in result; false when the system's own answer serves.
bool AnswerGetObject(HWND window, WPARAM wparam, LPARAM lparam, LRESULT& result);
// Ends what the answers started; at the toolkit's end.
void EndAccessibility();

// The procedure of every subclassed control (Win32Widgets.cpp).
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The memo's window class, the history (Win32MemoInput.cpp), registered at
// its first use; and the memo's state, which its window carries.
const wchar_t* HistoryClass();
void CreateMemoState(HWND memo, WidgetData& data);

// The procedure of the port's forms and panels (Win32Widgets.cpp).
LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace win32port
