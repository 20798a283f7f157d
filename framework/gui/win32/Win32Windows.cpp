// The Win32 port's top-level windows: their frames and placement, showing
// them, the modal state (the program's other windows disabled while a modal
// window runs) and the saved focus.
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
  // is the one the application window stands for.
  win32port::SetMainForm(window);
}

void SetWindowFrame(NativeWidget window, WindowFrame frame, bool system_menu, bool minimize,
                    bool maximize, int client_width, int client_height) {
  LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE) & (WS_VISIBLE | WS_DISABLED);
  LONG_PTR ex_style = WS_EX_CONTROLPARENT;
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
  SetWindowLongPtrW(window, GWL_STYLE, style);
  SetWindowLongPtrW(window, GWL_EXSTYLE, ex_style);
  RECT area{0, 0, client_width, client_height};
  AdjustWindowRectEx(&area, static_cast<DWORD>(style), FALSE, static_cast<DWORD>(ex_style));
  SetWindowPos(window, nullptr, 0, 0, area.right - area.left, area.bottom - area.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

Rect FrameRect(NativeWidget window) {
  RECT area;
  GetWindowRect(window, &area);
  return Rect{area.left, area.top, area.right - area.left, area.bottom - area.top};
}

void MoveFrame(NativeWidget window, int left, int top) {
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WatchFraming(NativeWidget window) {
  // The system frames a window when it is made; the report comes once the
  // caller's event is handled.
  PostMessageW(window, win32port::kFramedMessage, 0, 0);
}

void ShowWindow(NativeWidget window) {
  ::ShowWindow(window, SW_SHOW);
  win32port::UpdateApplicationWindow();
  BringWindowToTop(window);
  SetForegroundWindow(window);
}

void BeginModal(NativeWidget window, NativeWidget owner) {
  if (owner != nullptr)
    SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  EnumThreadWindows(GetCurrentThreadId(), DisableForModal, reinterpret_cast<LPARAM>(window));
}

void EndModal(NativeWidget window) {
  WidgetData* data = DataOf(window);
  if (data != nullptr) {
    // The others come back before the dialog goes, so that the system hands
    // the activation back to one of them, not to another program.
    for (HWND disabled : std::exchange(data->disabled_by_modal, {})) {
      if (IsWindow(disabled)) EnableWindow(disabled, TRUE);
    }
  }
  SetWindowLongPtrW(window, GWLP_HWNDPARENT,
                    reinterpret_cast<LONG_PTR>(win32port::ApplicationWindow()));
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
