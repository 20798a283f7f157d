#include "framework/core/Threads.h"

#include <system_error>
#include <vector>

namespace {

struct CallRequest {
  TCallSlot* slot;
  TEvent* done;
};

// Recorded while the program's static objects are made, on the thread that
// starts the program.
const std::uint32_t g_main_thread_id = CurrentThreadID();

std::atomic<std::uintptr_t> g_next_handle{1};

// The calls handed over and not yet taken, and an empty list that keeps its
// storage for the next pass, so that a hand-over allocates nothing once the
// lists have grown: under a flood every datagram is one. Guarded by
// SyncLock(). Never destroyed: a worker may still hand over a call while the
// program's static objects go.
struct CallLists {
  std::vector<CallRequest> pending;
  std::vector<CallRequest> spare;
};
CallLists& Calls() {
  static CallLists* const lists = new CallLists;
  return *lists;
}

TWakeHook g_wake_hook;  // guarded by SyncLock()

}  // namespace

void ThrowThreadError(int code) {
  throw EThread(Format("Thread Error: %s (%d)", SystemErrorText(code).c_str(), code));
}

std::uint32_t MainThreadID() {
  return g_main_thread_id;
}

TCriticalSection& SyncLock() {
  static TCriticalSection lock;
  return lock;
}

TEvent& SyncEvent() {
  static TEvent event(true, false);
  return event;
}

int PendingCallCount() {
  std::lock_guard<TCriticalSection> lock(SyncLock());
  return static_cast<int>(Calls().pending.size());
}

void SetMainThreadWakeHook(TWakeHook hook) {
  std::lock_guard<TCriticalSection> lock(SyncLock());
  g_wake_hook = std::move(hook);
}

// ---- TThread ----

TThread::TThread(bool start_paused) : start_paused_(start_paused), paused_(start_paused) {
  try {
    thread_ = std::thread(&TThread::ThreadProcedure, this);
  } catch (const std::system_error& e) {
    throw EThread(Format("Thread creation error: %s", SystemErrorText(e.code().value()).c_str()));
  }
  handle_ = g_next_handle.fetch_add(1);
  // The new thread announces its identifier before it stops at the gate.
  std::unique_lock<std::mutex> lock(gate_mutex_);
  gate_changed_.wait(lock, [this] { return thread_id_.load() != 0; });
}

void TThread::AfterConstruction() {
  if (!start_paused_) Unpause();
}

TThread::~TThread() {
  StopAndWait();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // a FreeWhenDone thread destroying itself
    } else {
      thread_.join();
    }
  }
}

void TThread::StopAndWait() {
  if (thread_id_.load() != 0 && !has_ended_.load()) {
    RequestStop();
    if (start_paused_) Unpause();
    WaitUntilDone();
  }
}

void TThread::ThreadProcedure(TThread* self) {
  {
    std::lock_guard<std::mutex> lock(self->gate_mutex_);
    self->thread_id_.store(CurrentThreadID());
    self->gate_changed_.notify_all();
  }
  self->WaitAtGate();

  if (!self->stop_requested_.load()) {
    try {
      self->ThreadBody();
    } catch (...) {
      self->uncaught_error_ = std::current_exception();
    }
  }
  // The values read here count; NotifyFinished and OnFinished cannot change them.
  const bool free_when_done = self->free_when_done_.load();
  const std::int32_t result_code = self->result_code_.load();
  try {
    self->NotifyFinished();
  } catch (...) {
    // Ending the process for a failed notification would be worse than keeping it.
    if (!self->uncaught_error_) self->uncaught_error_ = std::current_exception();
  }
  self->has_ended_.store(true);
  SyncEvent().SetEvent();
  if (free_when_done) {
    delete self;
    return;
  }
  self->exit_code_ = result_code;
  self->ended_.SetEvent();
}

void TThread::WaitAtGate() {
  std::unique_lock<std::mutex> lock(gate_mutex_);
  gate_changed_.wait(lock, [this] { return suspend_count_ == 0; });
}

void TThread::NotifyFinished() {
  if (on_finished_) RunOnMainThread([this] { on_finished_(this); });
}

void TThread::ThreadBody() {
  throw EAbstractError();
}

void TThread::Pause() {
  paused_.store(true);
  {
    std::lock_guard<std::mutex> lock(gate_mutex_);
    ++suspend_count_;
  }
  // A thread can only be stopped at its own gate: pausing oneself waits there.
  if (CurrentThreadID() == thread_id_.load()) WaitAtGate();
}

void TThread::Unpause() {
  // Everything under the gate's lock: once it is released, a thread that frees
  // itself when done may already be gone.
  std::lock_guard<std::mutex> lock(gate_mutex_);
  int previous = suspend_count_;
  if (suspend_count_ > 0) --suspend_count_;
  if (previous == 1) paused_.store(false);
  gate_changed_.notify_all();
}

std::int32_t TThread::WaitUntilDone() {
  if (CurrentThreadID() == thread_id_.load()) ThrowThreadError(kDeadlockErrorCode);
  if (CurrentThreadID() == g_main_thread_id) {
    // Keep serving handed-over calls, so that a thread blocked in
    // RunOnMainThread can finish.
    WaitServingTheMainThread(ended_);
  } else {
    ended_.WaitFor(kInfinite);
  }
  return exit_code_;
}

void TThread::RunOnMainThread(TThreadMethod method) {
  QueueOnMainThread(own_call_, std::move(method));
  AwaitMainThread(own_call_);
}

void TThread::QueueOnMainThread(TQueuedCall& call, TThreadMethod method) {
  call.slot_.sender = this;
  call.slot_.captured = nullptr;
  call.slot_.method = std::move(method);
  call.queued_ = true;
  call.done_.ResetEvent();
  if (CurrentThreadID() == g_main_thread_id) {
    try {
      call.slot_.method();
    } catch (...) {
      call.slot_.captured = std::current_exception();
    }
    call.done_.SetEvent();
    return;
  }
  std::lock_guard<TCriticalSection> lock(SyncLock());
  Calls().pending.push_back(CallRequest{&call.slot_, &call.done_});
  SyncEvent().SetEvent();
  if (g_wake_hook) g_wake_hook(this);
}

void TThread::AwaitMainThread(TQueuedCall& call) {
  if (!call.queued_) return;
  call.queued_ = false;
  call.done_.WaitFor(kInfinite);
  // The main thread signals under SyncLock; passing through it once more makes
  // sure it has let go of the request before the call is reused or goes away.
  { std::lock_guard<TCriticalSection> lock(SyncLock()); }
  if (call.slot_.captured) {
    std::exception_ptr error = std::move(call.slot_.captured);
    call.slot_.captured = nullptr;
    std::rethrow_exception(error);
  }
}

bool CheckSynchronize(int wait_ms) {
  std::uint32_t caller = CurrentThreadID();
  if (caller != g_main_thread_id) {
    throw EThread(
        Format("CheckSynchronize called from thread $%X, which is NOT the main thread", caller));
  }
  if (wait_ms > 0) {
    if (SyncEvent().WaitFor(wait_ms) == TWaitResult::Signaled) SyncEvent().ResetEvent();
  } else {
    SyncEvent().ResetEvent();
  }
  std::unique_lock<TCriticalSection> lock(SyncLock());
  CallLists& calls = Calls();
  if (calls.pending.empty()) return false;
  // Calls queued from now on go into the spare list and wait for the next pass.
  std::vector<CallRequest> taken;
  taken.swap(calls.pending);
  calls.pending.swap(calls.spare);
  for (const CallRequest& request : taken) {
    lock.unlock();
    try {
      request.slot->method();
    } catch (...) {
      request.slot->captured = std::current_exception();
    }
    lock.lock();
    request.done->SetEvent();
  }
  // The storage serves a later pass, unless a nested pass has left a spare.
  taken.clear();
  if (calls.spare.capacity() < taken.capacity()) calls.spare.swap(taken);
  return true;
}
