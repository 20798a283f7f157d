#include "framework/core/SyncObjs.h"

namespace {

// All events share one mutex and one condition variable, so that a thread can
// wait on several events at once. Events are set a few thousand times a second
// at most per waiting thread, so one lock is no bottleneck.
std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& Changed() {
  static std::condition_variable changed;
  return changed;
}

template <typename Predicate>
bool WaitLocked(std::unique_lock<std::mutex>& lock, int timeout_ms, Predicate ready) {
  if (timeout_ms < 0) {
    Changed().wait(lock, ready);
    return true;
  }
  return Changed().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}

}  // namespace

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> lock(Mutex());
    set_ = true;
  }
  Changed().notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(Mutex());
  set_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(Mutex());
  return set_;
}

bool TEvent::TakeLocked() {
  if (!set_) return false;
  if (!manual_reset_) set_ = false;
  return true;
}

TWaitResult TEvent::WaitFor(int timeout_ms) {
  std::unique_lock<std::mutex> lock(Mutex());
  bool signalled = WaitLocked(lock, timeout_ms, [this] { return set_; });
  return signalled && TakeLocked() ? TWaitResult::Signaled : TWaitResult::Timeout;
}

int TEvent::WaitForEither(TEvent& first, TEvent& second, int timeout_ms) {
  std::unique_lock<std::mutex> lock(Mutex());
  WaitLocked(lock, timeout_ms, [&] { return first.set_ || second.set_; });
  if (first.TakeLocked()) return 0;
  if (second.TakeLocked()) return 1;
  return -1;
}
