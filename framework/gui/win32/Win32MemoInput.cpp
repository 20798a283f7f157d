// The history's window procedure: the user's input handed to the history's
// view (HistoryView.h), as a multi-line edit takes it: typing, Enter,
// Backspace, Delete, the arrows and Home, End, Page Up, Page Down (with Ctrl
// and with Shift), the mouse and the wheel, the scroll bar, Ctrl+A, Ctrl+C,
// Ctrl+X, Ctrl+V and their Insert and Delete forms, and the edit's context
// menu. Tab is left to the dialog manager. The window answers WM_GETTEXT,
// WM_SETTEXT and the selection messages as a system's edit does.
#include <algorithm>

#include "framework/gui/win32/Win32Memo_p.h"

namespace win32port {
namespace {

constexpr wchar_t kHistoryClass[] = L"KvHistory";

enum MenuCommand : UINT { kCut = 1, kCopy, kPaste, kDelete, kSelectAll };

MemoState* StateOf(HWND memo) {
  WidgetData* data = DataOf(memo);
  return data != nullptr ? data->memo.get() : nullptr;
}

void KeyDown(THistoryView& view, WPARAM key) {
  using Key = THistoryView::Key;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool control = GetKeyState(VK_CONTROL) < 0;
  switch (key) {
    case VK_LEFT:
      return view.KeyDown(Key::Left, shift, control);
    case VK_RIGHT:
      return view.KeyDown(Key::Right, shift, control);
    case VK_UP:
      return view.KeyDown(Key::Up, shift, control);
    case VK_DOWN:
      return view.KeyDown(Key::Down, shift, control);
    case VK_PRIOR:
      return view.KeyDown(Key::PageUp, shift, control);
    case VK_NEXT:
      return view.KeyDown(Key::PageDown, shift, control);
    case VK_HOME:
      return view.KeyDown(Key::Home, shift, control);
    case VK_END:
      return view.KeyDown(Key::End, shift, control);
    case VK_DELETE:
      if (shift) return view.Cut();
      return view.KeyDown(Key::Delete, shift, control);
    case VK_INSERT:
      if (control) return view.Copy();
      if (shift) return view.Paste();
      return;
    default:
      return;
  }
}

void Char(THistoryView& view, wchar_t typed) {
  switch (typed) {
    case 0x01:  // Ctrl+A
      return view.SelectAll();
    case 0x03:  // Ctrl+C
      return view.Copy();
    case 0x16:  // Ctrl+V
      return view.Paste();
    case 0x18:  // Ctrl+X
      return view.Cut();
    case L'\b':
      return view.KeyDown(THistoryView::Key::Backspace, false, false);
    case L'\r':
      return view.KeyDown(THistoryView::Key::Enter, false, false);
    default: {
      const char16_t text = static_cast<char16_t>(typed);
      return view.Type(std::u16string_view(&text, 1));
    }
  }
}

void ContextMenu(HWND memo, THistoryView& view, LPARAM where) {
  POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  if (static_cast<DWORD>(where) == 0xFFFFFFFF) {  // from the keyboard: at the caret
    GetCaretPos(&at);
    ClientToScreen(memo, &at);
  }
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  const UINT selected = view.HasSelection() ? MF_ENABLED : MF_GRAYED;
  const UINT pasteable = IsClipboardFormatAvailable(CF_UNICODETEXT) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | selected, kCut, L"Вы&резать");
  AppendMenuW(menu, MF_STRING | selected, kCopy, L"&Копировать");
  AppendMenuW(menu, MF_STRING | pasteable, kPaste, L"Вст&авить");
  AppendMenuW(menu, MF_STRING | selected, kDelete, L"&Удалить");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (view.Text().Length() > 0 ? MF_ENABLED : MF_GRAYED), kSelectAll,
              L"Выделить &все");
  SetFocus(memo);
  const UINT command = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, memo, nullptr));
  DestroyMenu(menu);
  switch (command) {
    case kCut:
      return view.Cut();
    case kCopy:
      return view.Copy();
    case kPaste:
      return view.Paste();
    case kDelete:
      return view.DeleteSelection();
    case kSelectAll:
      return view.SelectAll();
    default:
      return;
  }
}

void SetFont(HWND memo, MemoState& state, HFONT font) {
  state.font = font;
  state.view.FontChanged();
  if (GetFocus() == memo) {
    DestroyCaret();
    CreateCaret(memo, nullptr, 1, state.line_height);
    ShowCaret(memo);
  }
}

void VerticalScroll(HWND memo, THistoryView& view, WPARAM request) {
  switch (LOWORD(request)) {
    case SB_LINEUP:
      return view.ScrollRows(-1);
    case SB_LINEDOWN:
      return view.ScrollRows(1);
    case SB_PAGEUP:
      return view.ScrollRows(-view.VisibleRows());
    case SB_PAGEDOWN:
      return view.ScrollRows(view.VisibleRows());
    case SB_TOP:
      return view.ScrollToLine(0);
    case SB_BOTTOM:
      return view.ScrollToLine(view.Text().LineCount() - 1);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO bar{};
      bar.cbSize = sizeof bar;
      bar.fMask = SIF_TRACKPOS;
      GetScrollInfo(memo, SB_VERT, &bar);
      return view.ScrollToLine(static_cast<std::size_t>(std::max(bar.nTrackPos, 0)));
    }
    default:
      return;
  }
}

int X(LPARAM lparam) {
  return static_cast<short>(LOWORD(lparam));
}
int Y(LPARAM lparam) {
  return static_cast<short>(HIWORD(lparam));
}

LRESULT CALLBACK HistoryProc(HWND memo, UINT message, WPARAM wparam, LPARAM lparam) {
  MemoState* found = StateOf(memo);
  if (found == nullptr) return DefWindowProcW(memo, message, wparam, lparam);
  MemoState& state = *found;
  THistoryView& view = state.view;
  switch (message) {
    case WM_PAINT:
      state.Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_SIZE:
      view.SetSize(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_SETFONT:
      SetFont(memo, state, reinterpret_cast<HFONT>(wparam));
      if (LOWORD(lparam) != 0) InvalidateRect(memo, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(state.font);
    case WM_GETDLGCODE: {
      // Enter splits a line rather than pressing a default button; Tab leaves.
      LRESULT code = DLGC_WANTCHARS | DLGC_WANTARROWS;
      auto* key = reinterpret_cast<MSG*>(lparam);
      if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
        code |= DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_SETFOCUS:
      CreateCaret(memo, nullptr, 1, state.line_height);
      ShowCaret(memo);
      InvalidateRect(memo, nullptr, FALSE);
      return 0;
    case WM_KILLFOCUS:
      DestroyCaret();
      view.MouseUp();
      return 0;
    case WM_KEYDOWN:
      KeyDown(view, wparam);
      return 0;
    case WM_CHAR:
      Char(view, static_cast<wchar_t>(wparam));
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(memo);
      SetCapture(memo);
      view.MouseDown(X(lparam), Y(lparam), (wparam & MK_SHIFT) != 0);
      return 0;
    case WM_LBUTTONDBLCLK:
      view.DoubleClick(X(lparam), Y(lparam));
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == memo) view.MouseMove(X(lparam), Y(lparam));
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      view.MouseUp();
      if (message == WM_LBUTTONUP && GetCapture() == memo) ReleaseCapture();
      return 0;
    case WM_MOUSEWHEEL: {
      UINT lines_per_notch = 3;
      SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines_per_notch, 0);
      if (lines_per_notch == WHEEL_PAGESCROLL) {
        lines_per_notch = static_cast<UINT>(view.VisibleRows());
      }
      view.Wheel(GET_WHEEL_DELTA_WPARAM(wparam), static_cast<int>(lines_per_notch));
      return 0;
    }
    case WM_VSCROLL:
      VerticalScroll(memo, view, wparam);
      return 0;
    case WM_TIMER:
      if (wparam != THistoryView::kFrameTimer && wparam != THistoryView::kBarTimer) break;
      KillTimer(memo, wparam);
      view.TimerFired(static_cast<int>(wparam));
      return 0;
    case WM_CONTEXTMENU:
      ContextMenu(memo, view, lparam);
      return 0;
    // As a system's edit answers, for whatever reads the window as one.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(view.Text().Length());
    case WM_GETTEXT: {
      if (wparam == 0 || lparam == 0) return 0;
      const std::u16string text = view.Shown(TTextPos{}, view.Text().End(), u"\r\n");
      const std::size_t copied = std::min<std::size_t>(text.size(), wparam - 1);
      auto* out = reinterpret_cast<wchar_t*>(lparam);
      std::copy_n(text.begin(), copied, out);
      out[copied] = L'\0';
      return static_cast<LRESULT>(copied);
    }
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lparam);
      view.SetText(THistoryView::BytesFromShown(text != nullptr ? text : u"", false));
      return TRUE;
    }
    case EM_GETSEL: {
      const THistoryText& text = view.Text();
      const auto [from, to] = text.Selection();
      const std::size_t start = text.Offset(from), end = text.Offset(to);
      if (wparam != 0) *reinterpret_cast<DWORD*>(wparam) = static_cast<DWORD>(start);
      if (lparam != 0) *reinterpret_cast<DWORD*>(lparam) = static_cast<DWORD>(end);
      return MAKELRESULT(std::min<std::size_t>(start, 0xFFFF), std::min<std::size_t>(end, 0xFFFF));
    }
    case EM_SETSEL: {
      const THistoryText& text = view.Text();
      const auto place = [&text](int offset) {
        return offset < 0 ? text.End() : text.PosAt(static_cast<std::size_t>(offset));
      };
      view.Select(place(static_cast<int>(wparam)), place(static_cast<int>(lparam)));
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(memo, message, wparam, lparam);
}

}  // namespace

const wchar_t* HistoryClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = HistoryProc;
    window_class.hInstance = Instance();
    window_class.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    window_class.lpszClassName = kHistoryClass;
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) throw EOutOfResources("Error creating window class");
  return kHistoryClass;
}

}  // namespace win32port
