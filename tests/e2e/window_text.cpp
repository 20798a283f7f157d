// Reads out what a person sees in the controls of another program's window,
// for the end-to-end tests under Wine, where the controls themselves offer no
// copy: Wine's message boxes copy nothing on Ctrl+C, and a Windows list box
// has no copy at all.
//
// Usage: kv_window_text <window class> <title>
// For every visible top-level window of that class and title, prints one record
// per visible child control, "<control class>\t<left> <top> <width> <height>\t
// <text>\0", in UTF-8 (a text may hold line breaks): where the control is in
// the window's client area, in the display's pixels, and what it shows; a list
// box's text is its selected entry. Ends with 1 when there is no such window.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

// The text as shown: a list box's selected entry, any other control's caption.
std::wstring ShownText(HWND control) {
  if (lstrcmpiW(ClassOf(control).c_str(), L"ListBox") == 0) {
    LRESULT index = SendMessageW(control, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return std::wstring();
    std::wstring entry(static_cast<std::size_t>(SendMessageW(control, LB_GETTEXTLEN, index, 0)) + 1,
                       L'\0');
    LRESULT length =
        SendMessageW(control, LB_GETTEXT, index, reinterpret_cast<LPARAM>(entry.data()));
    entry.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return entry;
  }
  // GetWindowText gives another program's control only its caption as
  // created, not an edit's text: the control is asked.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return std::wstring();
  }
  std::wstring text(length + 1, L'\0');
  if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return std::wstring();
  }
  text.resize(length);
  return text;
}

// Where a control is in its top-level window's client area.
std::string Place(HWND control) {
  RECT area;
  GetWindowRect(control, &area);
  MapWindowPoints(HWND_DESKTOP, GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&area), 2);
  return std::to_string(area.left) + ' ' + std::to_string(area.top) + ' ' +
         std::to_string(area.right - area.left) + ' ' + std::to_string(area.bottom - area.top);
}

struct Search {
  std::wstring window_class;
  std::wstring title;
  std::string out;
  bool found = false;
};

BOOL CALLBACK PrintControl(HWND control, LPARAM search) {
  auto& s = *reinterpret_cast<Search*>(search);
  if (IsWindowVisible(control)) {
    s.out +=
        Utf8(ClassOf(control)) + '\t' + Place(control) + '\t' + Utf8(ShownText(control)) + '\0';
  }
  return TRUE;
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM search) {
  auto& s = *reinterpret_cast<Search*>(search);
  if (IsWindowVisible(window) && lstrcmpiW(ClassOf(window).c_str(), s.window_class.c_str()) == 0 &&
      ShownText(window) == s.title) {
    s.found = true;
    EnumChildWindows(window, PrintControl, search);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  // The display's own pixels, as the program sees them (Windows 10 and later;
  // before it every program sees them).
  using SetContext = BOOL(WINAPI*)(HANDLE);
  if (auto set_context = reinterpret_cast<SetContext>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
    set_context(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  }
  Search search;
  search.window_class = argv[1];
  search.title = argv[2];
  EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), search.out.data(),
            static_cast<DWORD>(search.out.size()), &written, nullptr);
  return search.found ? 0 : 1;
}
