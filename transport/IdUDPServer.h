// The receiving UDP endpoint and the thread that listens for it.
//
// A TIdUDPServer binds one socket for each of its Bindings when it becomes
// active (one on every local address at DefaultPort when it has none) and runs
// one TIdUDPListenerThread, which waits on all of those sockets at once and
// reports each datagram through OnUDPRead: on the main thread, handed over with
// RunOnMainThread, unless ThreadedEvent is set. Exceptions raised while one
// datagram is read or delivered are discarded; reception goes on.
//
// Deactivation halts the listener, wakes it from its wait, and waits until its
// thread has ended before it closes any socket, so that the listener never
// reads a descriptor that has been closed or handed to another socket. On the
// main thread that wait keeps running handed-over calls: a delivery that is
// pending when deactivation begins runs inside it. A handler may deactivate or
// destroy its own server; the listener then ends on its own once the handler
// has returned. (REQUIRES: a handler that runs inside a deactivation does not
// destroy the server that is deactivating.)
//
// Thread-safety: activation, deactivation, destruction and every setter belong
// to the main thread (REQUIRES: the thread that serves handed-over calls, since
// deactivation waits for a listener that may be handing one over). While the
// server is active the listener reads Bindings, their sockets and ThreadedEvent
// without a lock: change Bindings, and OnUDPRead when ThreadedEvent is set,
// only while the server is inactive. ActiveBinding and ThreadedEvent are
// atomic. With ThreadedEvent set, OnUDPRead runs on the listener thread and
// must not touch main-thread state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/core/Classes.h"
#include "transport/IdSocketHandle.h"
#include "transport/IdThread.h"
#include "transport/IdUDPBase.h"

class TIdUDPServer;

// A datagram's delivery: data holds exactly its bytes, at position 0, and is
// valid only during the call; binding is the one that received it, with the
// sender in RemoteIP and RemotePort.
using TUDPReadEvent = std::function<void(TObject* sender, TStream& data, TIdSocketHandle* binding)>;

// Waits on all sockets of its server and delivers one datagram per ready
// socket per cycle. Created paused by the server's activation and destroyed by
// its deactivation once the thread has ended.
class TIdUDPListenerThread : public TIdThread {
 public:
  // Receives datagrams of up to buffer_size bytes (a negative size counts as
  // 0) for server. Starts paused: the server launches it.
  TIdUDPListenerThread(int buffer_size, TIdUDPServer* server);
  ~TIdUDPListenerThread() override;

  // Ends the current readiness wait at once; any thread. The listener must
  // have been halted first, or it simply waits again.
  void Wake();

  int PollInterval() const { return poll_interval_; }
  int ReadSize() const { return read_size_; }
  TIdUDPServer* OwnerServer() const { return owner_server_; }
  // Belong to the listener; read them only during a delivery.
  TMemoryStream& DatagramStream() { return datagram_stream_; }
  TIdSocketHandle* ReadingBinding() const { return reading_binding_; }
  // How many cycles have begun: for measuring how often an idle listener
  // wakes.
  std::uint64_t CycleCount() const { return cycle_count_.load(std::memory_order_relaxed); }

 protected:
  // One wait of at most PollInterval on all sockets, then one datagram from
  // each ready socket.
  void CycleStep() override;

 private:
  friend class TIdUDPServer;

  // Delivers DatagramStream through the server.
  void HandOver();
  // Closes the wake handle. REQUIRES: the listener waits no more (it has ended,
  // or it is halted and busy with a delivery).
  void CloseWakeHandle();

  TIdSocketHandle* reading_binding_ = nullptr;
  const int poll_interval_ = 1000;
  TMemoryStream datagram_stream_;
  const int read_size_;
  // Where each datagram is received, read_size_ bytes; the stream then takes
  // only the datagram's own bytes.
  std::vector<char> receive_buffer_;
  TIdUDPServer* const owner_server_;
  // Listed after the sockets in every wait; INVALID_SOCKET when none could be
  // had, and the listener then notices a halt within PollInterval.
  TSocket wake_handle_ = INVALID_SOCKET;
  std::atomic<std::uint64_t> cycle_count_{0};
};

class TIdUDPServer : public TIdUDPBase {
 public:
  explicit TIdUDPServer(TComponent* owner);
  // Deactivates, then destroys the bindings with any sockets they still hold.
  ~TIdUDPServer() override;

  // Published. Writing empties the server's own collection and refills it
  // with copies of source's items (IP, Port, RemoteIP, RemotePort); an active
  // server is deactivated for that and activated again with the new bindings.
  TIdSocketHandles* Bindings() const { return bindings_.get(); }
  void SetBindings(const TIdSocketHandles* source);
  // Published: the port of bindings added later; an existing one keeps its own.
  int DefaultPort() const { return bindings_->DefaultPort(); }
  void SetDefaultPort(int port) { bindings_->SetDefaultPort(port); }
  const TUDPReadEvent& OnUDPRead() const { return on_udp_read_; }
  void SetOnUDPRead(TUDPReadEvent handler) { on_udp_read_ = std::move(handler); }
  // Published: deliver on the listener thread instead of the main thread. Read
  // afresh for every datagram.
  bool ThreadedEvent() const { return threaded_event_.load(); }
  void SetThreadedEvent(bool threaded) { threaded_event_.store(threaded); }

  // None while inactive; the first binding after activation; afterwards the
  // one that received the last delivered datagram. Sends through the server
  // leave from its socket.
  TIdSocketHandle* ActiveBinding() const { return active_binding_.load(); }
  // The running listener, or none while inactive.
  TIdUDPListenerThread* Listener() const { return listener_.get(); }

  // ActiveBinding := binding, then FireUDPRead. Runs on the thread that
  // delivers: the main thread, or the listener's with ThreadedEvent.
  void DeliverDatagram(TStream& data, TIdSocketHandle* binding);

 protected:
  // Deactivation: stops the listener and waits for it, then closes every
  // binding's socket; the bindings stay for the next activation. Nothing when
  // inactive.
  void CloseEndpoint() override;
  // Pending, or Open (ActiveBinding holds a socket); not while deactivating.
  bool IsActive() const override;
  // Activation: binds every binding (adding one on all addresses at
  // DefaultPort when there is none), starts the listener and applies the
  // broadcast option; returns ActiveBinding. When a socket cannot be opened or
  // bound the error propagates, no listener runs and the server stays
  // inactive; the sockets already opened stay with their bindings. When the
  // broadcast option fails the error propagates with the server open.
  TIdSocketHandle* EnsureBinding() override;
  // SO_BROADCAST on every binding, in index order; nothing while inactive.
  void BroadcastChanged() override;
  // Raises OnUDPRead when it is assigned.
  virtual void FireUDPRead(TStream& data, TIdSocketHandle* binding);

 private:
  // Deactivation from inside one of the listener's own deliveries, which
  // cannot wait for the listener: it is halted, the sockets are closed (it
  // reads none again) and it frees itself when the delivery returns.
  void AbandonListener();

  std::unique_ptr<TIdSocketHandles> bindings_;
  std::atomic<TIdSocketHandle*> active_binding_{nullptr};
  std::unique_ptr<TIdUDPListenerThread> listener_;
  TUDPReadEvent on_udp_read_;
  std::atomic<bool> threaded_event_{false};
  // Set while deactivation waits for the listener: the server reads as
  // inactive then, as its sockets are about to go. Atomic because a handler on
  // the listener thread may ask Active meanwhile.
  std::atomic<bool> deactivating_{false};
};
