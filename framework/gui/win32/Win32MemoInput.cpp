// The history view's window procedure: the user edits the history as in a
// multi-line edit: caret, typing, Enter, Backspace, Delete, the arrows and
// Home, End, Page Up, Page Down (with Ctrl and with Shift), the mouse, Ctrl+A,
// Ctrl+C, Ctrl+X, Ctrl+V and their Insert and Delete forms, and the edit's
// context menu. Tab is left to the dialog manager. The clipboard carries the
// shown text (see Win32Memo.cpp); the window answers WM_GETTEXT and the
// selection messages as a system's edit does.
#include "framework/gui/win32/Win32Memo_p.h"

namespace win32port {
namespace {

constexpr wchar_t kHistoryClass[] = L"KvHistory";

enum MenuCommand : UINT { kCut = 1, kCopy, kPaste, kDelete, kSelectAll };

MemoState* StateOf(HWND memo) {
  WidgetData* data = DataOf(memo);
  return data != nullptr ? data->memo.get() : nullptr;
}

void ReplaceSelection(HWND memo, MemoState& state, std::string_view bytes) {
  const auto [from, to] = Selection(state);
  Erase(state, from, to);
  state.caret = state.anchor = Insert(state, from, bytes);
  state.goal_x = -1;
  KeepLineLimit(state);
  ShowCaretRow(memo, state);
}

void PutOnClipboard(HWND memo, const std::wstring& text) {
  if (!OpenClipboard(memo)) return;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (memory != nullptr) {
    auto* out = static_cast<wchar_t*>(GlobalLock(memory));
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = L'\0';
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

std::wstring ClipboardText(HWND memo) {
  std::wstring text;
  if (!OpenClipboard(memo)) return text;
  if (HANDLE memory = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(memory))) {
      text = chars;
      GlobalUnlock(memory);
    }
  }
  CloseClipboard();
  return text;
}

void Copy(HWND memo, MemoState& state) {
  if (!HasSelection(state)) return;
  const auto [from, to] = Selection(state);
  PutOnClipboard(memo, ShownText(state, from, to));
}

void Paste(HWND memo, MemoState& state) {
  const std::wstring text = ClipboardText(memo);
  if (!text.empty()) ReplaceSelection(memo, state, FromShown(text));
}

void SelectAll(HWND memo, MemoState& state) {
  state.anchor = TextPos{};
  state.caret = End(state);
  ShowCaretRow(memo, state);
}

// Moves the caret; with extend the anchor stays and the selection grows.
void MoveCaret(HWND memo, MemoState& state, TextPos to, bool extend, bool keep_goal = false) {
  state.caret = to;
  if (!extend) state.anchor = to;
  if (!keep_goal) state.goal_x = -1;
  ShowCaretRow(memo, state);
}

// The caret rows rows up (negative) or down, keeping its x.
TextPos VerticalMove(HWND memo, MemoState& state, long rows) {
  Measure measure(memo, state);
  const std::wstring here = Shown(state.lines[state.caret.line]);
  const auto here_starts = RowStarts(measure.dc(), measure.width(), here);
  const std::size_t here_row = RowOf(here_starts, state.caret.col);
  if (state.goal_x < 0) {
    state.goal_x = XOf(measure.dc(), here, here_starts[here_row], state.caret.col);
  }
  const RowPos to = Advance(measure, state, RowPos{state.caret.line, here_row}, rows);
  const std::wstring text = Shown(state.lines[to.line]);
  const auto starts = RowStarts(measure.dc(), measure.width(), text);
  const bool last_row = to.row + 1 == starts.size();
  const std::size_t end = last_row ? text.size() : starts[to.row + 1];
  return TextPos{to.line,
                 ColumnAt(measure.dc(), text, starts[to.row], end, last_row, state.goal_x)};
}

// Home and End of the caret's row.
TextPos RowEdge(HWND memo, MemoState& state, bool end) {
  Measure measure(memo, state);
  const std::wstring text = Shown(state.lines[state.caret.line]);
  const auto starts = RowStarts(measure.dc(), measure.width(), text);
  const std::size_t row = RowOf(starts, state.caret.col);
  if (!end) return TextPos{state.caret.line, starts[row]};
  const bool last_row = row + 1 == starts.size();
  std::size_t col = last_row ? text.size() : starts[row + 1];
  if (!last_row && col > starts[row] && text[col - 1] == L' ') --col;
  return TextPos{state.caret.line, col};
}

int VisibleRows(HWND memo, const MemoState& state) {
  RECT area;
  GetClientRect(memo, &area);
  return std::max(1, static_cast<int>(area.bottom) / std::max(1, state.line_height));
}

void KeyDown(HWND memo, MemoState& state, WPARAM key) {
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool control = GetKeyState(VK_CONTROL) < 0;
  TextPos caret = state.caret;
  switch (key) {
    case VK_LEFT:
      if (control) {
        caret = WordLeft(state, caret);
      } else if (!shift && HasSelection(state)) {
        caret = Selection(state).first;
      } else if (caret.col > 0) {
        --caret.col;
      } else if (caret.line > 0) {
        caret = TextPos{caret.line - 1, state.lines[caret.line - 1].size()};
      }
      return MoveCaret(memo, state, caret, shift);
    case VK_RIGHT:
      if (control) {
        caret = WordRight(state, caret);
      } else if (!shift && HasSelection(state)) {
        caret = Selection(state).second;
      } else if (caret.col < state.lines[caret.line].size()) {
        ++caret.col;
      } else if (caret.line + 1 < state.lines.size()) {
        caret = TextPos{caret.line + 1, 0};
      }
      return MoveCaret(memo, state, caret, shift);
    case VK_UP:
    case VK_DOWN:
      if (control) return ScrollRows(memo, state, key == VK_UP ? -1 : 1);
      return MoveCaret(memo, state, VerticalMove(memo, state, key == VK_UP ? -1 : 1), shift, true);
    case VK_PRIOR:
    case VK_NEXT: {
      const long rows = VisibleRows(memo, state) * (key == VK_PRIOR ? -1 : 1);
      caret = VerticalMove(memo, state, rows);
      ScrollRows(memo, state, rows);
      return MoveCaret(memo, state, caret, shift, true);
    }
    case VK_HOME:
      return MoveCaret(memo, state, control ? TextPos{} : RowEdge(memo, state, false), shift);
    case VK_END:
      return MoveCaret(memo, state, control ? End(state) : RowEdge(memo, state, true), shift);
    case VK_DELETE:
      if (shift) {
        Copy(memo, state);
      } else if (!HasSelection(state)) {
        if (caret.col < state.lines[caret.line].size()) {
          state.anchor = TextPos{caret.line, caret.col + 1};
        } else if (caret.line + 1 < state.lines.size()) {
          state.anchor = TextPos{caret.line + 1, 0};
        }
      }
      return ReplaceSelection(memo, state, "");
    case VK_INSERT:
      if (control) return Copy(memo, state);
      if (shift) return Paste(memo, state);
      return;
    default:
      return;
  }
}

void Char(HWND memo, MemoState& state, wchar_t typed) {
  switch (typed) {
    case 0x01:  // Ctrl+A
      return SelectAll(memo, state);
    case 0x03:  // Ctrl+C
      return Copy(memo, state);
    case 0x16:  // Ctrl+V
      return Paste(memo, state);
    case 0x18:  // Ctrl+X
      Copy(memo, state);
      return ReplaceSelection(memo, state, "");
    case L'\b':
      if (!HasSelection(state)) {
        const TextPos caret = state.caret;
        if (caret.col > 0) {
          state.anchor = TextPos{caret.line, caret.col - 1};
        } else if (caret.line > 0) {
          state.anchor = TextPos{caret.line - 1, state.lines[caret.line - 1].size()};
        }
      }
      return ReplaceSelection(memo, state, "");
    case L'\r':
      return ReplaceSelection(memo, state, "\r\n");
    default:
      // Tab, Escape, Ctrl+Backspace and the other controls are no text.
      if (typed < 0x20 || typed == 0x7F) return;
      return ReplaceSelection(memo, state, FromShown(std::wstring_view(&typed, 1)));
  }
}

void ContextMenu(HWND memo, MemoState& state, LPARAM where) {
  POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  if (static_cast<DWORD>(where) == 0xFFFFFFFF) {  // from the keyboard: at the caret
    GetCaretPos(&at);
    ClientToScreen(memo, &at);
  }
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  const UINT selected = HasSelection(state) ? MF_ENABLED : MF_GRAYED;
  const UINT pasteable = IsClipboardFormatAvailable(CF_UNICODETEXT) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | selected, kCut, L"Вы&резать");
  AppendMenuW(menu, MF_STRING | selected, kCopy, L"&Копировать");
  AppendMenuW(menu, MF_STRING | pasteable, kPaste, L"Вст&авить");
  AppendMenuW(menu, MF_STRING | selected, kDelete, L"&Удалить");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (state.length > 0 ? MF_ENABLED : MF_GRAYED), kSelectAll,
              L"Выделить &все");
  SetFocus(memo);
  const UINT command = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, memo, nullptr));
  DestroyMenu(menu);
  switch (command) {
    case kCut:
      Copy(memo, state);
      return ReplaceSelection(memo, state, "");
    case kCopy:
      return Copy(memo, state);
    case kPaste:
      return Paste(memo, state);
    case kDelete:
      return ReplaceSelection(memo, state, "");
    case kSelectAll:
      return SelectAll(memo, state);
    default:
      return;
  }
}

void SetFont(HWND memo, MemoState& state, HFONT font) {
  state.font = font;
  Measure measure(memo, state);
  TEXTMETRICW metrics{};
  GetTextMetricsW(measure.dc(), &metrics);
  state.line_height = std::max(1, static_cast<int>(metrics.tmHeight));
  if (GetFocus() == memo) {
    DestroyCaret();
    CreateCaret(memo, nullptr, 1, state.line_height);
    ShowCaret(memo);
  }
}

void VerticalScroll(HWND memo, MemoState& state, WPARAM request) {
  switch (LOWORD(request)) {
    case SB_LINEUP:
      return ScrollRows(memo, state, -1);
    case SB_LINEDOWN:
      return ScrollRows(memo, state, 1);
    case SB_PAGEUP:
      return ScrollRows(memo, state, -VisibleRows(memo, state));
    case SB_PAGEDOWN:
      return ScrollRows(memo, state, VisibleRows(memo, state));
    case SB_TOP:
      return ScrollToLine(memo, state, 0);
    case SB_BOTTOM:
      return ScrollToLine(memo, state, state.lines.size() - 1);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO bar{};
      bar.cbSize = sizeof bar;
      bar.fMask = SIF_TRACKPOS;
      GetScrollInfo(memo, SB_VERT, &bar);
      return ScrollToLine(memo, state, static_cast<std::size_t>(std::max(bar.nTrackPos, 0)));
    }
    default:
      return;
  }
}

LRESULT CALLBACK HistoryProc(HWND memo, UINT message, WPARAM wparam, LPARAM lparam) {
  MemoState* found = StateOf(memo);
  if (found == nullptr) return DefWindowProcW(memo, message, wparam, lparam);
  MemoState& state = *found;
  switch (message) {
    case WM_PAINT:
      Paint(memo, state);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_SIZE:
      InvalidateRect(memo, nullptr, FALSE);
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
      state.dragging = false;
      return 0;
    case WM_KEYDOWN:
      KeyDown(memo, state, wparam);
      return 0;
    case WM_CHAR:
      Char(memo, state, static_cast<wchar_t>(wparam));
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(memo);
      SetCapture(memo);
      state.dragging = true;
      const TextPos at = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)),
                                    static_cast<short>(HIWORD(lparam)));
      MoveCaret(memo, state, at, (wparam & MK_SHIFT) != 0);
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      // Selects the word under the mouse.
      TextPos from = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)),
                                static_cast<short>(HIWORD(lparam)));
      TextPos to = from;
      const std::string& text = state.lines[from.line];
      while (from.col > 0 && IsWordChar(text[from.col - 1])) --from.col;
      while (to.col < text.size() && IsWordChar(text[to.col])) ++to.col;
      state.anchor = from;
      state.caret = to;
      state.goal_x = -1;
      ShowCaretRow(memo, state);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (state.dragging && GetCapture() == memo) {
        int y = static_cast<short>(HIWORD(lparam));
        RECT area;
        GetClientRect(memo, &area);
        // Dragging past the top or the bottom scrolls a row at a time.
        if (y < 0) ScrollRows(memo, state, -1);
        if (y >= area.bottom) ScrollRows(memo, state, 1);
        y = std::clamp(y, 0, std::max(0, static_cast<int>(area.bottom) - 1));
        state.caret = PosAtPoint(memo, state, static_cast<short>(LOWORD(lparam)), y);
        state.goal_x = -1;
        InvalidateRect(memo, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      state.dragging = false;
      if (message == WM_LBUTTONUP && GetCapture() == memo) ReleaseCapture();
      return 0;
    case WM_MOUSEWHEEL: {
      UINT lines_per_notch = 3;
      SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines_per_notch, 0);
      if (lines_per_notch == WHEEL_PAGESCROLL) {
        lines_per_notch = static_cast<UINT>(VisibleRows(memo, state));
      }
      state.wheel_delta += GET_WHEEL_DELTA_WPARAM(wparam);
      const int notches = state.wheel_delta / WHEEL_DELTA;
      state.wheel_delta -= notches * WHEEL_DELTA;
      if (notches != 0) ScrollRows(memo, state, -notches * static_cast<long>(lines_per_notch));
      return 0;
    }
    case WM_VSCROLL:
      VerticalScroll(memo, state, wparam);
      return 0;
    case WM_TIMER:
      if (wparam != kBarTimer) break;
      KillTimer(memo, kBarTimer);
      state.bar_timer = false;
      UpdateScrollBar(memo, state);
      return 0;
    case WM_CONTEXTMENU:
      ContextMenu(memo, state, lparam);
      return 0;
    // As a system's edit answers, for whatever reads the window as one.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(state.length);
    case WM_GETTEXT: {
      if (wparam == 0 || lparam == 0) return 0;
      const std::wstring text = ShownText(state, TextPos{}, End(state));
      const std::size_t copied = std::min<std::size_t>(text.size(), wparam - 1);
      auto* out = reinterpret_cast<wchar_t*>(lparam);
      std::copy_n(text.begin(), copied, out);
      out[copied] = L'\0';
      return static_cast<LRESULT>(copied);
    }
    case WM_SETTEXT:
      ResetText(memo, state,
                lparam != 0 ? FromShown(reinterpret_cast<const wchar_t*>(lparam)) : "");
      InvalidateRect(memo, nullptr, FALSE);
      return TRUE;
    case EM_GETSEL: {
      const auto [from, to] = Selection(state);
      const std::size_t start = Offset(state, from), end = Offset(state, to);
      if (wparam != 0) *reinterpret_cast<DWORD*>(wparam) = static_cast<DWORD>(start);
      if (lparam != 0) *reinterpret_cast<DWORD*>(lparam) = static_cast<DWORD>(end);
      return MAKELRESULT(std::min<std::size_t>(start, 0xFFFF), std::min<std::size_t>(end, 0xFFFF));
    }
    case EM_SETSEL: {
      const auto offset = [&state](LPARAM value) {
        return value < 0 ? state.length : static_cast<std::size_t>(value);
      };
      state.anchor = PosAt(state, offset(static_cast<LPARAM>(static_cast<int>(wparam))));
      state.caret = PosAt(state, offset(static_cast<LPARAM>(static_cast<int>(lparam))));
      ShowCaretRow(memo, state);
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
