// Windows: modules through the loader's address look-up, error texts from
// the system's message table.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

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

std::string Exception::ModuleName() const {
  HMODULE module = ModuleOf(raise_address_);
  if (module == nullptr) return std::string();
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  std::string name(path, n);
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
  char buffer[256] = {};
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}
