// Threads and the hand-over of calls to the main thread.
//
// TThread wraps a platform thread that is always created suspended and starts
// once the most derived constructor has finished (or at the first Unpause when
// StartPaused). Linux cannot suspend another thread, so suspension is a gate:
// the new thread waits at it before its procedure runs, and a thread that
// pauses itself waits at it until Unpause. Pause on another thread only counts;
// that thread stops at its next gate.
//
// RunOnMainThread queues a call for the main thread and blocks until it has
// run; QueueOnMainThread and AwaitMainThread split the two, so that a thread
// can work on while its call runs. CheckSynchronize, on the main thread, runs
// every queued call, oldest first. SyncLock guards the queue and is never held
// while a call runs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "framework/core/SyncObjs.h"
#include "framework/core/SysUtils.h"

class TThread;

class EThread : public Exception {
 public:
  using Exception::Exception;
};

using TThreadMethod = std::function<void()>;
using TNotifyEvent = std::function<void(TObject* sender)>;

// The call that a thread object hands to the main thread.
struct TCallSlot {
  TThread* sender = nullptr;
  TThreadMethod method;
  std::exception_ptr captured;
};

// A call that a thread hands to the main thread and awaits later. Owned by
// that thread; reusable once awaited, and it must outlive the call.
class TQueuedCall {
 public:
  TQueuedCall() = default;
  TQueuedCall(const TQueuedCall&) = delete;
  TQueuedCall& operator=(const TQueuedCall&) = delete;

  // Queued and not yet awaited.
  bool Queued() const { return queued_; }

 private:
  friend class TThread;

  TCallSlot slot_;
  TEvent done_{true, false};
  bool queued_ = false;
};

class TThread : public TObject {
 public:
  // The platform thread is created suspended. A thread constructed with
  // start_paused false starts in AfterConstruction, which the creator calls once
  // the most derived constructor has finished (NewThread does both), so the
  // thread never runs before its object is complete.
  explicit TThread(bool start_paused);
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void AfterConstruction();

  void RequestStop() { stop_requested_.store(true); }
  void Pause();
  void Unpause();
  // Returns the thread's exit code. On the main thread, handed-over calls keep
  // running while it waits. REQUIRES: not called by the thread on itself.
  std::int32_t WaitUntilDone();
  // Runs method on the main thread and returns when it has run; raises here what
  // the method raised there.
  void RunOnMainThread(TThreadMethod method);
  // Queues method for the main thread and returns at once; on the main thread
  // it runs at once. REQUIRES: call is not Queued.
  void QueueOnMainThread(TQueuedCall& call, TThreadMethod method);
  // Returns when the call queued in call has run, raising here what it raised
  // there; at once when call is not Queued.
  void AwaitMainThread(TQueuedCall& call);

  std::uintptr_t Handle() const { return handle_; }
  std::uint32_t ThreadID() const { return thread_id_.load(); }
  bool StartPaused() const { return start_paused_; }
  bool StopRequested() const { return stop_requested_.load(); }
  bool Paused() const { return paused_.load(); }
  bool HasEnded() const { return has_ended_.load(); }
  bool FreeWhenDone() const { return free_when_done_.load(); }
  void SetFreeWhenDone(bool value) { free_when_done_.store(value); }
  std::int32_t ResultCode() const { return result_code_.load(); }
  void SetResultCode(std::int32_t value) { result_code_.store(value); }
  const TNotifyEvent& OnFinished() const { return on_finished_; }
  void SetOnFinished(TNotifyEvent handler) { on_finished_ = std::move(handler); }
  // The exception that escaped ThreadBody, or none.
  std::exception_ptr UncaughtError() const { return uncaught_error_; }

 protected:
  // Asks a thread that has not ended to stop, lets a thread that was created
  // paused run (its procedure then skips the body), and waits for it to end.
  // Destruction does this; a derived class whose thread may still be running
  // when it is destroyed calls it first thing in its own destructor, so that
  // the thread never runs against a half-destroyed object.
  void StopAndWait();

  // Pause on oneself for a thread that decides to pause under a lock that
  // whoever unpauses it takes as well: the pause is counted (Paused becomes
  // true) before held is left once, and only then does the thread wait at its
  // gate. An Unpause made under that lock after the decision therefore always
  // finds the pause it undoes, and no wake-up is lost.
  // REQUIRES: called by the thread on itself, holding held.
  void PauseLeaving(TCriticalSection& held) {
    {
      std::lock_guard<std::mutex> lock(gate_mutex_);
      paused_.store(true);
      ++suspend_count_;
    }
    held.Leave();
    WaitAtGate();
  }

  // Called on the thread after the body; raises OnFinished on the main thread.
  virtual void NotifyFinished();
  // The work of the thread. The base raises EAbstractError.
  virtual void ThreadBody();

 private:
  static void ThreadProcedure(TThread* self);
  void WaitAtGate();

  std::uintptr_t handle_ = 0;
  std::atomic<std::uint32_t> thread_id_{0};
  const bool start_paused_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> paused_;
  std::atomic<bool> free_when_done_{false};
  std::atomic<bool> has_ended_{false};
  std::atomic<std::int32_t> result_code_{0};
  TNotifyEvent on_finished_;
  TQueuedCall own_call_;  // RunOnMainThread's
  std::exception_ptr uncaught_error_;

  // The suspend gate.
  std::mutex gate_mutex_;
  std::condition_variable gate_changed_;
  int suspend_count_ = 1;  // guarded by gate_mutex_; created suspended

  TEvent ended_{true, false};   // set when the platform thread has ended
  std::int32_t exit_code_ = 0;  // written before ended_ is set
  std::thread thread_;
};

// Constructs a thread object and lets it start unless it was made paused.
template <typename T, typename... Args>
T* NewThread(Args&&... args) {
  T* thread = new T(std::forward<Args>(args)...);
  thread->AfterConstruction();
  return thread;
}

// Runs every call queued for the main thread, oldest first; true when at least
// one was waiting. wait_ms > 0 first waits that long for SyncEvent.
// REQUIRES: called on the main thread (EThread otherwise).
bool CheckSynchronize(int wait_ms = 0);

// The lock that guards the queue of handed-over calls.
TCriticalSection& SyncLock();
// Signalled when a call is queued and when any thread procedure ends.
TEvent& SyncEvent();
// The number of calls queued and not yet taken by CheckSynchronize.
int PendingCallCount();

// Called, with SyncLock held, after a call has been queued; the application
// object installs its wake-up here. Must not block.
using TWakeHook = std::function<void(TThread* sender)>;
void SetMainThreadWakeHook(TWakeHook hook);

// The identifier of the thread that started the program, and of the caller.
std::uint32_t MainThreadID();
std::uint32_t CurrentThreadID();

// The system's error number for a wait that could never end (a thread waiting
// for itself).
extern const int kDeadlockErrorCode;

// Raises EThread "Thread Error: %s (%d)" with the system's text for code.
[[noreturn]] void ThrowThreadError(int code);

// The platform's part of WaitUntilDone on the main thread: returns once ended
// is set, running the handed-over calls whenever SyncEvent is set meanwhile.
// On Windows it also lets through the messages that other threads and
// processes send to the main thread's windows, whose senders would otherwise
// wait as long as the thread runs.
void WaitServingTheMainThread(TEvent& ended);
