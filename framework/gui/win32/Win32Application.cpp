// The Win32 port's toolkit and event loop: the application window (class
// "TApplication"), which receives the wake-up message and the session's end
// and is never shown (the main form has the taskbar button, Win32Windows.cpp);
// one step of the loop with the dialog manager's keyboard rules; the wake-up
// and quit requests.
#include <utility>

#include "framework/core/SysUtils.h"
#include "framework/core/SysUtilsWindows.h"
#include "framework/gui/win32/Win32Port_p.h"

namespace {

constexpr wchar_t kApplicationClass[] = L"TApplication";
constexpr wchar_t kFormClass[] = L"KvForm";
constexpr wchar_t kPanelClass[] = L"KvPanel";

std::function<void()> on_wake;
std::function<void()> on_quit;
std::function<void(TObject*, std::exception_ptr)> entry_error_hook;
// The program's frame's end, for the session's end (WatchEndRequests).
std::function<void()> end_now_hook;
bool end_requested = false;
bool widgets_left = false;

HWND application_window = nullptr;
HWND parking_window = nullptr;
HWND main_form = nullptr;

// Ends a dialog of the system's that this thread runs (a message box, the font
// dialog: window class "#32770") as its Cancel would. The dialog hides at once
// and its loop ends when it next runs.
BOOL CALLBACK EndSystemDialog(HWND window, LPARAM /*unused*/) {
  wchar_t name[16];
  if (GetClassNameW(window, name, 16) == 0 || lstrcmpW(name, L"#32770") != 0) return TRUE;
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  // A message box without a Cancel button may not take it.
  if (IsWindowVisible(window)) EndDialog(window, IDCANCEL);
  return TRUE;
}

// The session ends: Windows ends the process once WM_ENDSESSION returns, so
// the open dialogs end, the loops are told to quit, and the program's exit
// steps run now; end_now does not return.
void EndSession() {
  end_requested = true;
  EnumThreadWindows(GetCurrentThreadId(), EndSystemDialog, 0);
  if (on_quit) win32port::RunGuarded(nullptr, on_quit);
  end_now_hook();
}

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NULL:
      // The wake-up: workers have handed calls over to the main thread.
      if (on_wake) win32port::RunGuarded(nullptr, on_wake);
      return 0;
    case win32port::kQuitMessage:
      if (on_quit) win32port::RunGuarded(nullptr, on_quit);
      return 0;
    case WM_CLOSE:
      // The taskbar entry's Close closes the main form as its close box does.
      if (main_form != nullptr && IsWindow(main_form)) {
        PostMessageW(main_form, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE && end_now_hook) EndSession();
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void RegisterClassOnce(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = win32port::Instance();
  window_class.hIcon = LoadIconW(win32port::Instance(), L"MAINICON");
  if (window_class.hIcon == nullptr) window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw EOutOfResources("Error creating window class");
  }
}

// Whether a message is for one of the port's forms, whose keyboard the dialog
// manager runs (Tab, Shift+Tab, arrow keys between buttons).
HWND FormOf(HWND window) {
  if (window == nullptr) return nullptr;
  HWND root = GetAncestor(window, GA_ROOT);
  wchar_t name[16];
  if (root == nullptr || GetClassNameW(root, name, 16) == 0) return nullptr;
  return lstrcmpW(name, kFormClass) == 0 ? root : nullptr;
}

void Dispatch(MSG& message) {
  if (HWND form = FormOf(message.hwnd); form != nullptr && IsDialogMessageW(form, &message)) {
    return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace

HINSTANCE win32port::Instance() {
  return GetModuleHandleW(nullptr);
}

FARPROC win32port::SystemLibraryFunction(const wchar_t* library, const char* name) {
  // By its full path: a library of the same name beside the program, or in
  // the current folder, is never loaded in its place.
  std::wstring path(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(path.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  path.resize(length);
  path += L'\\';
  path += library;
  HMODULE module = LoadLibraryW(path.c_str());
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

HWND win32port::ApplicationWindow() {
  return application_window;
}

bool win32port::EndRequested() {
  return end_requested;
}

bool win32port::WidgetsLeftToProcessEnd() {
  return widgets_left;
}

HWND win32port::ParkingWindow() {
  // Made when first needed (the program's controls are made in their
  // parents), and message-only: the system gives it no place on the desktop
  // (under Wine, no X window).
  if (parking_window == nullptr) {
    parking_window = CreateWindowExW(0, kPanelClass, L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, win32port::Instance(), nullptr);
  }
  return parking_window;
}

void win32port::SetMainForm(HWND form) {
  main_form = form;
}

HWND win32port::MainForm() {
  return main_form != nullptr && IsWindow(main_form) ? main_form : nullptr;
}

bool win32port::RunGuarded(TWidgetClient* client, const std::function<void()>& entry) {
  try {
    entry();
    return true;
  } catch (...) {
    if (entry_error_hook) {
      try {
        entry_error_hook(client != nullptr ? client->ClientObject() : nullptr,
                         std::current_exception());
      } catch (...) {
        // Nothing may unwind through the system's frames.
      }
    }
    return false;
  }
}

std::wstring win32port::ToWide(std::string_view ansi) {
  std::u16string text = AnsiToUtf16(ansi);
  return std::wstring(text.begin(), text.end());
}

std::string win32port::FromWide(std::wstring_view text) {
  return Utf16ToAnsi(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

namespace port {

void StartToolkit(int& /*argc*/, char** /*argv*/, const std::string& app_title) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterClassOnce(kApplicationClass, ApplicationProc, nullptr);
  RegisterClassOnce(kFormClass, win32port::ContainerProc,
                    reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  RegisterClassOnce(kPanelClass, win32port::ContainerProc,
                    reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  // Zero size at the centre of the screen, never shown.
  application_window =
      CreateWindowExW(0, kApplicationClass, win32port::ToWide(app_title).c_str(),
                      WS_POPUP | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr, nullptr, win32port::Instance(), nullptr);
  if (application_window == nullptr) {
    throw EOutOfResources("Error creating window");
  }
}

void LeaveWidgetsToProcessEnd() {
  // When its last thread ends the system destroys every window the process
  // still has, in one step and without a message to any of them; until then
  // the windows that the program no longer uses answer with their defaults.
  widgets_left = true;
}

void StopToolkit() {
  if (widgets_left) return;
  if (parking_window != nullptr) DestroyWindow(std::exchange(parking_window, nullptr));
  if (application_window != nullptr) DestroyWindow(std::exchange(application_window, nullptr));
  main_form = nullptr;
  win32port::EndAccessibility();
}

bool ProcessWaitingEvents() {
  // One message: under a flood a wake-up is always waiting, and a loop that
  // took messages until none was left would not look at its quit flag or its
  // dialog's result until the flood paused. For the same reason the input
  // goes first after a wake-up: posted messages come before it, and the next
  // wake-up is posted while one is handled. (Wine reads the X server's events
  // only when no message waits, or after two hundred messages: without this
  // the window would not answer the mouse, the keys or its close box for up
  // to a second at a time during a flood.)
  static bool input_first = false;
  MSG message;
  bool taken = input_first && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT);
  if (!taken && !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  input_first = message.message == WM_NULL && message.hwnd == application_window;
  Dispatch(message);
  return true;
}

void WaitForEvents() {
  MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  ProcessWaitingEvents();
}

void PostWakeUp() {
  PostMessageW(application_window, WM_NULL, 0, 0);
}

void PostQuit() {
  PostMessageW(application_window, win32port::kQuitMessage, 0, 0);
}

void SetLoopHooks(std::function<void()> wake, std::function<void()> quit) {
  on_wake = std::move(wake);
  on_quit = std::move(quit);
}

void WatchEndRequests(std::function<void()> end_now) {
  end_now_hook = std::move(end_now);
}

void SetEntryErrorHook(std::function<void(TObject* sender, std::exception_ptr)> hook) {
  entry_error_hook = std::move(hook);
}

Rect ScreenArea() {
  const int dpi = win32port::DpiOf(nullptr);
  return Rect{0, 0, win32port::ToUnits(GetSystemMetrics(SM_CXSCREEN), dpi),
              win32port::ToUnits(GetSystemMetrics(SM_CYSCREEN), dpi)};
}

std::string ExecutablePath() {
  // UTF-8, as the neutral code reads the path of the Linux build.
  return ModulePath(nullptr);
}

std::string TitleCase(std::string_view text) {
  std::wstring title = win32port::ToWide(text);
  if (title.empty()) return std::string();
  CharUpperBuffW(title.data(), 1);
  if (title.size() > 1) CharLowerBuffW(title.data() + 1, static_cast<DWORD>(title.size() - 1));
  return win32port::FromWide(title);
}

}  // namespace port
