// The Win32 port's scaling: the DPI each window is laid out for, units and
// pixels, fonts made for a DPI, and a form laid out again for another DPI
// (the contract is at the top of Win32Port_p.h).
#include <algorithm>
#include <utility>

#include "framework/gui/win32/Win32Port_p.h"

namespace {

using win32port::DataOf;
using win32port::WidgetData;

// What Windows 10 (1607) and later have for windows on monitors of different
// DPIs, looked up at run time: the program also runs on earlier systems,
// where every window has the screen's DPI.
struct PerMonitorApi {
  UINT(WINAPI* dpi_for_window)(HWND) = nullptr;
  BOOL(WINAPI* adjust_for_dpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;

  PerMonitorApi() {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    if (user == nullptr) return;
    // Through a function type of no arguments, which the compiler accepts for
    // any function pointer.
    dpi_for_window = reinterpret_cast<decltype(dpi_for_window)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user, "GetDpiForWindow")));
    adjust_for_dpi = reinterpret_cast<decltype(adjust_for_dpi)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user, "AdjustWindowRectExForDpi")));
  }
};

const PerMonitorApi& Api() {
  static const PerMonitorApi api;
  return api;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kScreenPixelsPerInch;
}

// The DPI the system gives a window now.
int SystemDpiOf(HWND window) {
  if (window != nullptr && Api().dpi_for_window != nullptr) {
    if (UINT dpi = Api().dpi_for_window(window); dpi > 0) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

BOOL CALLBACK LayOutControl(HWND control, LPARAM /*unused*/) {
  WidgetData* data = DataOf(control);
  if (data == nullptr) return TRUE;
  if (data->placed) win32port::PlaceControl(control);
  if (data->has_font) win32port::ApplyFont(control);
  if (data->item_height > 0) win32port::ApplyItemHeight(control);
  return TRUE;
}

}  // namespace

namespace win32port {

int DpiOf(HWND window) {
  if (window == nullptr) return ScreenDpi();
  WidgetData* form = DataOf(GetAncestor(window, GA_ROOT));
  return form != nullptr && form->dpi > 0 ? form->dpi : SystemDpiOf(window);
}

int ToPixels(int units, int dpi) {
  return MulDiv(units, dpi, kScreenPixelsPerInch);
}

int ToUnits(int pixels, int dpi) {
  return MulDiv(pixels, kScreenPixelsPerInch, dpi);
}

HFONT MakeFont(const TFont& font, int dpi) {
  LOGFONTW description{};
  description.lfHeight = -std::max(font.PixelsAt(dpi), 1);
  description.lfWeight = (font.Style() & fsBold) != 0 ? FW_BOLD : FW_NORMAL;
  description.lfItalic = (font.Style() & fsItalic) != 0;
  description.lfUnderline = (font.Style() & fsUnderline) != 0;
  description.lfStrikeOut = (font.Style() & fsStrikeOut) != 0;
  description.lfCharSet = font.Charset();
  description.lfOutPrecision = OUT_DEFAULT_PRECIS;
  description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  description.lfQuality = DEFAULT_QUALITY;
  description.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  std::wstring face = ToWide(font.Name()).substr(0, LF_FACESIZE - 1);
  std::copy(face.begin(), face.end(), description.lfFaceName);
  return CreateFontIndirectW(&description);
}

SIZE FrameSize(HWND window, int client_width, int client_height, int dpi) {
  RECT area{0, 0, client_width, client_height};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  if (Api().adjust_for_dpi != nullptr) {
    Api().adjust_for_dpi(&area, style, FALSE, ex_style, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&area, style, FALSE, ex_style);
  }
  return SIZE{area.right - area.left, area.bottom - area.top};
}

void PlaceControl(HWND control) {
  WidgetData* data = DataOf(control);
  if (data == nullptr) return;
  // Edges, not sizes, are scaled, so that controls that meet in units meet
  // in pixels too.
  const int dpi = DpiOf(control);
  const port::Rect& units = data->bounds;
  const int left = ToPixels(units.left, dpi);
  const int top = ToPixels(units.top, dpi);
  MoveWindow(control, left, top, ToPixels(units.left + units.width, dpi) - left,
             ToPixels(units.top + units.height, dpi) - top, TRUE);
}

void ApplyFont(HWND widget) {
  WidgetData* data = DataOf(widget);
  if (data == nullptr || !data->has_font) return;
  HFONT made = MakeFont(data->font_spec, DpiOf(widget));
  if (made == nullptr) return;
  SendMessageW(widget, WM_SETFONT, reinterpret_cast<WPARAM>(made), IsWindowVisible(widget));
  if (data->font != nullptr) DeleteObject(data->font);
  data->font = made;
}

void Repaint(HWND window) {
  if (IsWindowVisible(window)) InvalidateRect(window, nullptr, TRUE);
}

void ApplyItemHeight(HWND list) {
  WidgetData* data = DataOf(list);
  if (data == nullptr || data->item_height <= 0) return;
  SendMessageW(list, LB_SETITEMHEIGHT, 0,
               MAKELPARAM(std::max(ToPixels(data->item_height, DpiOf(list)), 1), 0));
  Repaint(list);
}

void LayOutAgain(HWND control) {
  LayOutControl(control, 0);
  EnumChildWindows(control, LayOutControl, 0);
}

void LayOutForDpi(HWND form, int dpi, const RECT* suggested) {
  WidgetData* data = DataOf(form);
  if (data == nullptr || dpi <= 0) return;
  data->dpi = dpi;
  ApplyFont(form);
  EnumChildWindows(form, LayOutControl, 0);
  if (data->placed) {
    const SIZE frame =
        FrameSize(form, ToPixels(data->bounds.width, dpi), ToPixels(data->bounds.height, dpi), dpi);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (suggested == nullptr) flags |= SWP_NOMOVE;
    if (std::exchange(data->frame_pending, false)) flags |= SWP_FRAMECHANGED;
    SetWindowPos(form, nullptr, suggested != nullptr ? suggested->left : 0,
                 suggested != nullptr ? suggested->top : 0, frame.cx, frame.cy, flags);
  }
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void SyncDpi(HWND form) {
  WidgetData* data = DataOf(form);
  if (data == nullptr || Api().dpi_for_window == nullptr) return;
  const int dpi = SystemDpiOf(form);
  if (dpi != data->dpi) LayOutForDpi(form, dpi, nullptr);
}

void ApplyFrame(HWND form) {
  WidgetData* data = DataOf(form);
  if (data == nullptr || !std::exchange(data->frame_pending, false)) return;
  const int dpi = DpiOf(form);
  const SIZE frame =
      FrameSize(form, ToPixels(data->bounds.width, dpi), ToPixels(data->bounds.height, dpi), dpi);
  SetWindowPos(form, nullptr, 0, 0, frame.cx, frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

int InitialDpi(HWND form) {
  return SystemDpiOf(form);
}

}  // namespace win32port
