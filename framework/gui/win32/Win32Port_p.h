// What the Win32 port's files share: text and colour conversion, the data
// each native window carries, the catch-all around every entry from the system
// into framework code, and the application window. Included only by
// framework/gui/win32/*.cpp.
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

// Messages of the port's own windows.
constexpr UINT kQuitMessage = WM_APP + 1;     // to the application window
constexpr UINT kReleaseMessage = WM_APP + 2;  // to a form: PostRelease
constexpr UINT kFramedMessage = WM_APP + 3;   // to a form: WatchFraming

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
  HFONT font = nullptr;
  TColor text_color = clWindowText;
  TColor background;
  HBRUSH background_brush = nullptr;  // made when first needed
  std::string accessible_name;
  std::string accessible_description;
  // Panels.
  bool raised = false, lowered = false;
  // Forms: the control that had the focus when the form was last deactivated,
  // and the windows a modal run disabled.
  HWND saved_focus = nullptr;
  std::vector<HWND> disabled_by_modal;
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
HWND ApplicationWindow();
// The session is ending: a message box or font dialog returns at once, as if
// cancelled (see port::WatchEndRequests).
bool EndRequested();
// A hidden window that holds the controls not yet placed on a form.
HWND ParkingWindow();
// Shows the application window (still of zero size) while a form is visible,
// hides it otherwise.
void UpdateApplicationWindow();
// The form the application window stands for (WM_CLOSE to it closes that form).
void SetMainForm(HWND form);

// The procedure of every subclassed control (Win32Widgets.cpp).
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The memo's window class, the history (Win32MemoInput.cpp), registered at
// its first use; and the memo's state, which its window carries.
const wchar_t* HistoryClass();
void CreateMemoState(HWND memo, WidgetData& data);

// The procedure of the port's forms and panels (Win32Widgets.cpp).
LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace win32port
