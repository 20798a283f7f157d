// Windows: modules through the loader's address look-up, error texts from
// the system's message table. Both are read in UTF-16: the ANSI code page of
// the machine need not be 1251 (a Russian user on a Windows set up for
// another country), and then the system's ANSI answers would have lost every
// Cyrillic letter before the program saw them.
#define WIN32_LEAN_AND_MEAN
#include "framework/core/SysUtilsWindows.h"

#include <windows.h>

#include <string_view>

#include "framework/core/Ansi.h"
#include "framework/core/SysUtils.h"

namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

std::string ModulePath(void* module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), path.data(),
                                 static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a longer path
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  return utf8;
}

std::string Exception::ModuleName() const {
  HMODULE module = ModuleOf(raise_address_);
  if (module == nullptr) return std::string();
  std::string name = ModulePath(module);
  std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name;
}

std::uintptr_t Exception::RelativeAddress() const {
  HMODULE module = ModuleOf(raise_address_);
  if (module == nullptr) return reinterpret_cast<std::uintptr_t>(raise_address_);
  return reinterpret_cast<std::uintptr_t>(raise_address_) -
         reinterpret_cast<std::uintptr_t>(module);
}

std::string SystemErrorText(int code) {
  wchar_t buffer[256] = {};
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
  std::string text = Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n));
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}
