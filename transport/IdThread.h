// The transport's worker thread.
//
// TIdThread turns the framework thread, whose body runs once, into a worker
// that repeats a unit of work (CycleStep) until it is halted. A halt either
// ends the worker (HaltTerminates) or parks it at its own gate until the next
// Launch (HaltParks). The exception that ends the body is recorded in
// FaultClass and FaultMessage and reported through OnFault. Every worker object
// is counted process-wide from the end of its construction to its destruction,
// so that program end can wait until all of them are gone (WaitForAllWorkers).
//
// Thread-safety: Launch, RequestHalt, TerminateWorker, TerminateAndWaitFor,
// IsHalted and the readers of HaltRequested, HaltMode, FaultClass and
// FaultMessage may be called on any thread; WorkerLock serialises them. The
// hooks (BeforeThreadBody ... CycleStep), the events OnFault and OnHalted and
// ReleasePayload run on the worker thread. OnFault, OnHalted and Payload belong
// to the worker while it runs: set them before the first Launch, or from the
// worker's own hooks.
//
// A derived class whose hooks may still run when it is destroyed calls
// EndWorker first thing in its own destructor, so that the worker never calls
// into a half-destroyed object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

#include "framework/core/SyncObjs.h"
#include "framework/core/SysUtils.h"
#include "framework/core/Threads.h"
#include "transport/IdException.h"

class EIdThreadException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdThreadTerminateAndWaitFor : public EIdThreadException {
 public:
  using EIdThreadException::EIdThreadException;
};

// The root of the transport's thread classes.
class TIdBaseThread : public TThread {
 public:
  explicit TIdBaseThread(bool start_paused) : TThread(start_paused) {}

  using TThread::RunOnMainThread;
  // Runs object->method() on the main thread, like the framework's form: the
  // pair of code and object is passed on unchanged, and what the method raises
  // there is raised here.
  template <typename T>
  void RunOnMainThread(T* object, void (T::*method)()) {
    TThread::RunOnMainThread([object, method] { (object->*method)(); });
  }
};

class TIdThread;

// What RequestHalt does. Any value other than HaltTerminates parks.
enum class TIdHaltMode : std::uint8_t { HaltTerminates = 0, HaltParks = 1 };

using TIdFaultEvent = std::function<void(TIdThread* sender, const Exception& error)>;
using TIdHaltedEvent = std::function<void(TIdThread* sender)>;

class TIdThread : public TIdBaseThread {
 public:
  // A worker made with start_paused true waits for its first Launch; one made
  // with false begins cycling once NewThread has finished constructing it.
  explicit TIdThread(bool start_paused);
  ~TIdThread() override;

  // Starts or restarts a halted worker; does nothing to one that is cycling. A
  // terminated worker stays halted.
  virtual void Launch();
  // Ends the current run of cycle steps: terminates the worker, or parks it in
  // HaltParks mode. Does nothing to a worker that is already halted.
  virtual void RequestHalt();
  // Tells the worker to end after its current step. Does not wake a parked
  // worker (TerminateAndWaitFor does).
  virtual void TerminateWorker();
  // Terminates the worker, wakes it if parked and waits until it has ended.
  // Raises EIdThreadTerminateAndWaitFor, touching nothing, on a worker that
  // destroys itself when done. REQUIRES: not called on the worker itself.
  virtual void TerminateAndWaitFor();

  // True when the cycle loop must not run: the worker was told to stop, to
  // halt, or it is paused.
  bool IsHalted();

  bool HaltRequested();
  TIdHaltMode HaltMode();
  void SetHaltMode(TIdHaltMode mode);

  // The exception that ended the thread body: its class (none when no exception
  // ended it) and its message (empty then).
  const std::type_info* FaultClass();
  std::string FaultMessage();

  const TIdFaultEvent& OnFault() const { return on_fault_; }
  void SetOnFault(TIdFaultEvent handler) { on_fault_ = std::move(handler); }
  const TIdHaltedEvent& OnHalted() const { return on_halted_; }
  void SetOnHalted(TIdHaltedEvent handler) { on_halted_ = std::move(handler); }

  // An object the worker owns for the length of one run of cycle steps.
  TObject* Payload() const { return payload_.get(); }
  void SetPayload(std::unique_ptr<TObject> payload) { payload_ = std::move(payload); }

  // Re-entrant: an operation that holds it may call others that take it again.
  TCriticalSection& WorkerLock() { return worker_lock_; }

 protected:
  // Terminates the worker, wakes it wherever it waits and waits until its
  // thread has ended. Destruction does this; a derived class calls it first in
  // its own destructor. REQUIRES: not called on the worker itself.
  void EndWorker();

  void ThreadBody() override;

  virtual void AfterCycle() {}
  virtual void AfterThreadBody() {}
  virtual void BeforeThreadBody() {}
  virtual void BeforeCycle() {}
  // Destroys Payload and clears it.
  virtual void ReleasePayload();
  // Raises OnFault, on the worker thread.
  virtual void NotifyFault(const Exception& error);
  // Raises OnHalted, on the worker thread.
  virtual void NotifyHalted();
  // One unit of work. Called again and again while the worker is not halted.
  virtual void CycleStep() = 0;

 private:
  // Parks the worker at its gate unless it was launched or terminated since it
  // last looked. Returns false when the worker must end.
  bool ParkUnlessLaunched();
  // BeforeCycle, CycleStep while not halted, AfterCycle, with ReleasePayload
  // at the end however the run ends.
  void RunCycles();
  void RecordFault(const Exception& error);

  TCriticalSection worker_lock_;
  bool halt_requested_;                                  // guarded by worker_lock_
  TIdHaltMode halt_mode_ = TIdHaltMode::HaltTerminates;  // guarded by worker_lock_
  const std::type_info* fault_class_ = nullptr;          // guarded by worker_lock_
  std::string fault_message_;                            // guarded by worker_lock_
  std::unique_ptr<TObject> payload_;
  TIdFaultEvent on_fault_;
  TIdHaltedEvent on_halted_;
  bool counted_ = false;  // LiveWorkerCount includes this worker
};

// The number of worker objects constructed and not yet destroyed.
std::int32_t LiveWorkerCount();
// The lock that guards LiveWorkerCount: none until the first worker is
// constructed, and again after WaitForAllWorkers has found no worker left.
TCriticalSection* WorkerCountLock();

// Waits until no worker object is left, then destroys WorkerCountLock. Returns
// at once when there is no worker (or no lock). Looks again whenever a worker
// goes and at least every 5000 ms; gives up after timeout_ms (kInfinite waits
// as long as it takes) and returns false, leaving the lock in place. Runs once
// by itself at program end, with a limit, so that a worker leaked for good
// cannot keep the process from ending.
bool WaitForAllWorkers(int timeout_ms = kInfinite);
