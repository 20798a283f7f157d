// Resolves any bytes as a host text. ResolveToIP must never crash and never
// raise anything but the transport's own exceptions; a text that IsIPText
// accepts comes back unchanged, and whatever comes back is an IPv4 text.
//
// Texts that are no IPv4 text go to the system resolver, which would ask the
// machine's name servers about them. The fuzzer therefore refuses to start
// while any network interface other than loopback is up: fuzz/run.sh runs it
// in a network namespace of its own where only loopback exists, so every
// query dies on the machine.
#include <ifaddrs.h>
#include <net/if.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/core/SysUtils.h"
#include "transport/IdStack.h"
#include "transport/IdStackWindows.h"

namespace {

// The name of an interface that is up and is not loopback, or empty.
std::string InterfaceBeyondLoopback() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return "(interfaces unreadable)";
  std::string found;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if ((entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_LOOPBACK) == 0) {
      found = entry->ifa_name;
      break;
    }
  }
  ::freeifaddrs(list);
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const std::string outside = InterfaceBeyondLoopback();
  if (!outside.empty()) {
    std::fprintf(stderr,
                 "resolve_host_fuzzer: interface %s is up; name look-ups would leave the "
                 "machine. Run it through fuzz/run.sh (a network namespace with only "
                 "loopback).\n",
                 outside.c_str());
    std::exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TIdStackWindows stack;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool ip_text = TIdStack::IsIPText(text);
  std::string result;
  try {
    result = stack.ResolveToIP(text);
  } catch (const Exception&) {
    // A text that is already an address needs no look-up and cannot fail.
    if (ip_text) __builtin_trap();
    return 0;
  }
  if (ip_text && result != text) __builtin_trap();
  if (!TIdStack::IsIPText(result)) __builtin_trap();
  return 0;
}
