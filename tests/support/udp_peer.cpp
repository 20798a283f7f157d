#include "support/udp_peer.h"

#include <vector>

namespace loopback {

void StartLibrary() {
  TWSAData data;
  ws2::WSAStartup(0x0202, &data);
}

std::uint32_t Ip(const char* text) {
  return ws2::inet_addr(text);
}

TSockAddrIn Address(const char* ip, int port) {
  TSockAddrIn address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = Ip(ip);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

UdpSocket::UdpSocket(int port, const char* ip) {
  StartLibrary();
  handle_ = ws2::socket(AF_INET_WS, SOCK_DGRAM_WS, 0);
  if (handle_ == INVALID_SOCKET) return;
  TSockAddrIn address = Address(ip, port);
  if (ws2::bind(handle_, &address, sizeof address) != 0) return;
  int length = sizeof address;
  ws2::getsockname(handle_, &address, &length);
  port_ = ntohs(address.sin_port);
  bound_ = true;
}

UdpSocket::~UdpSocket() {
  if (handle_ != INVALID_SOCKET) ws2::closesocket(handle_);
}

int UdpSocket::SendTo(int port, const std::string& bytes) {
  TSockAddrIn to = Address("127.0.0.1", port);
  return ws2::sendto(handle_, bytes.data(), static_cast<int>(bytes.size()), 0, &to, sizeof to);
}

bool WaitReadable(TSocket s) {
  TFdSet set;
  set.fd_count = 1;
  set.fd_array[0] = s;
  TTimeVal limit;
  limit.tv_sec = 5;
  return ws2::select(0, &set, nullptr, nullptr, &limit) == 1;
}

std::string UdpSocket::Receive(int room) {
  if (!WaitReadable(handle_)) return "<none>";
  std::vector<char> buffer(static_cast<std::size_t>(room));
  int n = ws2::recv(handle_, buffer.data(), room, 0);
  if (n < 0) return "<none>";
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::optional<std::string> UdpSocket::TryReceive() {
  TFdSet set;
  set.fd_count = 1;
  set.fd_array[0] = handle_;
  TTimeVal no_wait;
  if (ws2::select(0, &set, nullptr, nullptr, &no_wait) != 1) return std::nullopt;
  // Room for the largest datagram over IPv4.
  std::string buffer(65536, '\0');
  int n = ws2::recv(handle_, buffer.data(), static_cast<int>(buffer.size()), 0);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

bool PortFree(int port) {
  return UdpSocket(port).ok();
}

}  // namespace loopback
