// What both UDP endpoints share: the Active switch, the broadcast option, one
// binding of their own, and sending one datagram to a host and port.
//
// An endpoint is Closed (no socket), Pending (Active set while its owner is
// still being read from a resource, or in design state; no socket yet) or Open
// (its binding holds a socket). Active takes effect only at the end of loading,
// so every property that a resource lists after it is in place before the
// socket opens. A send opens a Closed endpoint by itself. The socket is never
// bound here: the sockets layer gives it a local address at its first send.
//
// The UDP server derives from this class and overrides CloseEndpoint,
// IsActive, EnsureBinding and BroadcastChanged; an override that must run when
// the endpoint is destroyed is called from the derived class's own destructor,
// since this destructor reaches only its own versions.
//
// Thread-safety: none. An endpoint is used on one thread (the main thread);
// its operations take no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/IdComponent.h"
#include "transport/IdSocketHandle.h"

class TIdUDPBase : public TIdComponent {
 public:
  explicit TIdUDPBase(TComponent* owner);
  // Closes an open endpoint.
  ~TIdUDPBase() override;

  // True when Pending or Open. Setting it to what it reads does nothing; while
  // loading or designing it only records the wish; otherwise True opens the
  // endpoint (EnsureBinding) and False closes it (CloseEndpoint).
  bool Active() const { return IsActive(); }
  void SetActive(bool value);

  // Only stored by the client; the server's listener receives into a buffer
  // of this size.
  int BufferSize() const { return buffer_size_; }
  void SetBufferSize(int size) { buffer_size_ = size; }

  // Applied as SO_BROADCAST at every opening, and at once when the endpoint
  // counts as active (which opens a Pending endpoint early).
  bool BroadcastEnabled() const { return broadcast_enabled_; }
  void SetBroadcastEnabled(bool enabled);

  // Sets SO_BROADCAST on binding (on the endpoint's own, opened if need be,
  // when none is given) to -1 when enabled and 0 when not. Raises
  // EIdSocketError; the socket then stays open.
  void SetBroadcastOption(bool enabled, TIdSocketHandle* binding = nullptr);

  // Sends text's bytes as one datagram, without terminator or length.
  void SendText(const std::string& host, int port, const std::string& text);
  // Resolves host afresh (LOCALHOST, an IPv4 text, or a name to look up), then
  // opens the endpoint if it is Closed and sends count bytes as one datagram.
  // A host that cannot be resolved raises before anything is opened or sent.
  void SendBytes(const std::string& host, int port, const void* buffer, std::int32_t count);

  // The endpoint's own binding: none until it is first opened, and none again
  // once it has been closed.
  TIdSocketHandle* SoleBinding() const { return sole_binding_.get(); }

 protected:
  // Applies the Active recorded while loading.
  void Loaded() override;

  // Closes the endpoint: the binding goes with its socket, and the next opening
  // makes a new one.
  virtual void CloseEndpoint();
  virtual bool IsActive() const;
  // Opens the endpoint if it is not open (a new socket, then BroadcastChanged)
  // and returns its binding. Raises EIdInvalidSocket when no socket can be had;
  // the endpoint then stays Closed.
  virtual TIdSocketHandle* EnsureBinding();
  // Applies BroadcastEnabled to the endpoint.
  virtual void BroadcastChanged();

  // Published by the client only.
  std::string host_;
  int port_ = 0;
  int receive_timeout_ = kIdWaitForever;

 private:
  std::unique_ptr<TIdSocketHandle> sole_binding_;
  int buffer_size_ = 8192;
  bool pending_active_ = false;
  bool broadcast_enabled_ = false;
};
