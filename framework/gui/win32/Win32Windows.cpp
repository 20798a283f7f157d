// The Win32 port's top-level windows: their frames and placement, showing
// them, the modal state (the program's other windows disabled while a modal
// window runs) and the saved focus.
//
// The main form stands for the program on the taskbar and in Alt+Tab, with
// its caption and icon, as the main window of any Windows program does: it is
// a window of its own, owned by none, and its minimise box minimises it to
// its taskbar button. The other forms are owned by it, so they stay above it,
// go with it when it is minimised and have no button of their own; a modal
// dialog is owned by the window that was active when it was shown. The
// application window only receives the program's messages and is never shown.
#include <utility>

#include "framework/gui/win32/Win32Port_p.h"

using win32port::DataOf;
using win32port::WidgetData;

namespace {

BOOL CALLBACK DisableForModal(HWND window, LPARAM modal) {
  auto* data = DataOf(reinterpret_cast<HWND>(modal));
  if (window != reinterpret_cast<HWND>(modal) && window != win32port::ApplicationWindow() &&
      IsWindowVisible(window) && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    data->disabled_by_modal.push_back(window);
  }
  return TRUE;
}

}  // namespace

namespace port {

void RealizeWindow(NativeWidget window) {
  // The system's window exists from CreateWidget on; the first form realized
  // is the main form, which has the program's taskbar button.
  win32port::SetMainForm(window);
  SetWindowLongPtrW(window, GWLP_HWNDPARENT, 0);
  SetWindowLongPtrW(window, GWL_EXSTYLE, GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_APPWINDOW);
}

void SetWindowFrame(NativeWidget window, WindowFrame frame, bool system_menu, bool minimize,
                    bool maximize, int client_width, int client_height) {
  const LONG_PTR old_style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR old_ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  LONG_PTR style = old_style & (WS_VISIBLE | WS_DISABLED);
  LONG_PTR ex_style = WS_EX_CONTROLPARENT | (old_ex_style & WS_EX_APPWINDOW);
  style |= WS_CLIPCHILDREN;
  switch (frame) {
    case WindowFrame::None:
      style |= WS_POPUP;
      break;
    case WindowFrame::Dialog:
      style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
      ex_style |= WS_EX_DLGMODALFRAME;
      break;
    case WindowFrame::Fixed:
    case WindowFrame::Sizeable:
      style |= WS_OVERLAPPED | WS_CAPTION;
      if (system_menu) style |= WS_SYSMENU;
      if (minimize) style |= WS_MINIMIZEBOX;
      if (frame == WindowFrame::Sizeable) {
        style |= WS_THICKFRAME;
        if (maximize) style |= WS_MAXIMIZEBOX;
      }
      break;
  }
  if (style != old_style) SetWindowLongPtrW(window, GWL_STYLE, style);
  if (ex_style != old_ex_style) SetWindowLongPtrW(window, GWL_EXSTYLE, ex_style);
  WidgetData* data = DataOf(window);
  if (data == nullptr) return;
  data->bounds.width = client_width;
  data->bounds.height = client_height;
  data->placed = true;
  data->frame_pending = true;
  if ((style & WS_VISIBLE) != 0) win32port::ApplyFrame(window);
}

Rect FrameRect(NativeWidget window) {
  win32port::ApplyFrame(window);
  RECT area;
  GetWindowRect(window, &area);
  const int dpi = win32port::DpiOf(window);
  return Rect{win32port::ToUnits(area.left, dpi), win32port::ToUnits(area.top, dpi),
              win32port::ToUnits(area.right - area.left, dpi),
              win32port::ToUnits(area.bottom - area.top, dpi)};
}

void MoveFrame(NativeWidget window, int left, int top) {
  win32port::ApplyFrame(window);
  const int dpi = win32port::DpiOf(window);
  SetWindowPos(window, nullptr, win32port::ToPixels(left, dpi), win32port::ToPixels(top, dpi), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WatchFraming(NativeWidget window) {
  // The system frames a window when it is made; the report comes once the
  // caller's event is handled.
  PostMessageW(window, win32port::kFramedMessage, 0, 0);
}

void ShowWindow(NativeWidget window) {
  win32port::SyncDpi(window);
  win32port::ApplyFrame(window);
  ::ShowWindow(window, SW_SHOW);
  BringWindowToTop(window);
  SetForegroundWindow(window);
}

// The taskbar button flashes until the window comes to the foreground; the
// caption is left as it is, since the window is not the active one anyway.
void RequestAttention(NativeWidget window) {
  FLASHWINFO flash{};
  flash.cbSize = sizeof flash;
  flash.hwnd = window;
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
}

void BeginModal(NativeWidget window, NativeWidget owner) {
  if (WidgetData* data = DataOf(window)) data->owner_before_modal = GetWindow(window, GW_OWNER);
  if (owner != nullptr)
    SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  EnumThreadWindows(GetCurrentThreadId(), DisableForModal, reinterpret_cast<LPARAM>(window));
}

void EndModal(NativeWidget window) {
  WidgetData* data = DataOf(window);
  if (data == nullptr) return;
  // The others come back before the dialog goes, so that the system hands
  // the activation back to one of them, not to another program.
  for (HWND disabled : std::exchange(data->disabled_by_modal, {})) {
    if (IsWindow(disabled)) EnableWindow(disabled, TRUE);
  }
  HWND owner = std::exchange(data->owner_before_modal, nullptr);
  SetWindowLongPtrW(
      window, GWLP_HWNDPARENT,
      reinterpret_cast<LONG_PTR>(owner != nullptr && IsWindow(owner) ? owner : nullptr));
}

void ReleaseMouse() {
  ReleaseCapture();
}

void PostRelease(NativeWidget window) {
  PostMessageW(window, win32port::kReleaseMessage, 0, 0);
}

struct SavedFocus::State {
  HWND active = GetActiveWindow();
  HWND focus = GetFocus();
};

SavedFocus::SavedFocus() : state_(std::make_unique<State>()) {}
SavedFocus::~SavedFocus() = default;

NativeWidget SavedFocus::Active() const {
  return state_->active != nullptr && IsWindow(state_->active) ? state_->active : nullptr;
}

void SavedFocus::Restore() {
  if (state_->active != nullptr && IsWindow(state_->active)) SetActiveWindow(state_->active);
  if (state_->focus != nullptr && IsWindow(state_->focus)) ::SetFocus(state_->focus);
}

}  // namespace port
