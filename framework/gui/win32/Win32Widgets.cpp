// The Win32 port's widgets: the system's own controls (STATIC, EDIT, LISTBOX,
// BUTTON) and the port's history view subclassed to report to their clients,
// the port's form and panel windows, and the operations on every widget. The
// top-level windows' own operations are in Win32Windows.cpp; the memo's
// operations and its view in Win32Memo*.cpp.
#include <algorithm>
#include <utility>

#include "framework/gui/win32/Win32Port_p.h"

namespace win32port {

WidgetData::WidgetData(port::WidgetKind k, TWidgetClient* c)
    : kind(k),
      client(c),
      background(k == port::WidgetKind::Edit || k == port::WidgetKind::Memo ||
                         k == port::WidgetKind::ListBox
                     ? clWindow
                     : clBtnFace) {}

WidgetData::~WidgetData() {
  if (font != nullptr) DeleteObject(font);
  if (background_brush != nullptr) DeleteObject(background_brush);
}

HBRUSH WidgetData::BackgroundBrush() {
  if (IsSystemColor(background)) return GetSysColorBrush(background & 0xFF);
  if (background_brush == nullptr) background_brush = CreateSolidBrush(ToColorRef(background));
  return background_brush;
}

COLORREF ToColorRef(TColor color) {
  if (IsSystemColor(color)) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}

WidgetData* DataOf(HWND window) {
  return window != nullptr ? reinterpret_cast<WidgetData*>(GetWindowLongPtrW(window, GWLP_USERDATA))
                           : nullptr;
}

TWidgetClient* ClientOf(HWND window) {
  for (; window != nullptr; window = GetParent(window)) {
    if (WidgetData* data = DataOf(window); data != nullptr && data->client != nullptr) {
      return data->client;
    }
    if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) == 0) break;
  }
  return nullptr;
}

}  // namespace win32port

using win32port::DataOf;
using win32port::RunGuarded;
using win32port::WidgetData;

namespace {

// The form of a control notes it as the one to give the focus back to.
void NoteFocus(HWND control) {
  HWND form = GetAncestor(control, GA_ROOT);
  WidgetData* data = DataOf(form);
  if (data != nullptr && data->kind == port::WidgetKind::Window) data->saved_focus = control;
}

// Gives the focus back to the control of form that had it last, or to its
// first control in tab order; false when it has none to give it to.
bool RestoreFocus(HWND form, HWND saved) {
  if (saved == nullptr || !IsWindow(saved) || !IsChild(form, saved) || !IsWindowVisible(saved) ||
      !IsWindowEnabled(saved)) {
    saved = GetNextDlgTabItem(form, nullptr, FALSE);
  }
  if (saved == nullptr || saved == form) return false;
  SetFocus(saved);
  return true;
}

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM search) {
  auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(search);
  if (GetWindow(window, GW_OWNER) == found->first && IsWindowVisible(window) &&
      IsWindowEnabled(window)) {
    found->second = window;
    return FALSE;
  }
  return TRUE;
}

// The shown and enabled window of this thread that owner owns (a modal
// dialog over it); none.
HWND OwnedDialog(HWND owner) {
  std::pair<HWND, HWND> search{owner, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

TShiftState CurrentShift() {
  TShiftState shift = 0;
  if (GetKeyState(VK_SHIFT) < 0) shift |= ssShift;
  if (GetKeyState(VK_MENU) < 0) shift |= ssAlt;
  if (GetKeyState(VK_CONTROL) < 0) shift |= ssCtrl;
  return shift;
}

// A window's data is freed with the window; a client the framework still
// holds hears that the widget is gone.
void Destroyed(HWND window) {
  WidgetData* data = DataOf(window);
  if (data == nullptr) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  TWidgetClient* client = std::exchange(data->client, nullptr);
  delete data;
  if (client != nullptr) client->WidgetDestroyed();
}

// One typed character of an edit goes to its client first, which may swallow
// or replace it. Returns whether the edit takes the (possibly replaced)
// character, in typed.
bool EditKeyPress(WidgetData& data, wchar_t& typed) {
  std::string ansi = win32port::FromWide(std::wstring_view(&typed, 1));
  if (ansi.size() != 1 || data.client == nullptr) return true;
  const char original = ansi[0];
  char key = original;
  if (!RunGuarded(data.client, [&] { data.client->WidgetKeyPress(key); })) return false;
  if (key == '\0') return false;
  if (key != original) {
    // Control characters other than a kept Enter do not become text.
    if (static_cast<unsigned char>(key) < 0x20) return false;
    std::wstring replaced = win32port::ToWide(std::string_view(&key, 1));
    typed = replaced[0];
  }
  // A single-line edit has no use for a line break.
  return typed != L'\r' && typed != L'\n';
}

// A control is made at 0,0 and of no size: in its parent when the framework
// names it (port::CreateWidget), and then shown, as the framework shows it
// there at once (shown: WS_VISIBLE); else hidden, in the parking window.
HWND MakeControl(const wchar_t* system_class, DWORD style, DWORD ex_style, HWND parent) {
  return CreateWindowExW(ex_style, system_class, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0,
                         0, parent, nullptr, win32port::Instance(), nullptr);
}

HWND MakeWidget(port::WidgetKind kind, HWND parent, DWORD shown) {
  switch (kind) {
    case port::WidgetKind::Window:
      // Owned by the main form, once there is one (Win32Windows.cpp).
      return CreateWindowExW(
          WS_EX_CONTROLPARENT, L"KvForm", L"",
          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
          CW_USEDEFAULT, 0, 0, win32port::MainForm(), nullptr, win32port::Instance(), nullptr);
    case port::WidgetKind::Panel:
      return CreateWindowExW(WS_EX_CONTROLPARENT, L"KvPanel", L"",
                             shown | WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0,
                             parent, nullptr, win32port::Instance(), nullptr);
    case port::WidgetKind::Label:
      return MakeControl(L"STATIC", shown | SS_LEFT | SS_NOPREFIX, 0, parent);
    case port::WidgetKind::Edit:
      return MakeControl(L"EDIT", shown | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                         parent);
    case port::WidgetKind::Memo:
      return MakeControl(win32port::HistoryClass(), shown | WS_TABSTOP | WS_VSCROLL,
                         WS_EX_CLIENTEDGE, parent);
    case port::WidgetKind::ListBox:
      return MakeControl(L"LISTBOX",
                         shown | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                         WS_EX_CLIENTEDGE, parent);
    case port::WidgetKind::Button:
      return MakeControl(L"BUTTON", shown | WS_TABSTOP | BS_PUSHBUTTON, 0, parent);
  }
  return nullptr;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

}  // namespace

namespace win32port {

// The control's own dialog code, asking for the Enter key as well, so that the
// dialog manager hands Enter to the control instead of a default button.
static LRESULT DialogCodeWithEnter(WNDPROC base, HWND window, WPARAM wparam, LPARAM lparam) {
  LRESULT code = CallWindowProcW(base, window, WM_GETDLGCODE, wparam, lparam);
  auto* key = reinterpret_cast<MSG*>(lparam);
  if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
    code |= DLGC_WANTMESSAGE;
  }
  return code;
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  WidgetData* data = DataOf(window);
  if (data == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  const WNDPROC base = data->base_proc;
  if (message == WM_NCDESTROY) {
    LRESULT result = CallWindowProcW(base, window, message, wparam, lparam);
    Destroyed(window);
    return result;
  }
  if (message == WM_SETFOCUS) NoteFocus(window);
  if (LRESULT answer = 0;
      message == WM_GETOBJECT && win32port::AnswerGetObject(window, wparam, lparam, answer)) {
    return answer;
  }
  switch (data->kind) {
    case port::WidgetKind::Edit:
      if (message == WM_CHAR) {
        auto typed = static_cast<wchar_t>(wparam);
        if (!EditKeyPress(*data, typed)) return 0;
        return CallWindowProcW(base, window, message, typed, lparam);
      }
      // Every release counts: those of Alt and F10, and any while Alt is held,
      // come as WM_SYSKEYUP.
      if (message == WM_KEYUP || message == WM_SYSKEYUP) {
        LRESULT result = CallWindowProcW(base, window, message, wparam, lparam);
        if (data->client != nullptr) {
          auto key = static_cast<std::uint16_t>(wparam);
          TShiftState shift = CurrentShift();
          TWidgetClient* client = data->client;
          RunGuarded(client, [&] { client->WidgetKeyUp(key, shift); });
        }
        return result;
      }
      // Enter goes to the edit's key handlers, not to a default button.
      if (message == WM_GETDLGCODE) return DialogCodeWithEnter(base, window, wparam, lparam);
      break;
    case port::WidgetKind::Button:
      // The arrow keys move the focus on as Tab and Shift+Tab do: Right and
      // Down to the next control in tab order, Left and Up to the one before.
      if (message == WM_GETDLGCODE) {
        return DialogCodeWithEnter(base, window, wparam, lparam) | DLGC_WANTARROWS;
      }
      if (message == WM_KEYDOWN &&
          (wparam == VK_LEFT || wparam == VK_UP || wparam == VK_RIGHT || wparam == VK_DOWN)) {
        if ((CurrentShift() & (ssCtrl | ssAlt)) == 0) {
          HWND next = GetNextDlgTabItem(GetAncestor(window, GA_ROOT), window,
                                        wparam == VK_LEFT || wparam == VK_UP);
          if (next != nullptr && next != window) port::SetFocus(next, /*by_handler=*/false);
        }
        return 0;
      }
      // Enter clicks the button that has the focus; with Shift, Ctrl or Alt
      // held, or repeated, it does nothing here.
      if (message == WM_KEYDOWN && wparam == VK_RETURN) {
        if ((lparam & (1 << 30)) == 0 && CurrentShift() == 0 && data->client != nullptr) {
          TWidgetClient* client = data->client;
          RunGuarded(client, [client] { client->WidgetClicked(); });
        }
        return 0;
      }
      if (message == WM_CHAR && wparam == L'\r') return 0;
      break;
    default:
      break;
  }
  return CallWindowProcW(base, window, message, wparam, lparam);
}

// Tells a window's client that something happened to it, inside the catch-all.
static void Notify(WidgetData* data, void (TWidgetClient::*event)()) {
  if (data == nullptr || data->client == nullptr) return;
  TWidgetClient* client = data->client;
  RunGuarded(client, [client, event] { (client->*event)(); });
}

LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  WidgetData* data = DataOf(window);
  switch (message) {
    case WM_COMMAND:
      if (lparam != 0 && HIWORD(wparam) == BN_CLICKED) {
        WidgetData* control = DataOf(reinterpret_cast<HWND>(lparam));
        if (control != nullptr && control->kind == port::WidgetKind::Button &&
            control->client != nullptr) {
          TWidgetClient* client = control->client;
          RunGuarded(client, [client] { client->WidgetClicked(); });
        }
      }
      // Escape's IDCANCEL from the dialog manager (no control) does nothing.
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: {
      WidgetData* control = DataOf(reinterpret_cast<HWND>(lparam));
      auto dc = reinterpret_cast<HDC>(wparam);
      if (control == nullptr) break;
      SetTextColor(dc, ToColorRef(control->text_color));
      if (control->kind == port::WidgetKind::Label || control->kind == port::WidgetKind::Button) {
        // A label shows its parent's background.
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(data != nullptr ? data->BackgroundBrush()
                                                         : GetSysColorBrush(COLOR_BTNFACE));
      }
      SetBkColor(dc, ToColorRef(control->background));
      return reinterpret_cast<LRESULT>(control->BackgroundBrush());
    }
    case WM_ERASEBKGND:
      if (data != nullptr) {
        RECT area;
        GetClientRect(window, &area);
        FillRect(reinterpret_cast<HDC>(wparam), &area, data->BackgroundBrush());
        return 1;
      }
      break;
    case WM_PAINT:
      if (data != nullptr && (data->raised || data->lowered)) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        DrawEdge(dc, &area, data->raised ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
        EndPaint(window, &paint);
        return 0;
      }
      break;
    case WM_CLOSE:
      Notify(data, &TWidgetClient::WidgetCloseRequested);
      return 0;
    case WM_GETOBJECT:
      if (LRESULT answer = 0; AnswerGetObject(window, wparam, lparam, answer)) return answer;
      break;
    // A form that is activated or restored, or given the focus itself, gives
    // it to the control that had it (the controls note it, NoteFocus): a
    // minimised window has nothing to show the focus in, and the form itself
    // takes no keys.
    case WM_ACTIVATE:
      if (data == nullptr || data->kind != port::WidgetKind::Window) break;
      if (TWidgetClient* client = data->client) {
        const bool active = LOWORD(wparam) != WA_INACTIVE;
        RunGuarded(client, [client, active] { client->WidgetActivated(active); });
      }
      // A form that a modal dialog disabled passes the activation on to the
      // dialog (the shown, enabled window it owns), as the taskbar does on
      // Windows: the keys go to the dialog, not to the window behind it. Once
      // this activation is done: the system takes no other while it runs.
      if (LOWORD(wparam) != WA_INACTIVE && !IsWindowEnabled(window)) {
        PostMessageW(window, kActivatePopupMessage, 0, 0);
        return 0;
      }
      if (LOWORD(wparam) != WA_INACTIVE && HIWORD(wparam) == 0 && !IsIconic(window) &&
          RestoreFocus(window, data->saved_focus)) {
        return 0;
      }
      break;
    case WM_SETFOCUS:
      if (data == nullptr || data->kind != port::WidgetKind::Window || IsIconic(window)) break;
      if (RestoreFocus(window, data->saved_focus)) return 0;
      break;
    // The window moved to a monitor of another DPI, or the monitor's changed:
    // the frame that holds the same client area in units at the new DPI, and
    // the window laid out again there.
    case WM_GETDPISCALEDSIZE:
      if (data == nullptr || data->kind != port::WidgetKind::Window || !data->placed) break;
      *reinterpret_cast<SIZE*>(lparam) = win32port::FrameSize(
          window, win32port::ToPixels(data->bounds.width, static_cast<int>(wparam)),
          win32port::ToPixels(data->bounds.height, static_cast<int>(wparam)),
          static_cast<int>(wparam));
      return TRUE;
    case WM_DPICHANGED:
      if (data == nullptr || data->kind != port::WidgetKind::Window) break;
      win32port::LayOutForDpi(window, LOWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return 0;
    case kActivatePopupMessage:
      if (HWND dialog = OwnedDialog(window); dialog != nullptr && GetActiveWindow() == window) {
        SetActiveWindow(dialog);
      }
      return 0;
    case kReleaseMessage:
      Notify(data, &TWidgetClient::WidgetReleased);
      return 0;
    case kFramedMessage:
      Notify(data, &TWidgetClient::WidgetFramed);
      return 0;
    case WM_NCDESTROY:
      Destroyed(window);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace win32port

namespace port {

// ---- every widget ----

// Under Wine every move of a window costs round trips to the Wine server (a
// per-monitor DPI-aware program's also has the server's display settings read
// again, three more): a control is made where it goes, and what would change
// nothing (a move to where it is, showing what is shown, the same font) is
// not passed on to the system.
NativeWidget CreateWidget(WidgetKind kind, TWidgetClient* client, NativeWidget parent) {
  const DWORD shown = parent != nullptr ? WS_VISIBLE : 0;
  if (parent == nullptr && kind != WidgetKind::Window) parent = win32port::ParkingWindow();
  HWND window = MakeWidget(kind, parent, shown);
  if (window == nullptr) throw std::bad_alloc();
  auto* data = new WidgetData(kind, client);
  // A control is where its bounds say: at 0,0, of no size.
  data->placed = kind != WidgetKind::Window;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  if (kind != WidgetKind::Window && kind != WidgetKind::Panel) {
    data->base_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&win32port::ControlProc)));
  }
  // The edit takes as much text as memory holds, as the history does.
  if (kind == WidgetKind::Edit) {
    SendMessageW(window, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  }
  if (kind == WidgetKind::Memo) win32port::CreateMemoState(window, *data);
  if (kind == WidgetKind::Window) data->dpi = win32port::InitialDpi(window);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  return window;
}

void DestroyWidget(NativeWidget widget) {
  if (WidgetData* data = DataOf(widget)) data->client = nullptr;
  // A later form is owned by none rather than by a window that is gone.
  if (widget == win32port::MainForm()) win32port::SetMainForm(nullptr);
  if (win32port::WidgetsLeftToProcessEnd()) return;
  DestroyWindow(widget);
}

void SetParent(NativeWidget widget, NativeWidget parent) {
  HWND target = parent != nullptr ? parent : win32port::ParkingWindow();
  if (GetParent(widget) == target) return;  // made there
  const int dpi = win32port::DpiOf(widget);
  ::SetParent(widget, target);
  // A window of another DPI: the control and what it holds are made for it.
  if (win32port::DpiOf(widget) != dpi) win32port::LayOutAgain(widget);
}

void SetBounds(NativeWidget widget, int left, int top, int width, int height) {
  WidgetData* data = DataOf(widget);
  const Rect bounds{left, top, width, height};
  if (data == nullptr || (data->placed && data->bounds == bounds)) return;
  data->bounds = bounds;
  data->placed = true;
  win32port::PlaceControl(widget);
}

Rect Bounds(NativeWidget widget) {
  // What the framework set, in units; the rest read from the system.
  WidgetData* data = DataOf(widget);
  const int dpi = win32port::DpiOf(widget);
  if ((GetWindowLongPtrW(widget, GWL_STYLE) & WS_CHILD) == 0) {
    win32port::ApplyFrame(widget);
    RECT client;
    GetClientRect(widget, &client);
    POINT origin{0, 0};
    ClientToScreen(widget, &origin);
    Rect bounds{win32port::ToUnits(origin.x, dpi), win32port::ToUnits(origin.y, dpi),
                win32port::ToUnits(client.right, dpi), win32port::ToUnits(client.bottom, dpi)};
    if (data != nullptr && data->placed) {
      bounds.width = data->bounds.width;
      bounds.height = data->bounds.height;
    }
    return bounds;
  }
  if (data != nullptr && data->placed) return data->bounds;
  RECT area;
  GetWindowRect(widget, &area);
  MapWindowPoints(HWND_DESKTOP, GetParent(widget), reinterpret_cast<POINT*>(&area), 2);
  return Rect{win32port::ToUnits(area.left, dpi), win32port::ToUnits(area.top, dpi),
              win32port::ToUnits(area.right - area.left, dpi),
              win32port::ToUnits(area.bottom - area.top, dpi)};
}

Rect NaturalSize(NativeWidget widget) {
  WidgetData* data = DataOf(widget);
  if (data == nullptr || data->kind != WidgetKind::Label) {
    Rect bounds = Bounds(widget);
    return Rect{0, 0, bounds.width, bounds.height};
  }
  std::wstring text = WindowText(widget);
  // Measured on a memory DC, which the system makes without the round trips
  // of a window's (under Wine, to its server), and measures alike.
  static const HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(widget, WM_GETFONT, 0, 0)));
  RECT area{0, 0, 0, 0};
  if (text.empty()) text = L" ";
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
            DT_CALCRECT | DT_NOPREFIX | DT_LEFT | DT_EXPANDTABS);
  SelectObject(dc, old);
  // Rounded up: the text must fit.
  const int dpi = win32port::DpiOf(widget);
  auto units = [dpi](LONG pixels) {
    return static_cast<int>((pixels * kScreenPixelsPerInch + dpi - 1) / dpi);
  };
  return Rect{0, 0, units(area.right), units(area.bottom)};
}

void SetVisible(NativeWidget widget, bool visible) {
  if (((GetWindowLongPtrW(widget, GWL_STYLE) & WS_VISIBLE) != 0) == visible) return;
  ::ShowWindow(widget, visible ? SW_SHOWNA : SW_HIDE);
}

void SetEnabled(NativeWidget widget, bool enabled) {
  EnableWindow(widget, enabled ? TRUE : FALSE);
}

void SetFont(NativeWidget widget, const TFont& font) {
  WidgetData* data = DataOf(widget);
  if (data == nullptr || (data->has_font && data->font_spec.SameAs(font))) return;
  data->font_spec.Assign(&font);
  data->has_font = true;
  data->text_color = font.Color();
  win32port::ApplyFont(widget);
  win32port::Repaint(widget);
}

void SetBackground(NativeWidget widget, TColor color) {
  WidgetData* data = DataOf(widget);
  if (data == nullptr || data->background == color) return;
  data->background = color;
  if (data->background_brush != nullptr)
    DeleteObject(std::exchange(data->background_brush, nullptr));
  win32port::Repaint(widget);
}

void SetText(NativeWidget widget, std::string_view text) {
  SetWindowTextW(widget, win32port::ToWide(text).c_str());
}

std::string Text(NativeWidget widget) {
  WidgetData* data = DataOf(widget);
  if (data == nullptr || data->kind != WidgetKind::Edit) return std::string();
  return win32port::FromWide(WindowText(widget));
}

void SetAccessibleName(NativeWidget widget, std::string_view name) {
  if (WidgetData* data = DataOf(widget)) data->accessible_name = name;
}

std::string AccessibleName(NativeWidget widget) {
  WidgetData* data = DataOf(widget);
  return data != nullptr ? data->accessible_name : std::string();
}

void SetAccessibleDescription(NativeWidget widget, std::string_view description) {
  if (WidgetData* data = DataOf(widget)) data->accessible_description = description;
}

void SetTabStop(NativeWidget widget, bool tab_stop) {
  const LONG_PTR style = GetWindowLongPtrW(widget, GWL_STYLE);
  const LONG_PTR wanted = tab_stop ? style | WS_TABSTOP : style & ~WS_TABSTOP;
  if (wanted != style) SetWindowLongPtrW(widget, GWL_STYLE, wanted);
}

void SetTabOrder(NativeWidget before, NativeWidget after) {
  // The dialog manager goes through siblings in their z-order; a control in a
  // panel follows the panel's place.
  HWND first = before;
  HWND second = after;
  while (first != nullptr && second != nullptr && GetParent(first) != GetParent(second)) {
    HWND parent = GetParent(second);
    if (parent != nullptr && IsChild(parent, first)) {
      first = GetParent(first);
      while (first != nullptr && GetParent(first) != parent) first = GetParent(first);
      break;
    }
    second = parent;
  }
  if (first == nullptr || second == nullptr || first == second) return;
  // In its place already: a form takes its tab order up again whenever it is
  // shown.
  if (GetWindow(second, GW_HWNDPREV) == first) return;
  SetWindowPos(second, first, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void SetFocus(NativeWidget widget, bool by_handler) {
  ::SetFocus(widget);
  // The Tab key selects the whole text of the edit it enters.
  WidgetData* data = DataOf(widget);
  if (!by_handler && data != nullptr && data->kind == WidgetKind::Edit) {
    SendMessageW(widget, EM_SETSEL, 0, -1);
  }
}

TWidgetClient* FocusedClient(NativeWidget window) {
  HWND focus = GetFocus();
  if (window == nullptr) return win32port::ClientOf(focus);
  if (focus != nullptr && (focus == window || IsChild(window, focus))) {
    return win32port::ClientOf(focus);
  }
  WidgetData* data = DataOf(window);
  if (data != nullptr && data->saved_focus != nullptr && IsWindow(data->saved_focus) &&
      IsChild(window, data->saved_focus)) {
    return win32port::ClientOf(data->saved_focus);
  }
  return nullptr;
}

// ---- kinds ----

void SetPanelBevel(NativeWidget panel, bool raised, bool lowered) {
  WidgetData* data = DataOf(panel);
  if (data == nullptr || (data->raised == raised && data->lowered == (!raised && lowered))) return;
  data->raised = raised;
  data->lowered = !raised && lowered;
  win32port::Repaint(panel);
}

void SelectAll(NativeWidget edit) {
  SendMessageW(edit, EM_SETSEL, 0, -1);
}

int ListCount(NativeWidget list) {
  return static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
}

std::string ListItem(NativeWidget list, int index) {
  LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return std::string();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  length = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text.data()));
  text.resize(length == LB_ERR ? 0 : static_cast<std::size_t>(length));
  return win32port::FromWide(text);
}

void ListAdd(NativeWidget list, std::string_view text) {
  LRESULT added = SendMessageW(list, LB_ADDSTRING, 0,
                               reinterpret_cast<LPARAM>(win32port::ToWide(text).c_str()));
  if (added == LB_ERR || added == LB_ERRSPACE) throw std::bad_alloc();
}

void ListDelete(NativeWidget list, int index) {
  SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

int ListSelected(NativeWidget list) {
  LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
  return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void ListSelect(NativeWidget list, int index) {
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ListSetItemHeight(NativeWidget list, int pixels) {
  if (WidgetData* data = DataOf(list)) {
    data->item_height = pixels;
    win32port::ApplyItemHeight(list);
  }
}

}  // namespace port
