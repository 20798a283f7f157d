// CP1251 on Windows: the system's own converter for code page 1251.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "framework/core/Ansi.h"

namespace {

constexpr UINT kCodePage = 1251;

bool IsHighSurrogate(char16_t ch) {
  return ch >= 0xD800 && ch <= 0xDBFF;
}
bool IsLowSurrogate(char16_t ch) {
  return ch >= 0xDC00 && ch <= 0xDFFF;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out(ansi.size(), u'\0');
  if (ansi.empty()) return out;
  // Every byte of code page 1251 has one UTF-16 unit, so the size is known.
  const int n =
      MultiByteToWideChar(kCodePage, 0, ansi.data(), static_cast<int>(ansi.size()),
                          reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  // A character outside the BMP has no code and becomes one "?" for its two
  // units; the converter alone could give two.
  std::u16string joined;
  bool any_pair = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 1 < text.size() && IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) {
      if (!any_pair) joined.assign(text.substr(0, i));
      any_pair = true;
      joined.push_back(u'?');
      ++i;
    } else if (any_pair) {
      joined.push_back(text[i]);
    }
  }
  if (any_pair) text = joined;
  std::string out(text.size(), '\0');
  if (text.empty()) return out;
  // No best fit: a character without a code becomes "?", never a look-alike.
  const int n = WideCharToMultiByte(
      kCodePage, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(text.data()),
      static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()), "?", nullptr);
  out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return out;
}
