#include "framework/core/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

std::string TObject::ClassName() const { return ClassNameOf(typeid(*this)); }

std::string ClassNameOf(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string full = status == 0 && name ? std::string(name.get()) : std::string(type.name());
  // The class name alone, as the error boxes show it: no namespace in front.
  std::size_t scope = full.substr(0, full.find('<')).rfind("::");
  return scope == std::string::npos ? full : full.substr(scope + 2);
}
