// The yardstick of the program benchmark under Wine: the least a Win32
// program does to show a window of the chat window's size and to end when it
// is closed. With "drain" it also binds the chat port and reads it on a
// thread of its own, as a program that receives a flood must. What this
// costs under Wine is Wine's own share of the figures of kvelmar.exe.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>

#include <cwchar>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

DWORD WINAPI Drain(void* socket) {
  char buffer[8192];
  while (recv(reinterpret_cast<SOCKET>(socket), buffer, sizeof buffer, 0) != SOCKET_ERROR) {
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int show) {
  if (std::wcscmp(arguments, L"drain") == 0) {
    WSADATA data;
    WSAStartup(0x0202, &data);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(15251);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
    CloseHandle(CreateThread(nullptr, 0, Drain, reinterpret_cast<void*>(s), 0, nullptr));
  }
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = L"KvBareWindow";
  RegisterClassW(&window_class);
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, 595, 486};
  AdjustWindowRect(&frame, style, FALSE);
  HWND window = CreateWindowW(window_class.lpszClassName, L"Bare Win32 window", style,
                              CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
