// Helpers for the socket tests: UDP sockets on 127.0.0.1 made straight through
// the platform layer, so that a test can hold a port or receive a datagram
// independently of the stack or binding under test.
#pragma once

#include <cstdint>
#include <string>

#include "transport/IdWinSock2.h"

namespace loopback {

// Starts the sockets library for the test process (idempotent).
void StartLibrary();

TSockAddrIn Address(const char* ip, int port);
std::uint32_t Ip(const char* text);

// A UDP socket bound to 127.0.0.1:port (port 0: any free one). Holding a
// UdpSocket holds its port.
class UdpSocket {
 public:
  explicit UdpSocket(int port = 0);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool ok() const { return bound_; }
  TSocket handle() const { return handle_; }
  int port() const { return port_; }

  // Sends to 127.0.0.1:port; returns sendto's result.
  int SendTo(int port, const std::string& bytes);
  // Waits up to five seconds for a datagram; returns its bytes, or "<none>".
  std::string Receive(int room = 70000);

 private:
  TSocket handle_;
  bool bound_ = false;
  int port_ = 0;
};

// Waits up to five seconds until s has a datagram to read.
bool WaitReadable(TSocket s);

// True when a UDP socket can bind 127.0.0.1:port right now.
bool PortFree(int port);

}  // namespace loopback
