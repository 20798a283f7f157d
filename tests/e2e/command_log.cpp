// Stands in for a system program that Wine has only as a stub, for the
// end-to-end tests of the installer: Wine's netsh does nothing and says
// nothing, so a test puts this program in its place to see how it is called
// and to make it fail.
//
// Appends its command line, in UTF-8, as one line to the file that the
// environment variable KV_COMMAND_LOG names, and ends with the exit code that
// KV_COMMAND_EXIT gives (0 without it).
#include <windows.h>

#include <cwchar>
#include <string>

int wmain() {
  wchar_t path[MAX_PATH] = L"";
  if (GetEnvironmentVariableW(L"KV_COMMAND_LOG", path, MAX_PATH) == 0) return 3;
  std::wstring line = GetCommandLineW();
  line += L"\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), text.data(), bytes,
                      nullptr, nullptr);
  HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  BOOL ok = WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(log);
  if (!ok || written != text.size()) return 3;
  wchar_t code[16] = L"";
  if (GetEnvironmentVariableW(L"KV_COMMAND_EXIT", code, 16) == 0) return 0;
  return static_cast<int>(std::wcstol(code, nullptr, 10));
}
