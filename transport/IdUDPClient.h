// The sending UDP endpoint: a destination Host and Port, and the one-argument
// SendText that sends a text there.
//
// Writing Host or Port only stores the value; the host text is resolved anew
// at every send, so a Host set just before a send is the one used. The chat
// window sets Host to each recipient's address text and sends its line.
//
// Thread-safety: none, as TIdUDPBase.
#pragma once

#include <string>

#include "transport/IdUDPBase.h"

class TIdUDPClient : public TIdUDPBase {
 public:
  using TIdUDPBase::TIdUDPBase;

  using TIdUDPBase::SendText;
  // Sends text as one datagram to Host and Port.
  void SendText(const std::string& text);

  // Published, in this order after the inherited ones.
  const std::string& Host() const { return host_; }
  void SetHost(std::string host) { host_ = std::move(host); }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  // Stored only; no operation reads it. The default waits without limit.
  int ReceiveTimeout() const { return receive_timeout_; }
  void SetReceiveTimeout(int timeout_ms) { receive_timeout_ = timeout_ms; }
};
