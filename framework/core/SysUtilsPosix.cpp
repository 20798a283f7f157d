// Linux: modules through the dynamic loader, error texts from strerror.
#include <dlfcn.h>

#include <cstring>

#include "framework/core/SysUtils.h"

std::string Exception::ModuleName() const {
  Dl_info info{};
  if (dladdr(raise_address_, &info) == 0 || info.dli_fname == nullptr) return std::string();
  std::string path = info.dli_fname;
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uintptr_t Exception::RelativeAddress() const {
  Dl_info info{};
  if (dladdr(raise_address_, &info) == 0) return reinterpret_cast<std::uintptr_t>(raise_address_);
  return reinterpret_cast<std::uintptr_t>(raise_address_) -
         reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

std::string SystemErrorText(int code) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in the buffer.
  std::string text = strerror_r(code, buffer, sizeof buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}
