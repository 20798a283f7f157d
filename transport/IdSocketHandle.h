// Bindings: one socket of the transport with its local address, the last peer
// it heard from and an optional range of local ports to bind in.
//
// A TIdSocketHandle opens, binds and closes its socket, sends and receives
// datagrams and sets options, always through SharedStack. A binding in a
// TIdSocketHandles belongs to that collection; a binding without one belongs to
// the UDP endpoint that made it. A binding owns its socket and closes it when
// destroyed.
//
// States: new (no socket, SystemSocket -1), open (HasSocket), closed (no
// socket, SystemSocket keeps the closed handle's value). Operations other than
// OpenSocket and ReleaseSocket do not look at HasSocket: they pass on whatever
// SystemSocket holds, and the platform answers for it.
//
// REQUIRES: SharedStack exists while a binding's socket operations run (the
// transport components keep it alive).
//
// Thread-safety: a UDP server's bindings are shared, without a lock, between
// the main thread (open, bind, release) and the server's listener thread
// (SystemSocket, FindByHandle, RecordPeer). SystemSocket and HasSocket are
// atomic for that; ReleaseSocket clears HasSocket before it closes the socket.
// The peer fields are written by the listener and read by the main thread only
// while the listener waits for the main thread to take a datagram.
#pragma once

#include <atomic>
#include <string>

#include "framework/core/Classes.h"
#include "transport/IdException.h"
#include "transport/IdStack.h"

class EIdPackageSizeTooBig : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdNotAllBytesSent : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdInvalidPortRange : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class TIdSocketHandle : public TCollectionItem {
 public:
  // Adds the binding to collection when one is given; a binding made by a
  // TIdSocketHandles starts with its DefaultPort.
  explicit TIdSocketHandle(TCollection* collection = nullptr);
  // Closes the socket, then leaves the collection.
  ~TIdSocketHandle() override;

  // Closes any open socket (ReleaseSocket) and opens a new IPv4 one. Raises
  // EIdInvalidSocket "Cannot allocate socket."; addresses stay as they are.
  void OpenSocket(int socket_type, int protocol);
  // Shuts the socket down for sending and closes it, when one is open. Never
  // raises; SystemSocket keeps the old value.
  virtual void ReleaseSocket();

  // Binds to IP and Port, or, when Port is 0 and both ends of the port range
  // are set, to the highest free port of the range. Raises
  // EIdCouldNotBindSocket, EIdInvalidPortRange (without an attempt),
  // EIdCanNotBindPortInRange, or EIdSocketError for any error but 10048.
  void BindLocal();
  // One bind at IP and Port: false when the address is in use; true after a
  // bind, with IP and Port read back from the socket.
  bool TryBindAt();
  // Tries ClientPortMax down to ClientPortMin; false when none is free, Port
  // then holding ClientPortMin.
  bool BindInPortRange();

  // Sends size bytes as one datagram to an IPv4 text and port. Raises
  // EIdPackageSizeTooBig (10040), EIdNotAllBytesSent, EIdSocketError, or
  // EIdInvalidIPAddress before anything is sent.
  void SendDatagram(const std::string& ip, int port, const void* buffer, int size);
  // One datagram; the count is unchecked (-1 on failure) and the peer is only
  // returned, not recorded.
  virtual int ReceiveDatagram(void* buffer, int length, int flags, std::string* peer_ip,
                              int* peer_port);
  // Level and name in Windows numbering; raises EIdSocketError.
  void SetOption(int level, int name, const void* value, int length);

  void RecordPeer(const std::string& ip, int port);
  // Forgets the socket (without closing it) and the peer; the local address
  // too when reset_local.
  void ClearAddresses(bool reset_local);
  // Read IP and Port, or RemoteIP and RemotePort, back from the socket; raise
  // EIdSocketError.
  void RefreshLocal();
  void RefreshPeer();
  // Connects to RemoteIP:RemotePort; returns the platform's result unchecked.
  virtual int ConnectPeer(int family);

  // From another TIdSocketHandle: IP, Port, RemoteIP and RemotePort (not the
  // socket, not the port range). Anything else: the framework's copy.
  void Assign(const TPersistent* source) override;

  // Published.
  int ClientPortMin() const { return client_port_min_; }
  void SetClientPortMin(int port) { client_port_min_ = port; }
  int ClientPortMax() const { return client_port_max_; }
  void SetClientPortMax(int port) { client_port_max_ = port; }
  const std::string& IP() const { return ip_; }
  void SetIP(std::string ip) { ip_ = std::move(ip); }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }

  const std::string& RemoteIP() const { return remote_ip_; }
  int RemotePort() const { return remote_port_; }
  TSocket SystemSocket() const { return system_socket_.load(std::memory_order_acquire); }
  bool HasSocket() const { return has_socket_.load(std::memory_order_acquire); }

 private:
  std::atomic<TSocket> system_socket_{INVALID_SOCKET};
  std::atomic<bool> has_socket_{false};
  std::string ip_;
  std::string remote_ip_;
  int port_ = 0;
  int remote_port_ = 0;
  int client_port_min_ = 0;
  int client_port_max_ = 0;
};

// The bindings of one UDP server.
class TIdSocketHandles : public TOwnedCollection {
 public:
  explicit TIdSocketHandles(TPersistent* owner);

  // A new binding at the end, with Port = DefaultPort.
  TIdSocketHandle* AddBinding();
  TIdSocketHandle* Items(int index) const {
    return static_cast<TIdSocketHandle*>(TCollection::Items(index));
  }
  // The binding with this SystemSocket, looked for from the last index down
  // (so a closed binding's old handle still finds it); null when none has it.
  TIdSocketHandle* FindByHandle(TSocket handle) const;

  // The port that bindings made later start with.
  int DefaultPort() const { return default_port_; }
  void SetDefaultPort(int port) { default_port_ = port; }

 private:
  int default_port_ = 0;
};
