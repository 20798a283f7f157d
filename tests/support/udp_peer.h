// Peers for the tests: UDP sockets on loopback made straight through the
// platform layer, so that a test can hold a port, send a datagram as another
// program would, or receive one, independently of the stack, binding or window
// under test. Built for Linux and for Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transport/IdWinSock2.h"

namespace loopback {

// Starts the sockets library for the test process (idempotent).
void StartLibrary();

TSockAddrIn Address(const char* ip, int port);
std::uint32_t Ip(const char* text);

// A UDP socket bound to ip:port (port 0: any free one; ip "0.0.0.0": every
// address). Holding a UdpSocket holds its port. Starts the library itself.
class UdpSocket {
 public:
  explicit UdpSocket(int port = 0, const char* ip = "127.0.0.1");
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
  // The next datagram if one is waiting now; none otherwise. No wait.
  std::optional<std::string> TryReceive();

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
