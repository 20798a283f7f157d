#include "transport/IdSocketHandle.h"

#include <typeinfo>

#include "framework/core/SysUtils.h"

TIdSocketHandle::TIdSocketHandle(TCollection* collection) : TCollectionItem(collection) {
  ClearAddresses(true);
  client_port_min_ = 0;
  client_port_max_ = 0;
  if (auto* handles = dynamic_cast<TIdSocketHandles*>(collection)) port_ = handles->DefaultPort();
}

TIdSocketHandle::~TIdSocketHandle() {
  TIdSocketHandle::ReleaseSocket();
}

void TIdSocketHandle::OpenSocket(int socket_type, int protocol) {
  ReleaseSocket();
  system_socket_.store(SharedStack->NewSocket(socket_type, protocol), std::memory_order_release);
  has_socket_.store(true, std::memory_order_release);
}

void TIdSocketHandle::ReleaseSocket() {
  // The flag goes first, so that a listener that looks at it never starts on
  // a socket that is being closed; the exchange makes a second release a no-op
  // even when two threads release at once.
  if (!has_socket_.exchange(false, std::memory_order_acq_rel)) return;
  const TSocket socket = SystemSocket();
  SharedStack->SockShutdown(socket, SD_SEND);
  SharedStack->SockClose(socket);
}

void TIdSocketHandle::BindLocal() {
  if (port_ != 0 || client_port_min_ == 0 || client_port_max_ == 0) {
    if (!TryBindAt()) {
      throw EIdCouldNotBindSocket("Could not bind socket. Address and port are already in use.");
    }
    return;
  }
  if (client_port_min_ > client_port_max_) {
    throw EIdInvalidPortRange(
        Format("Invalid Port Range (%d - %d)", client_port_min_, client_port_max_));
  }
  if (!BindInPortRange()) {
    throw EIdCanNotBindPortInRange(
        Format("Can not bind in port range (%d - %d)", client_port_min_, client_port_max_));
  }
}

bool TIdSocketHandle::TryBindAt() {
  const int result = SharedStack->SockBind(SystemSocket(), AF_INET_WS, ip_, port_);
  if (SharedStack->CheckSocketResult(result, {WSAEADDRINUSE})) return false;
  RefreshLocal();
  return true;
}

bool TIdSocketHandle::BindInPortRange() {
  if (client_port_min_ > client_port_max_) return false;
  for (int port = client_port_max_; port >= client_port_min_; --port) {
    port_ = port;
    if (TryBindAt()) return true;
  }
  return false;
}

void TIdSocketHandle::SendDatagram(const std::string& ip, int port, const void* buffer, int size) {
  const int sent = SharedStack->SockSendTo(SystemSocket(), buffer, size, 0, ip, port);
  if (sent == SOCKET_ERROR) {
    if (SharedStack->LastSocketError() == WSAEMSGSIZE) {
      throw EIdPackageSizeTooBig("Package Size Too Big.");
    }
    SharedStack->CheckSocketResult(SOCKET_ERROR);
  } else if (sent != size) {
    throw EIdNotAllBytesSent("Not all bytes sent.");
  }
}

int TIdSocketHandle::ReceiveDatagram(void* buffer, int length, int flags, std::string* peer_ip,
                                     int* peer_port) {
  return SharedStack->SockRecvFrom(SystemSocket(), buffer, length, flags, peer_ip, peer_port);
}

void TIdSocketHandle::SetOption(int level, int name, const void* value, int length) {
  SharedStack->CheckSocketResult(
      SharedStack->SockSetOption(SystemSocket(), level, name, value, length));
}

void TIdSocketHandle::RecordPeer(const std::string& ip, int port) {
  remote_ip_ = ip;
  remote_port_ = port;
}

void TIdSocketHandle::ClearAddresses(bool reset_local) {
  has_socket_.store(false, std::memory_order_release);
  system_socket_.store(INVALID_SOCKET, std::memory_order_release);
  if (reset_local) {
    ip_.clear();
    port_ = 0;
  }
  remote_ip_.clear();
  remote_port_ = 0;
}

void TIdSocketHandle::RefreshLocal() {
  int family = 0;
  std::string ip;
  int port = 0;
  SharedStack->SockLocalName(SystemSocket(), &family, &ip, &port);
  ip_ = std::move(ip);
  port_ = port;
}

void TIdSocketHandle::RefreshPeer() {
  int family = 0;
  std::string ip;
  int port = 0;
  SharedStack->SockPeerName(SystemSocket(), &family, &ip, &port);
  remote_ip_ = std::move(ip);
  remote_port_ = port;
}

int TIdSocketHandle::ConnectPeer(int family) {
  const int result = SharedStack->SockConnect(SystemSocket(), family, remote_ip_, remote_port_);
  if (result != SOCKET_ERROR) {
    RefreshLocal();
    RefreshPeer();
  }
  return result;
}

void TIdSocketHandle::Assign(const TPersistent* source) {
  if (source != nullptr && typeid(*source) == typeid(TIdSocketHandle)) {
    const auto* other = static_cast<const TIdSocketHandle*>(source);
    if (other == this) return;
    ip_ = other->ip_;
    port_ = other->port_;
    remote_ip_ = other->remote_ip_;
    remote_port_ = other->remote_port_;
    return;
  }
  TCollectionItem::Assign(source);
}

TIdSocketHandles::TIdSocketHandles(TPersistent* owner)
    : TOwnedCollection(owner, [](TCollection* collection) -> TCollectionItem* {
        return new TIdSocketHandle(collection);
      }) {}

TIdSocketHandle* TIdSocketHandles::AddBinding() {
  auto* binding = static_cast<TIdSocketHandle*>(Add());
  binding->SetPort(default_port_);
  return binding;
}

TIdSocketHandle* TIdSocketHandles::FindByHandle(TSocket handle) const {
  for (int i = Count() - 1; i >= 0; --i) {
    TIdSocketHandle* binding = Items(i);
    if (binding->SystemSocket() == handle) return binding;
  }
  return nullptr;
}
