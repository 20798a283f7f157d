// CP1251 on Linux: tables built once from iconv's converter, then pure
// look-ups.
#include <iconv.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <unordered_map>

#include "framework/core/Ansi.h"

namespace {

struct Cp1251Tables {
  std::array<char16_t, 256> to_utf16{};
  std::unordered_map<char16_t, unsigned char> from_utf16;

  Cp1251Tables() {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error("iconv has no CP1251 converter");
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
