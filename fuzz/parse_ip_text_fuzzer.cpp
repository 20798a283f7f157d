// Reads any bytes as an IPv4 text. Beyond not crashing, an accepted text must
// survive its own formatting: parse -> AddressToIPText -> parse gives the same
// address, the formatted text is in canonical dotted form and formats to
// itself, and IsIPText agrees with ParseIPText.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/IdStack.h"
#include "transport/IdStackWindows.h"

namespace {

bool IsCanonicalDottedQuad(const std::string& text) {
  int numbers = 0;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (i - start < 3) value = value * 10 + (text[i] - '0');
      ++i;
    }
    const std::size_t digits = i - start;
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0')) {
      return false;
    }
    ++numbers;
    if (i == text.size()) break;
    if (text[i] != '.') return false;
    ++i;
  }
  return numbers == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TIdStackWindows stack;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TIdIPv4Address address;
  const bool valid = TIdStack::ParseIPText(text, &address);
  if (valid != TIdStack::IsIPText(text)) __builtin_trap();
  if (!valid) {
    if (address != TIdIPv4Address{}) __builtin_trap();
    return 0;
  }
  const std::string formatted = stack.AddressToIPText(address);
  if (!IsCanonicalDottedQuad(formatted)) __builtin_trap();
  TIdIPv4Address again;
  if (!TIdStack::ParseIPText(formatted, &again) || again != address) __builtin_trap();
  if (stack.AddressToIPText(again) != formatted) __builtin_trap();
  // A text that is already canonical is its own formatting.
  if (IsCanonicalDottedQuad(std::string(text)) && formatted != text) __builtin_trap();
  return 0;
}
