#include "framework/core/Ansi.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <unordered_map>

namespace {

struct Cp1251Tables {
  std::array<char16_t, 256> to_utf16{};
  std::unordered_map<char16_t, unsigned char> from_utf16;

  Cp1251Tables() {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no CP1251 converter");
    for (int byte = 0; byte < 256; ++byte) {
      char in = static_cast<char>(byte);
      unsigned char out[4] = {};
      char* in_ptr = &in;
      char* out_ptr = reinterpret_cast<char*>(out);
      std::size_t in_left = 1;
      std::size_t out_left = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      std::size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
      char16_t ch = static_cast<char16_t>(byte);  // unassigned bytes map to themselves
      if (r != static_cast<std::size_t>(-1) && out_left == sizeof out - 2) {
        ch = static_cast<char16_t>(out[0] | (out[1] << 8));
      }
      to_utf16[static_cast<std::size_t>(byte)] = ch;
      from_utf16.emplace(ch, static_cast<unsigned char>(byte));
    }
    iconv_close(cd);
  }
};

const Cp1251Tables& Tables() {
  static const Cp1251Tables tables;
  return tables;
}

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

std::u16string AnsiToUtf16(std::string_view ansi) {
  const auto& table = Tables().to_utf16;
  std::u16string out(ansi.size(), u'\0');
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    out[i] = table[static_cast<unsigned char>(ansi[i])];
  }
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  const auto& table = Tables().from_utf16;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t ch = text[i];
    if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;  // a character outside the BMP: one "?" for the pair
      out.push_back('?');
      continue;
    }
    auto it = table.find(ch);
    out.push_back(it == table.end() ? '?' : static_cast<char>(it->second));
  }
  return out;
}

std::string Ansi(std::string_view utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); }

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
