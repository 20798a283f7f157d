#include "framework/core/Ansi.h"

#include <cstdint>

namespace {

// Decodes UTF-8, replacing malformed sequences with U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0xFFFD;
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra == 0) {
      cp = c;
      i += 1;
    } else if (extra > 0 && i + static_cast<std::size_t>(extra) < utf8.size()) {
      cp = c & (0x3F >> extra);
      bool ok = true;
      for (int k = 1; k <= extra; ++k) {
        unsigned char cc = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
        if ((cc & 0xC0) != 0x80) ok = false;
        cp = (cp << 6) | (cc & 0x3F);
      }
      i += ok ? static_cast<std::size_t>(extra) + 1 : 1;
      if (!ok) cp = 0xFFFD;
    } else {
      i += 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

std::string Ansi(std::string_view utf8) {
  return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (char16_t ch : AnsiToUtf16(ansi)) {
    if (ch < 0x80) {
      out.push_back(static_cast<char>(ch));
    } else if (ch < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (ch >> 6)));
      out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (ch >> 12)));
      out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    }
  }
  return out;
}
