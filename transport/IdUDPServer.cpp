#include "transport/IdUDPServer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/core/ScopeGuard.h"
#include "transport/IdStack.h"

namespace {

// The listeners whose deliveries run on this thread, innermost first. On the
// main thread a delivery runs inside CheckSynchronize, which a handler may
// call in turn, so deliveries can nest.
struct DeliveryFrame {
  const TIdUDPListenerThread* listener;
  DeliveryFrame* outer;
};
thread_local DeliveryFrame* t_deliveries = nullptr;

bool DeliveringHere(const TIdUDPListenerThread* listener) {
  for (DeliveryFrame* frame = t_deliveries; frame != nullptr; frame = frame->outer) {
    if (frame->listener == listener) return true;
  }
  return false;
}

// Datagrams that arrive while the main thread is busy (a paint, a large
// insertion into the history) wait in the socket's buffer, and what does not
// fit is lost. The system's default holds some 250 short datagrams, 25 ms of a
// peer sending 10,000 a second. The system caps the request at its own limit
// (net.core.rmem_max) and doubles it; a refusal leaves the default, with which
// the server works as well, only losing more in a burst.
constexpr std::int32_t kReceiveBufferBytes = 1024 * 1024;

void AskForLargeReceiveBuffer(TIdSocketHandle* binding) {
  const std::int32_t bytes = kReceiveBufferBytes;
  SharedStack->SockSetOption(binding->SystemSocket(), SOL_SOCKET_WS, SO_RCVBUF_WS, &bytes,
                             sizeof bytes);
}

}  // namespace

// ---- TIdUDPListenerThread ----

TIdUDPListenerThread::TIdUDPListenerThread(int buffer_size, TIdUDPServer* server)
    : TIdThread(true),
      read_size_(std::max(buffer_size, 0)),
      receive_buffer_(static_cast<std::size_t>(read_size_)),
      owner_server_(server) {
  // Without a wake handle the listener still notices a halt after its wait.
  wake_handle_ = SharedStack->NewWakeHandle();
}

TIdUDPListenerThread::~TIdUDPListenerThread() {
  EndWorker();
  CloseWakeHandle();
}

void TIdUDPListenerThread::Wake() {
  if (wake_handle_ != INVALID_SOCKET) SharedStack->SignalWakeHandle(wake_handle_);
}

void TIdUDPListenerThread::CloseWakeHandle() {
  if (wake_handle_ == INVALID_SOCKET) return;
  SharedStack->CloseWakeHandle(wake_handle_);
  wake_handle_ = INVALID_SOCKET;
}

void TIdUDPListenerThread::AwaitDelivery(Delivery& delivery) {
  try {
    AwaitMainThread(delivery.call);
  } catch (...) {
    // A handler's error, carried back from the main thread, costs its
    // datagram only.
  }
}

bool TIdUDPListenerThread::InFlight() const {
  return std::any_of(std::begin(slots_), std::end(slots_),
                     [](const Delivery& delivery) { return delivery.call.Queued(); });
}

void TIdUDPListenerThread::AwaitAll() {
  for (int i = 0; i < kReadAhead; ++i) AwaitDelivery(slots_[(next_slot_ + i) % kReadAhead]);
}

void TIdUDPListenerThread::AfterCycle() {
  AwaitAll();
}

void TIdUDPListenerThread::CycleStep() {
  const std::uint64_t cycle = cycle_count_.fetch_add(1, std::memory_order_relaxed) + 1;
  // A free slot before the wait: with every slot in flight the listener waits
  // for the main thread here, as it would for one slow handler.
  AwaitDelivery(slots_[next_slot_]);
  std::unique_lock<std::mutex> sockets(socket_lock_);
  if (IsHalted()) return;  // abandoned: the sockets may be closed already
  TIdSocketHandles* bindings = owner_server_->Bindings();
  TIdSocketList handles;
  handles.reserve(static_cast<std::size_t>(bindings->Count()) + 1);
  for (int i = 0; i < bindings->Count(); ++i) handles.push_back(bindings->Items(i)->SystemSocket());
  // The wait takes at most 64 handles; with 64 bindings there is no room for
  // the wake handle, and a halt is noticed after PollInterval instead.
  if (wake_handle_ != INVALID_SOCKET && handles.size() < FD_SETSIZE_WS) {
    handles.push_back(wake_handle_);
  }
  // Outside the guard: a failure here ends the listener.
  SharedStack->SockSelect(&handles, nullptr, nullptr, poll_interval_);

  for (TSocket handle : handles) {
    try {
      // Halted: deactivation has begun, or a handler deactivated the server,
      // which may be gone by now. Nothing of the server may be touched.
      if (IsHalted()) continue;
      TIdSocketHandle* binding = owner_server_->Bindings()->FindByHandle(handle);
      if (binding == nullptr) continue;  // the wake handle
      Delivery& delivery = slots_[next_slot_];
      if (delivery.call.Queued()) {
        // Another ready socket and every slot in flight: wait for the oldest
        // without holding the sockets, which an abandonment from inside that
        // delivery closes.
        sockets.unlock();
        AwaitDelivery(delivery);
        sockets.lock();
        if (IsHalted()) continue;
      }
      next_slot_ = (next_slot_ + 1) % kReadAhead;
      // A datagram longer than read_size_ is taken off the queue whole and
      // fails with 10040, so it is dropped and the next one is read.
      const int count =
          SharedStack->SockRecvFrom(binding->SystemSocket(), receive_buffer_.data(), read_size_, 0,
                                    &delivery.peer_ip, &delivery.peer_port);
      SharedStack->CheckSocketResult(count);
      // Only the datagram's bytes: a stream made read_size_ long for every
      // receive had that many bytes cleared each time, which cost more than
      // the receive itself.
      delivery.stream.SetSize(count);
      delivery.stream.SetPosition(0);
      if (count > 0) std::memcpy(delivery.stream.Memory(), receive_buffer_.data(), count);
      delivery.binding = binding;
      delivery.cycle = cycle;
      if (owner_server_->ThreadedEvent()) {
        // Still one at a time and in order with the main thread's deliveries
        // queued before the switch.
        if (InFlight()) {
          sockets.unlock();
          AwaitAll();
          sockets.lock();
          if (IsHalted()) continue;
        }
        HandOver(delivery);
      } else {
        QueueOnMainThread(delivery.call, [this, &delivery] { HandOver(delivery); });
      }
    } catch (...) {
      // Whatever one datagram raises (a failed receive, a threaded handler's
      // error) costs that datagram only.
    }
  }
}

void TIdUDPListenerThread::HandOver(Delivery& delivery) {
  // Queued before an abandonment: its server may be gone.
  if (abandoned_.load()) return;
  // The sender is recorded only now, so that the binding names the sender of
  // the datagram being delivered while later ones are already read.
  delivery.binding->RecordPeer(delivery.peer_ip, delivery.peer_port);
  DeliveryFrame frame{this, t_deliveries};
  t_deliveries = &frame;
  Delivery* const outer_delivery = delivering_;
  delivering_ = &delivery;
  ScopeGuard pop([this, outer = frame.outer, outer_delivery] {
    t_deliveries = outer;
    delivering_ = outer_delivery;
  });
  owner_server_->DeliverDatagram(delivery.stream, delivery.binding);
}

void TIdUDPListenerThread::Abandon() {
  abandoned_.store(true);
  RequestHalt();
  // A threaded handler abandons from inside the listener's own read, which
  // holds the lock and, being halted, reads no further.
  if (CurrentThreadID() == ThreadID()) {
    CloseWakeHandle();
    return;
  }
  Wake();
  // Out of its wait and its reads once this lock is had; being halted it
  // touches no socket again.
  std::lock_guard<std::mutex> sockets(socket_lock_);
  CloseWakeHandle();
}

// ---- TIdUDPServer ----

TIdUDPServer::TIdUDPServer(TComponent* owner)
    : TIdUDPBase(owner), bindings_(std::make_unique<TIdSocketHandles>(this)) {}

TIdUDPServer::~TIdUDPServer() {
  // Directly, not through Active: a listener runs whenever ActiveBinding is
  // set, even if that binding's socket was released by hand, and it must end
  // before the bindings go.
  CloseEndpoint();
  bindings_.reset();
}

void TIdUDPServer::SetBindings(const TIdSocketHandles* source) {
  if (source == bindings_.get()) return;
  const bool reopen = active_binding_.load() != nullptr;
  if (reopen) CloseEndpoint();
  bindings_->Assign(source);
  if (reopen) EnsureBinding();
}

bool TIdUDPServer::IsActive() const {
  if (TIdUDPBase::IsActive()) return true;
  if (deactivating_.load()) return false;
  TIdSocketHandle* binding = active_binding_.load();
  return binding != nullptr && binding->HasSocket();
}

TIdSocketHandle* TIdUDPServer::EnsureBinding() {
  if (TIdSocketHandle* binding = active_binding_.load()) return binding;
  if (bindings_->Count() == 0) bindings_->AddBinding();
  for (int i = 0; i < bindings_->Count(); ++i) {
    TIdSocketHandle* binding = bindings_->Items(i);
    binding->OpenSocket(SOCK_DGRAM_WS, 0);
    AskForLargeReceiveBuffer(binding);
    binding->BindLocal();
  }
  // Made before ActiveBinding is set, so that a listener that cannot be made
  // leaves the server inactive.
  listener_.reset(NewThread<TIdUDPListenerThread>(BufferSize(), this));
  active_binding_.store(bindings_->Items(0));
  listener_->Launch();
  BroadcastChanged();
  return active_binding_.load();
}

void TIdUDPServer::CloseEndpoint() {
  if (active_binding_.load() == nullptr || deactivating_.load()) return;
  if (listener_ != nullptr && DeliveringHere(listener_.get())) {
    AbandonListener();
    return;
  }
  deactivating_.store(true);
  ScopeGuard done([this] { deactivating_.store(false); });
  if (listener_ != nullptr) {
    listener_->RequestHalt();
    listener_->Wake();
    // On the main thread this runs the delivery that the listener may be
    // handing over, so it can end.
    listener_->WaitUntilDone();
  }
  // Only now: a descriptor closed while the listener could still wait on it
  // or read it might already belong to another socket.
  for (int i = 0; i < bindings_->Count(); ++i) bindings_->Items(i)->ReleaseSocket();
  listener_.reset();
  active_binding_.store(nullptr);
}

void TIdUDPServer::AbandonListener() {
  TIdUDPListenerThread* listener = listener_.release();
  listener->Abandon();
  for (int i = 0; i < bindings_->Count(); ++i) bindings_->Items(i)->ReleaseSocket();
  active_binding_.store(nullptr);
  // Last: once the delivery returns, the listener ends and frees itself.
  listener->SetFreeWhenDone(true);
}

void TIdUDPServer::BroadcastChanged() {
  if (active_binding_.load() == nullptr) return;
  for (int i = 0; i < bindings_->Count(); ++i) {
    SetBroadcastOption(BroadcastEnabled(), bindings_->Items(i));
  }
}

void TIdUDPServer::DeliverDatagram(TStream& data, TIdSocketHandle* binding) {
  active_binding_.store(binding);
  FireUDPRead(data, binding);
}

void TIdUDPServer::FireUDPRead(TStream& data, TIdSocketHandle* binding) {
  if (!on_udp_read_) return;
  // A copy, so that a handler that destroys the server runs to its end.
  const TUDPReadEvent handler = on_udp_read_;
  handler(this, data, binding);
}
