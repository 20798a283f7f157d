#include "transport/IdStack.h"

#include <cstring>

#include "framework/core/SysUtils.h"

TIdStack* SharedStack = nullptr;

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Base texts of the socket error messages, byte for byte as users and peers
// have always seen them (10035 ends in a blank, 10066 has no full stop).
constexpr ErrorText kErrorTexts[] = {
    {WSAEINTR, "Interrupted system call."},
    {WSAEBADF, "Bad file number."},
    {WSAEACCES, "Access denied."},
    {WSAEFAULT, "Bad address."},
    {WSAEINVAL, "Invalid argument."},
    {WSAEMFILE, "Too many open files."},
    {WSAEWOULDBLOCK, "Operation would block. "},
    {WSAEINPROGRESS, "Operation now in progress."},
    {WSAEALREADY, "Operation already in progress."},
    {WSAENOTSOCK, "Socket operation on non-socket."},
    {WSAEDESTADDRREQ, "Destination address required."},
    {WSAEMSGSIZE, "Message too long."},
    {WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {WSAENOPROTOOPT, "Bad protocol option."},
    {WSAEPROTONOSUPPORT, "Protocol not supported."},
    {WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {WSAEOPNOTSUPP, "Operation not supported on socket."},
    {WSAEPFNOSUPPORT, "Protocol family not supported."},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {WSAEADDRINUSE, "Address already in use."},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {WSAENETDOWN, "Network is down."},
    {WSAENETUNREACH, "Network is unreachable."},
    {WSAENETRESET, "Net dropped connection or reset."},
    {WSAECONNABORTED, "Software caused connection abort."},
    {WSAECONNRESET, "Connection reset by peer."},
    {WSAENOBUFS, "No buffer space available."},
    {WSAEISCONN, "Socket is already connected."},
    {WSAENOTCONN, "Socket is not connected."},
    {WSAESHUTDOWN, "Cannot send or receive after socket is closed."},
    {WSAETOOMANYREFS, "Too many references, cannot splice."},
    {WSAETIMEDOUT, "Connection timed out."},
    {WSAECONNREFUSED, "Connection refused."},
    {WSAELOOP, "Too many levels of symbolic links."},
    {WSAENAMETOOLONG, "File name too long."},
    {WSAEHOSTDOWN, "Host is down."},
    {WSAEHOSTUNREACH, "No route to host."},
    {WSAENOTEMPTY, "Directory not empty"},
};

// One part of an IPv4 text read as an integer within 0..max. An empty part,
// or one that does not read, is out of range.
bool ReadPart(std::string_view part, std::int64_t max, std::int64_t* value) {
  if (part.empty() || !TryReadInteger(part, *value)) return false;
  return *value >= 0 && *value <= max;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

}  // namespace

TIdStack::TIdStack() = default;

TIdStack::~TIdStack() = default;

std::string TIdStack::SocketErrorText(int code) {
  const char* base = "";
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) {
      base = entry.text;
      break;
    }
  }
  return Format("Socket Error # %d\r\n%s", code, base);
}

std::unique_ptr<TIdStack> TIdStack::NewStack() {
  return ConfiguredStackClass();
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> ignored) {
  if (result != SOCKET_ERROR) return false;
  const int code = LastSocketError();
  recent_error_.store(code, std::memory_order_relaxed);
  for (int ignored_code : ignored) {
    if (ignored_code == code) return true;
  }
  ThrowSocketError(code);
}

void TIdStack::ThrowSocketError(int code) {
  throw EIdSocketError(code, SocketErrorText(code));
}

TSocket TIdStack::NewSocket(int type, int protocol) {
  TSocket socket = SockOpen(AF_INET_WS, type, protocol);
  if (socket == INVALID_SOCKET) throw EIdInvalidSocket("Cannot allocate socket.");
  return socket;
}

std::string TIdStack::ResolveToIP(const std::string& host) {
  if (EqualsIgnoringCase(host, "LOCALHOST")) return "127.0.0.1";
  if (IsIPText(host)) return host;
  return LookupHostAddress(host);
}

bool TIdStack::IsIPText(std::string_view text) {
  TIdIPv4Address address;
  return ParseIPText(text, &address);
}

bool TIdStack::ParseIPText(std::string_view text, TIdIPv4Address* address) {
  *address = TIdIPv4Address{};
  // Split at the first three dots; the fourth part keeps any further dots.
  std::string_view parts[4];
  std::size_t start = 0;
  int split = 0;
  for (; split < 3; ++split) {
    std::size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) {
      parts[split] = text.substr(start);
      break;
    }
    parts[split] = text.substr(start, dot - start);
    start = dot + 1;
  }
  if (split == 3) parts[3] = text.substr(start);

  // The first empty part after the first chooses the shape.
  int used = 4;
  for (int i = 1; i < 4; ++i) {
    if (parts[i].empty()) {
      used = i;
      break;
    }
  }
  std::int64_t v[4] = {};
  switch (used) {
    case 1:
      if (!ReadPart(parts[0], 0xFFFFFFFFLL, &v[0])) return false;
      *address = {static_cast<std::uint8_t>(v[0] >> 24), static_cast<std::uint8_t>(v[0] >> 16),
                  static_cast<std::uint8_t>(v[0] >> 8), static_cast<std::uint8_t>(v[0])};
      return true;
    case 2:
      if (!ReadPart(parts[0], 255, &v[0]) || !ReadPart(parts[1], 0xFFFFFF, &v[1])) return false;
      *address = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1] >> 16),
                  static_cast<std::uint8_t>(v[1] >> 8), static_cast<std::uint8_t>(v[1])};
      return true;
    case 3:
      if (!ReadPart(parts[0], 255, &v[0]) || !ReadPart(parts[1], 255, &v[1]) ||
          !ReadPart(parts[2], 0xFFFF, &v[2])) {
        return false;
      }
      *address = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]),
                  static_cast<std::uint8_t>(v[2] >> 8), static_cast<std::uint8_t>(v[2])};
      return true;
    default:
      for (int i = 0; i < 4; ++i) {
        if (!ReadPart(parts[i], 255, &v[i])) return false;
      }
      *address = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]),
                  static_cast<std::uint8_t>(v[2]), static_cast<std::uint8_t>(v[3])};
      return true;
  }
}

TIdIPv4Address TIdStack::IPTextToAddress(const std::string& text) {
  TIdIPv4Address address;
  FillAddressFromIPText(text, &address);
  return address;
}
