// Locks and events.
//
// TCriticalSection is re-entrant: the thread that holds it may enter again and
// must leave as often as it entered. TEvent is a manual- or auto-reset event
// built from a mutex and a condition variable; WaitForEither waits on two events
// at once, the way the main thread waits for a thread or for handed-over calls.
// On Windows an event can also wake a wait of the system's (see
// AttachSystemEvent), which is how the main thread waits for events and for
// messages sent to its windows at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "framework/core/Object.h"

#if defined(_WIN32)
// Windows: the system's slim lock, made re-entrant by an owner and a depth.
// The C++ library of the MinGW-w64 build makes std::recursive_mutex of
// winpthreads, whose contended lock waits on a kernel semaphore, and so does
// a critical section without debug information under Wine: a Wine server
// round trip for the wait and another for the wake-up. The slim lock waits in
// the process (Wine: a futex). SyncLock changes hands twice for every
// handed-over call.
class TCriticalSection : public TObject {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter();
  void Leave();
  bool TryEnter();

  // std::lock_guard and friends can hold it directly.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  // The SRWLOCK (SyncObjs.cpp), opaque here so that this header does not
  // bring <windows.h> into every unit that takes a lock.
  void* lock_ = nullptr;
  // The holder's thread identifier, 0 when free: written by the holder only,
  // read by any thread to see whether it holds the lock itself.
  std::atomic<std::uint32_t> owner_{0};
  int depth_ = 0;  // guarded by lock_
};
#else
class TCriticalSection : public TObject {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }

  // std::lock_guard and friends can hold it directly.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};
#endif

enum class TWaitResult { Signaled, Timeout };

// Wait times in milliseconds; kInfinite waits without limit.
constexpr int kInfinite = -1;

class TEvent : public TObject {
 public:
  explicit TEvent(bool manual_reset = true, bool initially_set = false)
      : manual_reset_(manual_reset), set_(initially_set) {}

  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  TWaitResult WaitFor(int timeout_ms);

  // Waits until first or second is signalled, or the time runs out. Returns 0
  // for first, 1 for second (first wins when both are set), -1 on time-out. An
  // auto-reset event that is returned is reset.
  static int WaitForEither(TEvent& first, TEvent& second, int timeout_ms);

#if defined(_WIN32)
  // While a kernel event (a HANDLE) is attached, every SetEvent signals it
  // too, so that a wait of the system's (MsgWaitForMultipleObjects) ends when
  // this event is set. A SetEvent before the attachment is not passed on:
  // look at IsSet after attaching. Returns the handle attached before, to be
  // put back when the wait is over (nullptr: none). The kernel event may be
  // signalled just after it is detached, so it must outlive the attachment:
  // the waits that use it keep one for the whole process.
  void* AttachSystemEvent(void* handle);
#endif

 private:
  bool TakeLocked();

  const bool manual_reset_;
  // Changed only under the events' mutex; read without it while spinning.
  std::atomic<bool> set_;
#if defined(_WIN32)
  void* system_event_ = nullptr;  // guarded by the events' mutex
#endif
};
