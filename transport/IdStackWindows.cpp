#include "transport/IdStackWindows.h"

#include <cstring>
#include <limits>
#include <mutex>

#include "framework/core/SysUtils.h"

std::atomic<bool> StackStarted{false};

namespace {

std::mutex g_start_mutex;  // makes the first start-up happen once

TIdIPv4Address FromInAddr(in_addr address) {
  TIdIPv4Address result;
  std::memcpy(result.data(), &address.s_addr, 4);
  return result;
}

in_addr ToInAddr(const TIdIPv4Address& address) {
  in_addr result;
  std::memcpy(&result.s_addr, address.data(), 4);
  return result;
}

// The library is cleaned up after the program's static objects are gone and
// before IdWinSock2 unloads it (finalisers with higher numbers run first).
__attribute__((destructor(201))) void CleanUpAtProgramEnd() {
  if (!StackStarted.exchange(false)) return;
  try {
    ws2::WSACleanup();
  } catch (...) {
    // Nothing can be reported this late; the process is ending anyway.
  }
}

}  // namespace

std::unique_ptr<TIdStack> NewStackWindows() {
  return std::make_unique<TIdStackWindows>();
}

TIdStackClass ConfiguredStackClass = &NewStackWindows;

TIdStackWindows::TIdStackWindows() {
  std::lock_guard<std::mutex> lock(g_start_mutex);
  if (StackStarted.load()) return;
  TWSAData data;
  if (ws2::WSAStartup(0x0202, &data) != 0) {
    throw EIdStackInitializationFailed("Winsock Initialization Error.");
  }
  StackStarted.store(true);
}

TIdStackWindows::~TIdStackWindows() = default;

void TIdStackWindows::FillHostAddresses() {
  if (host_addresses_ == nullptr) host_addresses_ = std::make_unique<TStringList>();
  host_addresses_->Clear();
  std::vector<in_addr> addresses;
  if (ws2::gethostbyname(LookupLocalHostName(), &addresses) != 0) {
    CheckSocketResult(SOCKET_ERROR);
    return;  // not reached: with nothing ignored the check raises
  }
  for (in_addr address : addresses) host_addresses_->Add(AddressToIPText(FromInAddr(address)));
}

std::string TIdStackWindows::FirstHostAddress() {
  return HostAddressList()->Strings(0);
}

TStringList* TIdStackWindows::HostAddressList() {
  if (host_addresses_ == nullptr) host_addresses_ = std::make_unique<TStringList>();
  FillHostAddresses();
  return host_addresses_.get();
}

TSocket TIdStackWindows::SockAccept(TSocket socket, std::string* peer_ip, int* peer_port) {
  TSockAddrIn record{};
  int length = sizeof record;
  TSocket result = ws2::accept(socket, &record, &length);
  if (result != INVALID_SOCKET) {
    *peer_ip = AddressToIPText(FromInAddr(record.sin_addr));
    *peer_port = ntohs(record.sin_port);
  }
  return result;
}

TSockAddrIn TIdStackWindows::MakeAddress(int family, const std::string& ip, int port,
                                         bool allow_any) {
  TSockAddrIn record{};
  record.sin_family = static_cast<decltype(record.sin_family)>(family);
  if (ip.empty() && allow_any) {
    record.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    record.sin_addr = ToInAddr(IPTextToAddress(ip));
  }
  record.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
  return record;
}

int TIdStackWindows::SockBind(TSocket socket, int family, const std::string& ip, int port) {
  TSockAddrIn record = MakeAddress(family, ip, port, true);
  // Without it, any program of the same user could bind the port again with
  // SO_REUSEADDR and take the datagrams meant for this socket. A failure
  // here (a socket that is no socket) shows in the bind's own answer.
  const int exclusive = 1;
  ws2::setsockopt(socket, SOL_SOCKET_WS, SO_EXCLUSIVEADDRUSE_WS, &exclusive, sizeof exclusive);
  return ws2::bind(socket, &record, sizeof record);
}

int TIdStackWindows::SockClose(TSocket socket) {
  return ws2::closesocket(socket);
}

int TIdStackWindows::SockConnect(TSocket socket, int family, const std::string& ip, int port) {
  TSockAddrIn record = MakeAddress(family, ip, port, false);
  return ws2::connect(socket, &record, sizeof record);
}

std::string TIdStackWindows::LookupHostAddress(const std::string& host) {
  std::vector<in_addr> addresses;
  if (ws2::gethostbyname(host, &addresses) != 0) {
    CheckSocketResult(SOCKET_ERROR);
    return std::string();  // not reached
  }
  return AddressToIPText(FromInAddr(addresses.front()));
}

std::string TIdStackWindows::LookupLocalHostName() {
  char name[250] = {};
  ws2::gethostname(name, sizeof name - 1);
  return name;
}

std::string TIdStackWindows::LookupHostName(const std::string& ip) {
  in_addr address;
  address.s_addr = ws2::inet_addr(ip);
  std::string name;
  if (ws2::gethostbyaddr(address, &name) != 0) {
    CheckSocketResult(SOCKET_ERROR);
    return std::string();  // not reached
  }
  return name;
}

int TIdStackWindows::LookupServicePort(const std::string& name) {
  int port = 0;
  if (ws2::getservbyname(name, &port) == 0) return port;
  std::int64_t value = 0;
  if (!TryReadInteger(name, value) || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw EIdInvalidServiceName(name + " is not a valid service.");
  }
  return static_cast<int>(value);
}

std::unique_ptr<TStringList> TIdStackWindows::LookupServiceNames(int port) {
  auto list = std::make_unique<TStringList>();
  std::vector<std::string> names;
  if (ws2::getservbyport(port, &names) == 0) {
    for (std::string& name : names) list->Add(std::move(name));
  }
  return list;
}

std::uint16_t TIdStackWindows::HostToNetShort(std::uint16_t value) {
  return htons(value);
}

int TIdStackWindows::SockListen(TSocket socket, int backlog) {
  return ws2::listen(socket, backlog);
}

std::uint16_t TIdStackWindows::NetToHostShort(std::uint16_t value) {
  return ntohs(value);
}

std::uint32_t TIdStackWindows::HostToNetLong(std::uint32_t value) {
  return htonl(value);
}

std::uint32_t TIdStackWindows::NetToHostLong(std::uint32_t value) {
  return ntohl(value);
}

int TIdStackWindows::SockRecv(TSocket socket, void* buffer, int length, int flags) {
  return ws2::recv(socket, buffer, length, flags);
}

int TIdStackWindows::SockRecvFrom(TSocket socket, void* buffer, int length, int flags,
                                  std::string* peer_ip, int* peer_port) {
  TSockAddrIn record{};
  int record_length = sizeof record;
  int count = ws2::recvfrom(socket, buffer, length, flags, &record, &record_length);
  if (count != SOCKET_ERROR) {
    *peer_ip = AddressToIPText(FromInAddr(record.sin_addr));
    *peer_port = ntohs(record.sin_port);
  }
  return count;
}

int TIdStackWindows::SockSelect(TIdSocketList* read_list, TIdSocketList* write_list,
                                TIdSocketList* error_list, int timeout_ms) {
  TIdSocketList* lists[3] = {read_list, write_list, error_list};
  TFdSet sets[3];
  for (int k = 0; k < 3; ++k) {
    if (lists[k] == nullptr) continue;
    if (lists[k]->size() > FD_SETSIZE_WS) throw EIdStackSetSizeExceeded("Set Size Exceeded.");
    for (TSocket handle : *lists[k]) {
      // A handle that is already in the set is not added again.
      bool present = false;
      for (std::uint32_t i = 0; i < sets[k].fd_count; ++i)
        present |= static_cast<TSocket>(sets[k].fd_array[i]) == handle;
      if (!present) sets[k].fd_array[sets[k].fd_count++] = handle;
    }
  }
  TTimeVal limit;
  if (timeout_ms != kIdWaitForever) {
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
  }
  const int result = ws2::select(
      0, read_list != nullptr ? &sets[0] : nullptr, write_list != nullptr ? &sets[1] : nullptr,
      error_list != nullptr ? &sets[2] : nullptr, timeout_ms == kIdWaitForever ? nullptr : &limit);
  // The lists keep their storage: clearing and refilling never allocates.
  for (int k = 0; k < 3; ++k) {
    if (lists[k] == nullptr) continue;
    lists[k]->clear();
    if (result == SOCKET_ERROR) continue;
    for (std::uint32_t i = 0; i < sets[k].fd_count; ++i)
      lists[k]->push_back(static_cast<TSocket>(sets[k].fd_array[i]));
  }
  return result;
}

int TIdStackWindows::SockSend(TSocket socket, const void* buffer, int length, int flags) {
  return ws2::send(socket, buffer, length, flags);
}

int TIdStackWindows::SockSendTo(TSocket socket, const void* buffer, int length, int flags,
                                const std::string& ip, int port) {
  TSockAddrIn record = MakeAddress(AF_INET_WS, ip, port, false);
  return ws2::sendto(socket, buffer, length, flags, &record, sizeof record);
}

int TIdStackWindows::SockSetOption(TSocket socket, int level, int name, const void* value,
                                   int length) {
  return ws2::setsockopt(socket, level, name, value, length);
}

TSocket TIdStackWindows::SockOpen(int family, int type, int protocol) {
  return ws2::socket(family, type, protocol);
}

int TIdStackWindows::SockShutdown(TSocket socket, int how) {
  return ws2::shutdown(socket, how);
}

std::string TIdStackWindows::SocketErrorText(int code) {
  if (code == WSAHOST_NOT_FOUND) return Format("Socket Error # %d\r\n%s", code, "Host not found.");
  return TIdStack::SocketErrorText(code);
}

int TIdStackWindows::LastSocketError() {
  return ws2::WSAGetLastError();
}

void TIdStackWindows::SockPeerName(TSocket socket, int* family, std::string* ip, int* port) {
  TSockAddrIn record{};
  int length = sizeof record;
  CheckSocketResult(ws2::getpeername(socket, &record, &length));
  *family = record.sin_family;
  *ip = AddressToIPText(FromInAddr(record.sin_addr));
  *port = ntohs(record.sin_port);
}

void TIdStackWindows::SockLocalName(TSocket socket, int* family, std::string* ip, int* port) {
  TSockAddrIn record{};
  int length = sizeof record;
  CheckSocketResult(ws2::getsockname(socket, &record, &length));
  *family = record.sin_family;
  *ip = AddressToIPText(FromInAddr(record.sin_addr));
  *port = ntohs(record.sin_port);
}

int TIdStackWindows::SockGetOption(TSocket socket, int level, int name, void* value, int* length) {
  return ws2::getsockopt(socket, level, name, value, length);
}

std::string TIdStackWindows::AddressToIPText(const TIdIPv4Address& address) {
  // Written digit by digit: every datagram received has its sender's address
  // written out, and a formatted print cost as much as the rest of the receive.
  std::string text;
  text.reserve(15);
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i > 0) text += '.';
    const unsigned octet = address[i];
    if (octet >= 100) text += static_cast<char>('0' + octet / 100);
    if (octet >= 10) text += static_cast<char>('0' + octet / 10 % 10);
    text += static_cast<char>('0' + octet % 10);
  }
  return text;
}

void TIdStackWindows::FillAddressFromIPText(const std::string& text, TIdIPv4Address* address) {
  // Concatenated rather than formatted, so that a text with a NUL in it is
  // quoted whole.
  if (!ParseIPText(text, address)) throw EIdInvalidIPAddress(text + " is not a valid IP address.");
}

TSocket TIdStackWindows::NewWakeHandle() {
  return ws2::CreateWakeEvent();
}

int TIdStackWindows::SignalWakeHandle(TSocket handle) {
  return ws2::SetWakeEvent(handle);
}

int TIdStackWindows::ResetWakeHandle(TSocket handle) {
  return ws2::ResetWakeEvent(handle);
}

int TIdStackWindows::CloseWakeHandle(TSocket handle) {
  return ws2::CloseWakeEvent(handle);
}
