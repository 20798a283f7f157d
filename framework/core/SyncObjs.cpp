#include "framework/core/SyncObjs.h"

#include <thread>
#include <utility>

#if defined(_WIN32)
#include "framework/core/SyncObjsWindows.h"
using EventMutex = TSlimLock;
using EventCondition = TSlimCondition;

namespace {

// A zeroed SRWLOCK is SRWLOCK_INIT.
static_assert(sizeof(SRWLOCK) == sizeof(void*));

SRWLOCK* Slim(void** storage) {
  return reinterpret_cast<SRWLOCK*>(storage);
}

}  // namespace

void TCriticalSection::Enter() {
  const std::uint32_t self = GetCurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return;
  }
  AcquireSRWLockExclusive(Slim(&lock_));
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
}

void TCriticalSection::Leave() {
  if (--depth_ > 0) return;
  owner_.store(0, std::memory_order_relaxed);
  ReleaseSRWLockExclusive(Slim(&lock_));
}

bool TCriticalSection::TryEnter() {
  const std::uint32_t self = GetCurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return true;
  }
  if (!TryAcquireSRWLockExclusive(Slim(&lock_))) return false;
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
  return true;
}
#else
using EventMutex = std::mutex;
using EventCondition = std::condition_variable;
#endif

namespace {

// All events share one mutex and one condition variable, so that a thread can
// wait on several events at once. The lock is held only to change or take a
// flag, so even the tens of thousands of hand-overs a second of a flood do
// not queue on it.
EventMutex& Mutex() {
  static EventMutex mutex;
  return mutex;
}

EventCondition& Changed() {
  static EventCondition changed;
  return changed;
}

// How long a wait watches the events before it goes to sleep. A handed-over
// call is answered within microseconds, and during a flood the next one
// follows as fast; a thread asleep on another core is woken through an
// interprocessor interrupt, which costs tens of microseconds on a virtual
// machine, so on both sides of the hand-over a short watch saves the sleep
// and the wake-up. The watch yields the core at every look, so that the
// thread it waits for can run on it when both share one. With a single core
// there is nobody to watch for.
constexpr auto kSpin = std::chrono::microseconds(50);

// Watches `ready`, which reads the events' flags without the lock, for kSpin.
template <typename Predicate>
bool Spin(Predicate ready) {
  static const bool worth_it = std::thread::hardware_concurrency() > 1;
  if (!worth_it) return ready();
  const auto until = std::chrono::steady_clock::now() + kSpin;
  do {
    if (ready()) return true;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < until);
  return ready();
}

template <typename Predicate>
bool WaitLocked(std::unique_lock<EventMutex>& lock, int timeout_ms, Predicate ready) {
  if (timeout_ms != 0 && !ready()) {
    lock.unlock();
    Spin(ready);
    lock.lock();
  }
  if (timeout_ms < 0) {
    Changed().wait(lock, ready);
    return true;
  }
  return Changed().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}

}  // namespace

void TEvent::SetEvent() {
  [[maybe_unused]] void* system_event = nullptr;
  {
    std::lock_guard<EventMutex> lock(Mutex());
    set_ = true;
#if defined(_WIN32)
    system_event = system_event_;
#endif
  }
  Changed().notify_all();
#if defined(_WIN32)
  if (system_event != nullptr) ::SetEvent(system_event);
#endif
}

#if defined(_WIN32)
void* TEvent::AttachSystemEvent(void* handle) {
  std::lock_guard<EventMutex> lock(Mutex());
  return std::exchange(system_event_, handle);
}
#endif

void TEvent::ResetEvent() {
  std::lock_guard<EventMutex> lock(Mutex());
  set_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<EventMutex> lock(Mutex());
  return set_.load();
}

bool TEvent::TakeLocked() {
  if (!set_) return false;
  if (!manual_reset_) set_ = false;
  return true;
}

TWaitResult TEvent::WaitFor(int timeout_ms) {
  std::unique_lock<EventMutex> lock(Mutex());
  bool signalled = WaitLocked(lock, timeout_ms, [this] { return set_.load(); });
  return signalled && TakeLocked() ? TWaitResult::Signaled : TWaitResult::Timeout;
}

int TEvent::WaitForEither(TEvent& first, TEvent& second, int timeout_ms) {
  std::unique_lock<EventMutex> lock(Mutex());
  WaitLocked(lock, timeout_ms, [&] { return first.set_ || second.set_; });
  if (first.TakeLocked()) return 0;
  if (second.TakeLocked()) return 1;
  return -1;
}
