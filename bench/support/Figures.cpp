#include "bench/support/Figures.h"

#include <cmath>
#include <cstdio>

#include "support/wine.h"

namespace {

const char* Platform() {
#if defined(_WIN32)
  return UnderWine() ? "under Wine" : "Windows";
#else
  return "Linux";
#endif
}

// text as a JSON string: the names are ASCII, but a quote, a backslash or a
// control character must not break the line.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void WriteLine(const std::string& name, const std::string& value, const std::string& unit,
               const std::string& target, Better better, const std::string& note) {
  std::string line = "{\"name\": " + Quoted(name) + ", \"value\": " + value +
                     ", \"unit\": " + Quoted(unit) + ", \"target\": " + Quoted(target);
  if (better != Better::kNeither) {
    line += std::string(", \"better\": ") + (better == Better::kLower ? "\"lower\"" : "\"higher\"");
  }
  line += std::string(", \"platform\": ") + Quoted(Platform());
  if (!note.empty()) line += ", \"note\": " + Quoted(note);
  line += "}\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

void WriteFigure(const std::string& name, double value, const std::string& unit,
                 const std::string& target, Better better) {
  std::string number = "null";
  if (std::isfinite(value)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    number = text;
  }
  WriteLine(name, number, unit, target, better, "");
}

void WriteCheck(const std::string& name, bool holds, const std::string& target) {
  WriteLine(name, holds ? "true" : "false", "", target, Better::kNeither, "");
}

void WriteMissing(const std::string& name, const std::string& why, const std::string& target) {
  WriteLine(name, "null", "", target, Better::kNeither, why);
}

std::string Grouped(long n) {
  const std::string digits = std::to_string(n);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t left = digits.size() - i;
    if (i > 0 && digits[i - 1] != '-' && left % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}
