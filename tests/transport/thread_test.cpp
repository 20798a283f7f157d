// The transport's worker thread: the order of its hooks, halting, parking and
// relaunching, faults, the process-wide worker count. The test's main thread is
// the program's main thread and serves handed-over calls where a test needs it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "transport/IdThread.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls cond for at most five seconds, serving handed-over calls meanwhile.
bool WaitUntil(const std::function<bool()>& cond) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    CheckSynchronize(0);
    std::this_thread::yield();
  }
  return true;
}

class ECycleFailed : public Exception {
 public:
  using Exception::Exception;
};

// A worker that writes down every hook it passes. Its step runs the given
// function; steps counts the calls.
class ProbeWorker : public TIdThread {
 public:
  using Step = std::function<void(ProbeWorker*)>;

  ProbeWorker(bool start_paused, Step step, TIdHaltMode mode = TIdHaltMode::HaltTerminates)
      : TIdThread(start_paused), step_(std::move(step)) {
    SetHaltMode(mode);
  }
  ~ProbeWorker() override { EndWorker(); }

  void Note(const std::string& entry) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    log_.push_back(entry);
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return log_;
  }
  int Count(const std::string& entry) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    int n = 0;
    for (const std::string& e : log_) n += e == entry ? 1 : 0;
    return n;
  }

  void CallOnMain() { main_call_thread = CurrentThreadID(); }
  void FailOnMain() { throw ECycleFailed("refused on the main thread"); }

  std::atomic<int> steps{0};
  std::atomic<std::uint32_t> main_call_thread{0};

 protected:
  void BeforeThreadBody() override { Note("BeforeThreadBody"); }
  void AfterThreadBody() override { Note("AfterThreadBody"); }
  void BeforeCycle() override { Note("BeforeCycle"); }
  void AfterCycle() override { Note("AfterCycle"); }
  void ReleasePayload() override {
    Note("ReleasePayload");
    TIdThread::ReleasePayload();
  }
  void CycleStep() override {
    ++steps;
    if (step_) step_(this);
    std::this_thread::yield();
  }

 private:
  Step step_;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
};

// Notes its own destruction in the worker's log.
class PayloadProbe : public TObject {
 public:
  explicit PayloadProbe(ProbeWorker* worker) : worker_(worker) {}
  ~PayloadProbe() override { worker_->Note("payload destroyed"); }

 private:
  ProbeWorker* worker_;
};

void HaltOnStep(ProbeWorker* worker, int step) {
  if (worker->steps == step) worker->RequestHalt();
}

class WorkerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CheckSynchronize(0);
    EXPECT_EQ(PendingCallCount(), 0);
  }
};

TEST_F(WorkerTest, FailingStepRunsFinallyHooksInOrderThenOnFault) {
  ProbeWorker worker(true, [](ProbeWorker* self) {
    self->SetPayload(std::make_unique<PayloadProbe>(self));
    throw ECycleFailed("step went wrong");
  });
  std::atomic<std::uint32_t> fault_thread{0};
  worker.SetOnFault([&](TIdThread* sender, const Exception& error) {
    fault_thread = CurrentThreadID();
    EXPECT_EQ(sender, &worker);
    worker.Note("OnFault " + error.ClassName() + ": " + error.Message());
  });
  worker.Launch();
  worker.WaitUntilDone();

  std::vector<std::string> expected = {"BeforeThreadBody",
                                       "BeforeCycle",
                                       "AfterCycle",
                                       "ReleasePayload",
                                       "payload destroyed",
                                       "AfterThreadBody",
                                       "OnFault ECycleFailed: step went wrong"};
  EXPECT_EQ(worker.Log(), expected);
  EXPECT_EQ(worker.steps.load(), 1);
  EXPECT_EQ(fault_thread.load(), worker.ThreadID());
  EXPECT_EQ(worker.FaultMessage(), "step went wrong");
  ASSERT_NE(worker.FaultClass(), nullptr);
  EXPECT_EQ(*worker.FaultClass(), typeid(ECycleFailed));
  EXPECT_TRUE(worker.IsHalted());
  EXPECT_TRUE(worker.StopRequested());
  // Recorded by the worker, not left to the framework.
  EXPECT_FALSE(worker.UncaughtError());
  EXPECT_EQ(worker.Payload(), nullptr);
}

TEST_F(WorkerTest, ExceptionFromHandedOverCallEndsTheWorkerWithItsMessage) {
  ProbeWorker worker(true, [](ProbeWorker* self) {
    self->RunOnMainThread(self, &ProbeWorker::CallOnMain);
    self->RunOnMainThread(self, &ProbeWorker::FailOnMain);
  });
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.HasEnded(); }));
  worker.WaitUntilDone();
  EXPECT_EQ(worker.main_call_thread.load(), MainThreadID());
  EXPECT_EQ(worker.steps.load(), 1);
  EXPECT_EQ(worker.FaultMessage(), "refused on the main thread");
  ASSERT_NE(worker.FaultClass(), nullptr);
  EXPECT_EQ(*worker.FaultClass(), typeid(ECycleFailed));
}

TEST_F(WorkerTest, ForeignExceptionPassesToTheFrameworkAndLeavesTheWorkerHalted) {
  ProbeWorker worker(true, [](ProbeWorker*) { throw std::runtime_error("not ours"); });
  bool fault_seen = false;
  worker.SetOnFault([&](TIdThread*, const Exception&) { fault_seen = true; });
  worker.Launch();
  worker.WaitUntilDone();
  EXPECT_TRUE(worker.UncaughtError());
  EXPECT_FALSE(fault_seen);
  EXPECT_EQ(worker.FaultClass(), nullptr);
  EXPECT_EQ(worker.FaultMessage(), "");
  // The finally hooks ran, and a worker whose body has ended reads as halted.
  EXPECT_EQ(worker.Count("AfterCycle"), 1);
  EXPECT_EQ(worker.Count("ReleasePayload"), 1);
  EXPECT_EQ(worker.Count("AfterThreadBody"), 1);
  EXPECT_TRUE(worker.IsHalted());
}

TEST_F(WorkerTest, HaltInTerminateModeEndsAfterTheStepWithoutNotifyHalted) {
  ProbeWorker worker(true, [](ProbeWorker* self) { HaltOnStep(self, 3); });
  std::atomic<int> halted_calls{0};
  worker.SetOnHalted([&](TIdThread*) { ++halted_calls; });
  worker.Launch();
  worker.WaitUntilDone();
  EXPECT_EQ(worker.steps.load(), 3);
  EXPECT_EQ(halted_calls.load(), 0);
  EXPECT_TRUE(worker.StopRequested());
  std::vector<std::string> expected = {"BeforeThreadBody", "BeforeCycle", "AfterCycle",
                                       "ReleasePayload", "AfterThreadBody"};
  EXPECT_EQ(worker.Log(), expected);
  EXPECT_EQ(worker.FaultClass(), nullptr);
}

TEST_F(WorkerTest, LaunchOnATerminatedWorkerLeavesItHaltedAndRunsNoStep) {
  ProbeWorker worker(true, nullptr);
  worker.TerminateWorker();
  worker.Launch();  // wakes the platform thread, which must see the termination
  EXPECT_TRUE(worker.HaltRequested());
  ASSERT_TRUE(WaitUntil([&] { return worker.HasEnded(); }));
  EXPECT_EQ(worker.steps.load(), 0);
  EXPECT_TRUE(worker.Log().empty());
  worker.Launch();
  EXPECT_TRUE(worker.HaltRequested());
  EXPECT_TRUE(worker.IsHalted());
}

TEST_F(WorkerTest, LaunchOnACyclingWorkerChangesNothing) {
  std::atomic<bool> finish{false};
  ProbeWorker worker(true, [&](ProbeWorker* self) {
    if (finish) self->RequestHalt();
  });
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > 0; }));
  worker.Launch();
  EXPECT_FALSE(worker.IsHalted());
  EXPECT_FALSE(worker.Paused());
  finish = true;
  worker.WaitUntilDone();
  EXPECT_EQ(worker.Count("BeforeCycle"), 1);
}

class ParkingTest : public WorkerTest {};

TEST_F(ParkingTest, RequestHaltParksAfterTheStepAndLaunchStartsANewRun) {
  ProbeWorker worker(true, nullptr);
  worker.SetHaltMode(TIdHaltMode::HaltParks);
  std::atomic<int> halted_calls{0};
  worker.SetOnHalted([&](TIdThread* sender) {
    EXPECT_EQ(sender, &worker);
    ++halted_calls;
  });
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > 0; }));
  worker.RequestHalt();
  ASSERT_TRUE(WaitUntil([&] { return worker.Paused(); }));
  EXPECT_EQ(halted_calls.load(), 1);
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_TRUE(worker.IsHalted());
  EXPECT_EQ(worker.Count("AfterCycle"), 1);
  EXPECT_EQ(worker.Count("ReleasePayload"), 1);
  EXPECT_EQ(worker.Count("AfterThreadBody"), 0);

  const int parked_at = worker.steps;
  worker.Launch();
  EXPECT_FALSE(worker.HaltRequested());
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > parked_at; }));
  EXPECT_EQ(worker.Count("BeforeCycle"), 2);
  EXPECT_EQ(worker.Count("BeforeThreadBody"), 1);
}

TEST_F(ParkingTest, RequestHaltOnAParkedWorkerDoesNotTerminateIt) {
  ProbeWorker worker(true, [](ProbeWorker* self) { HaltOnStep(self, 1); });
  worker.SetHaltMode(TIdHaltMode::HaltParks);
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.Paused(); }));
  worker.SetHaltMode(TIdHaltMode::HaltTerminates);
  worker.RequestHalt();
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_FALSE(worker.HasEnded());
}

TEST_F(ParkingTest, TerminateAndWaitForWakesAParkedWorkerThatEndsWithoutAnotherStep) {
  ProbeWorker worker(true, [](ProbeWorker* self) { HaltOnStep(self, 2); });
  worker.SetHaltMode(TIdHaltMode::HaltParks);
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.Paused(); }));
  worker.TerminateAndWaitFor();
  EXPECT_TRUE(worker.HasEnded());
  EXPECT_EQ(worker.steps.load(), 2);
  EXPECT_TRUE(worker.HaltRequested());
  EXPECT_EQ(worker.Count("BeforeCycle"), 1);
  EXPECT_EQ(worker.Count("AfterThreadBody"), 1);
}

TEST_F(ParkingTest, OnHaltedThatLaunchesKeepsTheWorkerCycling) {
  std::atomic<bool> relaunched{false};
  ProbeWorker worker(true, [](ProbeWorker* self) { HaltOnStep(self, 1); });
  worker.SetHaltMode(TIdHaltMode::HaltParks);
  worker.SetOnHalted([&](TIdThread* sender) {
    if (!relaunched.exchange(true)) sender->Launch();
  });
  worker.Launch();
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > 1; }));
  EXPECT_EQ(worker.Count("BeforeCycle"), 2);
  EXPECT_FALSE(worker.Paused());
}

// A Launch that comes while the worker is deciding to park must not be lost:
// the worker would sleep with nothing left to wake it.
TEST_F(ParkingTest, LaunchRightAfterRequestHaltIsNeverLost) {
  ProbeWorker worker(true, nullptr);
  worker.SetHaltMode(TIdHaltMode::HaltParks);
  worker.Launch();
  for (int round = 0; round < 2000; ++round) {
    const int runs = worker.Count("AfterCycle");
    worker.RequestHalt();
    // Odd rounds launch while the worker is about to park, even ones mostly
    // before it has noticed the halt.
    if (round % 2 == 1) {
      ASSERT_TRUE(WaitUntil([&] { return worker.Count("AfterCycle") > runs; }));
    }
    worker.Launch();
    // A step begun after Launch proves the worker cycles again.
    const int launched_at = worker.steps;
    ASSERT_TRUE(WaitUntil([&] { return worker.steps > launched_at; }))
        << "round " << round << ": the worker stays parked";
  }
}

TEST_F(ParkingTest, DestroyingAParkedWorkerThatStartedRunningEnds) {
  auto* worker = NewThread<ProbeWorker>(
      false, [](ProbeWorker* self) { HaltOnStep(self, 1); }, TIdHaltMode::HaltParks);
  ASSERT_TRUE(WaitUntil([&] { return worker->steps > 0; }));
  ASSERT_TRUE(WaitUntil([&] { return worker->Paused(); }));
  const std::int32_t count = LiveWorkerCount();
  delete worker;
  EXPECT_EQ(LiveWorkerCount(), count - 1);
}

TEST_F(WorkerTest, TerminateAndWaitForRefusesASelfFreeingWorkerAndTouchesNothing) {
  ProbeWorker worker(true, nullptr);
  worker.SetFreeWhenDone(true);
  try {
    worker.TerminateAndWaitFor();
    ADD_FAILURE() << "no exception";
  } catch (const EIdThreadTerminateAndWaitFor& e) {
    EXPECT_EQ(e.Message(), "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
  }
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_TRUE(worker.Paused());
  worker.SetFreeWhenDone(false);
}

class WorkerCountTest : public WorkerTest {};

TEST_F(WorkerCountTest, DestroyingANeverLaunchedWorkerRunsNoStepAndUncountsIt) {
  const std::int32_t before = LiveWorkerCount();
  auto* worker = new ProbeWorker(true, nullptr);
  EXPECT_EQ(LiveWorkerCount(), before + 1);
  EXPECT_NE(WorkerCountLock(), nullptr);
  delete worker;
  EXPECT_EQ(LiveWorkerCount(), before);
}

TEST_F(WorkerCountTest, SelfFreeingWorkerUncountsItselfWhenItEnds) {
  const std::int32_t before = LiveWorkerCount();
  std::atomic<bool> faulted{false};
  auto* worker = new ProbeWorker(true, [](ProbeWorker*) { throw ECycleFailed("done"); });
  worker->SetOnFault([&](TIdThread*, const Exception&) { faulted = true; });
  worker->SetFreeWhenDone(true);
  EXPECT_EQ(LiveWorkerCount(), before + 1);
  worker->Launch();  // from here on the worker is its own
  ASSERT_TRUE(WaitUntil([&] { return LiveWorkerCount() == before; }));
  EXPECT_TRUE(faulted);
}

TEST_F(WorkerCountTest, WaitForAllWorkersWaitsForTheLastWorkerAndThenDropsTheLock) {
  ASSERT_EQ(LiveWorkerCount(), 0);
  auto* worker = new ProbeWorker(true, nullptr);
  EXPECT_FALSE(WaitForAllWorkers(20));
  EXPECT_NE(WorkerCountLock(), nullptr);
  std::thread destroyer([worker] { delete worker; });
  EXPECT_TRUE(WaitForAllWorkers());
  destroyer.join();
  EXPECT_EQ(WorkerCountLock(), nullptr);
  EXPECT_EQ(LiveWorkerCount(), 0);
  // With no worker it returns at once, and the next worker counts again.
  EXPECT_TRUE(WaitForAllWorkers());
  ProbeWorker again(true, nullptr);
  EXPECT_NE(WorkerCountLock(), nullptr);
  EXPECT_EQ(LiveWorkerCount(), 1);
}

}  // namespace
