// The receiving UDP endpoint and the thread that listens for it.
//
// A TIdUDPServer binds one socket for each of its Bindings when it becomes
// active (one on every local address at DefaultPort when it has none) and runs
// one TIdUDPListenerThread, which waits on all of those sockets at once and
// reports each datagram through OnUDPRead: on the main thread, queued with
// QueueOnMainThread, unless ThreadedEvent is set. Exceptions raised while one
// datagram is read or delivered are discarded; reception goes on.
//
// Deactivation halts the listener, wakes it from its wait, and waits until its
// thread has ended before it closes any socket, so that the listener never
// reads a descriptor that has been closed or handed to another socket. On the
// main thread that wait keeps running handed-over calls: the deliveries that
// are queued when deactivation begins run inside it. A handler may deactivate
// or destroy its own server; the deliveries queued behind it are dropped and
// the listener ends on its own once the handler has returned. (REQUIRES: a
// handler that runs inside a deactivation does not destroy the server that is
// deactivating.)
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
#include <mutex>
#include <string>
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
//
// Deliveries on the main thread are queued, not waited for one by one: while
// the main thread runs one, the listener reads the next datagrams into further
// slots, up to kReadAhead deliveries in flight. The main thread still runs them
// one at a time and in arrival order, and a handler sees its own datagram's
// stream and sender, which nothing changes while it runs; a slow handler holds
// reception back once every slot is taken.
class TIdUDPListenerThread : public TIdThread {
 public:
  static constexpr int kReadAhead = 8;

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
  // The datagram being delivered and the binding that received it; read them
  // only during a delivery, on the thread that delivers.
  TMemoryStream& DatagramStream() { return delivering_->stream; }
  TIdSocketHandle* ReadingBinding() const { return delivering_->binding; }
  // The cycle (counted from 1) that read the datagram being delivered.
  std::uint64_t ReadCycle() const { return delivering_->cycle; }
  // How many cycles have begun: for measuring how often an idle listener
  // wakes.
  std::uint64_t CycleCount() const { return cycle_count_.load(std::memory_order_relaxed); }

 protected:
  // A free slot, one wait of at most PollInterval on all sockets, then one
  // datagram from each ready socket.
  void CycleStep() override;
  // Awaits the deliveries still in flight, which the main thread runs.
  void AfterCycle() override;

 private:
  friend class TIdUDPServer;

  // One datagram from its receipt to the end of its delivery.
  struct Delivery {
    TQueuedCall call;
    TMemoryStream stream;
    TIdSocketHandle* binding = nullptr;
    std::string peer_ip;
    int peer_port = 0;
    std::uint64_t cycle = 0;
  };

  bool InFlight() const;
  // Wait for one delivery's end, or every one's in order, and discard what
  // the handlers raised. Never with socket_lock_ held: a delivery may abandon
  // the listener.
  void AwaitDelivery(Delivery& delivery);
  void AwaitAll();
  // Records the sender in the binding and delivers through the server; on the
  // thread that delivers.
  void HandOver(Delivery& delivery);
  // Stops the listener for a deactivation from inside one of its own
  // deliveries: halted, woken, and out of its wait and reads when this
  // returns, so that the server may close the sockets at once.
  void Abandon();
  // Closes the wake handle. REQUIRES: the listener waits no more (it has ended,
  // or it is halted and out of its wait).
  void CloseWakeHandle();

  const int poll_interval_ = 1000;
  const int read_size_;
  // Where each datagram is received, read_size_ bytes; its slot's stream then
  // takes only the datagram's own bytes.
  std::vector<char> receive_buffer_;
  TIdUDPServer* const owner_server_;
  Delivery slots_[kReadAhead];
  int next_slot_ = 0;
  Delivery* delivering_ = nullptr;
  // Held by the listener while it waits on or reads the sockets, and by an
  // abandonment before it lets them be closed.
  std::mutex socket_lock_;
  // Set by an abandonment: the server may be gone, and deliveries still
  // queued are dropped.
  std::atomic<bool> abandoned_{false};
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
