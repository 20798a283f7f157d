#include "transport/IdThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

namespace {

// Created by the first worker's construction and destroyed by
// WaitForAllWorkers. REQUIRES: no worker is constructed while WaitForAllWorkers
// runs, nor the first one of the process on two threads at once.
std::atomic<TCriticalSection*> g_worker_count_lock{nullptr};
// Changed only under *g_worker_count_lock; atomic so that a reader without the
// lock (LiveWorkerCount before the first worker) never tears it.
std::atomic<std::int32_t> g_live_worker_count{0};

// Set while no worker is alive, so that WaitForAllWorkers wakes as soon as the
// last one goes instead of sleeping out its interval. Changed under the count
// lock.
TEvent& NoWorkerLeft() {
  static TEvent event(true, true);
  return event;
}

constexpr int kRecheckIntervalMs = 5000;
// How long program end waits for workers that are still being destroyed. A
// worker that nobody destroys would otherwise keep the process alive forever.
constexpr int kProgramEndLimitMs = 10000;

TCriticalSection* EnsureWorkerCountLock() {
  TCriticalSection* lock = g_worker_count_lock.load();
  if (lock != nullptr) return lock;
  auto fresh = std::make_unique<TCriticalSection>();
  if (g_worker_count_lock.compare_exchange_strong(lock, fresh.get())) return fresh.release();
  return lock;  // another thread made it first
}

// Waits for the workers once the program's own objects are gone.
struct ProgramEndWait {
  // The event is made first, so that it outlives this object.
  ProgramEndWait() { NoWorkerLeft(); }
  ~ProgramEndWait() {
    try {
      WaitForAllWorkers(kProgramEndLimitMs);
    } catch (...) {
      // Nothing can be reported this late; the process ends anyway.
    }
  }
};
ProgramEndWait g_program_end_wait;

}  // namespace

std::int32_t LiveWorkerCount() {
  TCriticalSection* lock = g_worker_count_lock.load();
  if (lock == nullptr) return g_live_worker_count.load();
  std::lock_guard<TCriticalSection> guard(*lock);
  return g_live_worker_count.load();
}

TCriticalSection* WorkerCountLock() {
  return g_worker_count_lock.load();
}

bool WaitForAllWorkers(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    TCriticalSection* lock = g_worker_count_lock.load();
    if (lock == nullptr) return true;
    bool none_left;
    {
      std::lock_guard<TCriticalSection> guard(*lock);
      none_left = g_live_worker_count.load() == 0;
      if (none_left) g_worker_count_lock.store(nullptr);
    }
    if (none_left) {
      delete lock;
      return true;
    }
    int wait_ms = kRecheckIntervalMs;
    if (timeout_ms != kInfinite) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      wait_ms = static_cast<int>(std::min<std::int64_t>(wait_ms, left.count()));
    }
    NoWorkerLeft().WaitFor(wait_ms);
  }
}

// ---- TIdThread ----

TIdThread::TIdThread(bool start_paused)
    : TIdBaseThread(start_paused), halt_requested_(start_paused) {
  try {
    TCriticalSection* lock = EnsureWorkerCountLock();
    std::lock_guard<TCriticalSection> guard(*lock);
    if (g_live_worker_count.fetch_add(1) == 0) NoWorkerLeft().ResetEvent();
    counted_ = true;
  } catch (...) {
    // Counting is for program end only; a worker that could not be counted
    // still works.
  }
}

TIdThread::~TIdThread() {
  EndWorker();
  // The thread has ended: only this object's own version can run now.
  TIdThread::ReleasePayload();
  try {
    // Whoever still holds the lock (a Launch on another thread) is let finish.
    worker_lock_.Enter();
    worker_lock_.Leave();
  } catch (...) {
  }
  if (!counted_) return;
  try {
    if (TCriticalSection* lock = g_worker_count_lock.load()) {
      std::lock_guard<TCriticalSection> guard(*lock);
      if (g_live_worker_count.fetch_sub(1) == 1) NoWorkerLeft().SetEvent();
    }
  } catch (...) {
  }
}

void TIdThread::EndWorker() {
  SetFreeWhenDone(false);
  TerminateWorker();
  // A parked worker, or one created paused and never launched, must be woken
  // to see the termination; the framework would wake only the latter.
  Launch();
  StopAndWait();
}

bool TIdThread::IsHalted() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  return StopRequested() || halt_requested_ || Paused();
}

bool TIdThread::HaltRequested() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  return halt_requested_;
}

TIdHaltMode TIdThread::HaltMode() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  return halt_mode_;
}

void TIdThread::SetHaltMode(TIdHaltMode mode) {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  halt_mode_ = mode;
}

const std::type_info* TIdThread::FaultClass() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  return fault_class_;
}

std::string TIdThread::FaultMessage() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  return fault_message_;
}

void TIdThread::Launch() {
  // Held across Unpause: a worker that has just been woken and asks IsHalted
  // waits here until Paused has been cleared, and so does not park again.
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  if (!IsHalted()) return;
  halt_requested_ = StopRequested();  // a terminated worker stays halted
  Unpause();
}

void TIdThread::RequestHalt() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  if (IsHalted()) return;
  if (halt_mode_ == TIdHaltMode::HaltTerminates) TerminateWorker();
  halt_requested_ = true;
}

void TIdThread::TerminateWorker() {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  halt_requested_ = true;
  RequestStop();
}

void TIdThread::TerminateAndWaitFor() {
  if (FreeWhenDone()) {
    throw EIdThreadTerminateAndWaitFor(
        "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
  }
  TerminateWorker();
  Launch();  // wakes a parked worker; its HaltRequested stays true
  WaitUntilDone();
}

void TIdThread::ReleasePayload() {
  payload_.reset();
}

void TIdThread::NotifyFault(const Exception& error) {
  if (on_fault_) on_fault_(this, error);
}

void TIdThread::NotifyHalted() {
  if (on_halted_) on_halted_(this);
}

void TIdThread::RecordFault(const Exception& error) {
  std::lock_guard<TCriticalSection> guard(worker_lock_);
  fault_class_ = &typeid(error);
  fault_message_ = error.Message();
}

bool TIdThread::ParkUnlessLaunched() {
  worker_lock_.Enter();
  // Decided under the lock that Launch takes: a Launch after this point finds
  // the pause counted and undoes it.
  if (!IsHalted()) {
    worker_lock_.Leave();
    return true;  // launched meanwhile
  }
  if (StopRequested()) {
    worker_lock_.Leave();
    return false;
  }
  PauseLeaving(worker_lock_);
  return !StopRequested();
}

void TIdThread::RunCycles() {
  try {
    BeforeCycle();
    try {
      while (!IsHalted()) {
        try {
          CycleStep();
        } catch (const Exception&) {
          TerminateWorker();
          throw;
        }
      }
    } catch (...) {
      AfterCycle();
      throw;
    }
    AfterCycle();
  } catch (...) {
    ReleasePayload();
    throw;
  }
  ReleasePayload();
}

void TIdThread::ThreadBody() {
  try {
    try {
      BeforeThreadBody();
      while (!StopRequested()) {
        if (IsHalted()) {
          NotifyHalted();
          if (!ParkUnlessLaunched()) break;
        }
        RunCycles();
      }
    } catch (...) {
      AfterThreadBody();
      throw;
    }
    AfterThreadBody();
  } catch (const Exception& error) {
    RecordFault(error);
    try {
      NotifyFault(error);
    } catch (...) {
      TerminateWorker();
      throw;
    }
    TerminateWorker();
  } catch (...) {
    // Not an Exception: the framework keeps it. The body has ended all the
    // same, so the worker must read as halted.
    TerminateWorker();
    throw;
  }
}
