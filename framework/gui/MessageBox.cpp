#include "framework/gui/MessageBox.h"

#include <cxxabi.h>

#include <typeinfo>

#include "framework/core/Ansi.h"
#include "framework/core/SysUtils.h"
#include "framework/gui/GuiPort.h"

namespace {

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The readable class name of the object being thrown.
std::string ThrownClassName(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ClassNameOf(typeid(e));
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type != nullptr ? ClassNameOf(*type) : std::string("Exception");
  }
}

}  // namespace

int RunAppMessageBox(const std::string& text, const std::string& caption, int flags) {
  port::SavedFocus saved;
  int result = port::RunMessageBox(saved.Active(), text, caption, flags);
  saved.Restore();
  return result;
}

void ShowApplicationErrorBox(const std::string& text) {
  port::RunMessageBox(nullptr, text, "Application Error", MB_TASKMODAL | MB_ICONERROR);
}

std::string TitleFromExePath(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.find('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  // The first character is raised so that a lower-case file name ("kvelmar")
  // gives the same title as the Windows file name ("Kvelmar.exe").
  return port::TitleCase(name);
}

std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

std::string ApplicationErrorText(std::exception_ptr error) {
  const char* kPattern = "Exception %s in module %s at %08lX.\r\n%s%s\r\n";
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    std::string module = e.ModuleName();
    if (module.empty()) module = BaseName(port::ExecutablePath());
    const std::string& message = e.Message();
    bool stop = !message.empty() && message.back() != '.';
    return Format(kPattern, e.ClassName().c_str(), Ansi(module).c_str(),
                  static_cast<unsigned long>(e.RelativeAddress()), message.c_str(),
                  stop ? "." : "");
  } catch (...) {
    return Format(kPattern, ThrownClassName(std::current_exception()).c_str(),
                  Ansi(BaseName(port::ExecutablePath())).c_str(), 0UL, "", "");
  }
}
