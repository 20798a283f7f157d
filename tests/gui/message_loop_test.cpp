// The Win32 port's loop step: a request to quit is seen while messages keep
// coming, as the wake-ups of the listener do under a flood.
#include <gtest/gtest.h>

#include "framework/gui/Application.h"

// The system's header after the framework's, whose constants it defines as
// macros.
#define WIN32_LEAN_AND_MEAN
#include "support/windows_api.h"

namespace {

constexpr UINT kEcho = WM_APP + 7;
int g_echoes = 0;

// Handles kEcho by posting it again, wparam more times: while the echoes
// last, a message always waits in the queue.
LRESULT CALLBACK EchoProc(HWND window, UINT message, WPARAM left, LPARAM lparam) {
  if (message != kEcho) return DefWindowProcW(window, message, left, lparam);
  ++g_echoes;
  if (left > 0) PostMessageW(window, kEcho, left - 1, 0);
  return 0;
}

// A step that handled messages until none was left did not return while the
// stream lasted: closing the program, or a dialog, during a flood waited for
// a pause in the flood.
TEST(MessageLoopTest, QuitIsSeenWhileMessagesKeepComing) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = EchoProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KvLoopTestEcho";
  ASSERT_NE(RegisterClassW(&window_class), 0);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  constexpr int kEchoes = 10000;
  PostMessageW(window, kEcho, kEchoes, 0);
  Application->Quit();
  while (!Application->QuitRequested()) Application->PumpOneMessage();
  EXPECT_LT(g_echoes, kEchoes) << "the quit waited for the stream's end";
  DestroyWindow(window);
  UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
  Application->ResetForTesting();
}

}  // namespace
