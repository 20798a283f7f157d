// Threads and the hand-over of calls to the main thread. The test's main thread
// is the program's main thread, so it plays the part of the message loop by
// calling CheckSynchronize.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/Threads.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Polls cond, serving handed-over calls meanwhile, for at most five seconds.
bool WaitUntil(const std::function<bool()>& cond, bool serve_calls = false) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    if (serve_calls) CheckSynchronize(0);
    std::this_thread::yield();
  }
  return true;
}

class LambdaThread : public TThread {
 public:
  LambdaThread(bool start_paused, std::function<void(LambdaThread*)> body)
      : TThread(start_paused), body_(std::move(body)) {}
  ~LambdaThread() override { StopAndWait(); }

  std::atomic<bool> body_ran{false};

 protected:
  void ThreadBody() override {
    body_ran = true;
    if (body_) body_(this);
  }

 private:
  std::function<void(LambdaThread*)> body_;
};

class ECustom : public Exception {
 public:
  using Exception::Exception;
};

class HandOverTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Nothing may be left queued for the next test.
    CheckSynchronize(0);
    EXPECT_EQ(PendingCallCount(), 0);
  }
};

TEST_F(HandOverTest, ExceptionInHandedOverCallReachesWorkerWithClassAndMessage) {
  std::string caught_class;
  std::string caught_message;
  LambdaThread worker(false, [&](LambdaThread* self) {
    try {
      self->RunOnMainThread([] { throw ECustom("went wrong on the main thread"); });
    } catch (const Exception& e) {
      caught_class = e.ClassName();
      caught_message = e.Message();
    }
  });
  worker.AfterConstruction();
  // CheckSynchronize itself must not raise: nothing is shown on the main thread.
  ASSERT_TRUE(WaitUntil([&] { return worker.HasEnded(); }, /*serve_calls=*/true));
  worker.WaitUntilDone();
  EXPECT_EQ(caught_class, "ECustom");
  EXPECT_EQ(caught_message, "went wrong on the main thread");
}

TEST_F(HandOverTest, CallsOfTwoWorkersRunInQueueOrder) {
  std::vector<std::string> order;
  LambdaThread first(false, [&](LambdaThread* self) {
    self->RunOnMainThread([&] { order.push_back("first"); });
  });
  first.AfterConstruction();
  ASSERT_TRUE(WaitUntil([] { return PendingCallCount() == 1; }));
  LambdaThread second(false, [&](LambdaThread* self) {
    self->RunOnMainThread([&] { order.push_back("second"); });
  });
  second.AfterConstruction();
  ASSERT_TRUE(WaitUntil([] { return PendingCallCount() == 2; }));
  EXPECT_TRUE(CheckSynchronize(0));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  first.WaitUntilDone();
  second.WaitUntilDone();
}

TEST_F(HandOverTest, CallQueuedDuringAPassWaitsForTheNextPass) {
  std::atomic<bool> release_second{false};
  std::vector<std::string> order;
  LambdaThread second(false, [&](LambdaThread* self) {
    while (!release_second) std::this_thread::yield();
    self->RunOnMainThread([&] { order.push_back("second"); });
  });
  second.AfterConstruction();
  LambdaThread first(false, [&](LambdaThread* self) {
    self->RunOnMainThread([&] {
      order.push_back("first");
      release_second = true;
      // The second call is queued while this pass is still running.
      ASSERT_TRUE(WaitUntil([] { return PendingCallCount() == 1; }));
    });
  });
  first.AfterConstruction();
  ASSERT_TRUE(WaitUntil([] { return PendingCallCount() == 1; }));
  EXPECT_TRUE(CheckSynchronize(0));
  EXPECT_EQ(order, std::vector<std::string>{"first"});
  EXPECT_EQ(PendingCallCount(), 1);
  EXPECT_TRUE(CheckSynchronize(0));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
}

TEST_F(HandOverTest, CheckSynchronizeWithNothingQueuedReturnsFalseAndResetsEvent) {
  SyncEvent().SetEvent();
  EXPECT_FALSE(CheckSynchronize(0));
  EXPECT_FALSE(SyncEvent().IsSet());
}

TEST_F(HandOverTest, RunOnMainThreadOnTheMainThreadRunsAtOnceWithoutQueueing) {
  LambdaThread idle(true, nullptr);
  SyncEvent().ResetEvent();
  bool ran = false;
  idle.RunOnMainThread([&] {
    ran = true;
    EXPECT_EQ(PendingCallCount(), 0);
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(SyncEvent().IsSet());
  // And what it raises propagates directly.
  EXPECT_THROW(idle.RunOnMainThread([] { throw ECustom("direct"); }), ECustom);
}

TEST_F(HandOverTest, CheckSynchronizeOffTheMainThreadRaisesAndRunsNothing) {
  std::string message;
  std::uint32_t worker_id = 0;
  std::thread other([&] {
    worker_id = CurrentThreadID();
    try {
      CheckSynchronize(0);
    } catch (const EThread& e) {
      message = e.Message();
    }
  });
  other.join();
  EXPECT_EQ(message, Format("CheckSynchronize called from thread $%X, which is NOT the main thread",
                            worker_id));
  EXPECT_NE(message.find('$'), std::string::npos);
}

TEST_F(HandOverTest, WakeHookIsCalledForEveryQueuedCallWithTheSender) {
  std::atomic<int> wakes{0};
  std::atomic<TThread*> sender{nullptr};
  SetMainThreadWakeHook([&](TThread* thread) {
    sender = thread;
    ++wakes;
  });
  LambdaThread worker(false, [](LambdaThread* self) { self->RunOnMainThread([] {}); });
  worker.AfterConstruction();
  EXPECT_TRUE(WaitUntil([&] { return worker.HasEnded(); }, /*serve_calls=*/true));
  SetMainThreadWakeHook(nullptr);
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_EQ(sender.load(), &worker);
}

class ThreadLifeTest : public ::testing::Test {};

TEST_F(ThreadLifeTest, DestroyingANeverStartedThreadRunsTheProcedureButNotTheBody) {
  std::atomic<bool> finished_called{false};
  class Probe : public LambdaThread {
   public:
    explicit Probe(std::atomic<bool>* flag) : LambdaThread(true, nullptr), flag_(flag) {}
    ~Probe() override { StopAndWait(); }

   protected:
    void NotifyFinished() override { *flag_ = true; }

   private:
    std::atomic<bool>* flag_;
  };
  auto* thread = new Probe(&finished_called);
  EXPECT_FALSE(thread->HasEnded());
  EXPECT_TRUE(thread->Paused());
  EXPECT_FALSE(thread->body_ran);
  delete thread;
  EXPECT_TRUE(finished_called);
  // The exit code of a thread that skipped its body.
  LambdaThread skipped(true, [](LambdaThread* self) { self->SetResultCode(7); });
  skipped.RequestStop();
  skipped.Unpause();
  EXPECT_EQ(skipped.WaitUntilDone(), 0);
  EXPECT_FALSE(skipped.body_ran);
}

TEST_F(ThreadLifeTest, MainThreadWaitingForAThreadServesItsHandedOverCall) {
  bool served = false;
  LambdaThread worker(false, [&](LambdaThread* self) {
    self->RunOnMainThread([&] { served = true; });
    self->SetResultCode(42);
  });
  worker.AfterConstruction();
  // No CheckSynchronize here: the wait itself must run the call.
  EXPECT_EQ(worker.WaitUntilDone(), 42);
  EXPECT_TRUE(served);
}

#if defined(_WIN32)
// Another thread (a broadcast of changed settings, an input method) sends a
// message to a window of the main thread while the main thread waits for a
// worker: its sender must not hang until the worker ends. Here the worker
// sends it itself, so a main thread that did not answer would leave it waiting
// until the send gives up.
TEST_F(ThreadLifeTest, MainThreadWaitingForAThreadAnswersMessagesSentToItsWindows) {
  constexpr UINT kQuestion = WM_APP + 1;
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    return message == kQuestion ? 42 : DefWindowProcW(window, message, w, l);
  };
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KvThreadsTestAnswer";
  ASSERT_NE(RegisterClassW(&window_class), 0);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  DWORD_PTR answer = 0;
  LRESULT delivered = 0;
  LambdaThread worker(false, [&](LambdaThread*) {
    delivered = SendMessageTimeoutW(window, kQuestion, 0, 0, SMTO_NORMAL, 10000, &answer);
  });
  worker.AfterConstruction();
  worker.WaitUntilDone();
  EXPECT_NE(delivered, 0) << "the main thread did not take the message while it waited";
  EXPECT_EQ(answer, 42u);
  DestroyWindow(window);
  UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}
#endif

TEST_F(ThreadLifeTest, DestroyingARunningThreadStopsItAndServesItsCall) {
  std::atomic<int> steps{0};
  bool served = false;
  {
    LambdaThread worker(false, [&](LambdaThread* self) {
      while (!self->StopRequested()) ++steps;
      self->RunOnMainThread([&] { served = true; });
    });
    worker.AfterConstruction();
    ASSERT_TRUE(WaitUntil([&] { return steps > 0; }));
  }
  EXPECT_TRUE(served);
}

TEST_F(ThreadLifeTest, PauseTwiceUnpauseOnceStaysPaused) {
  LambdaThread thread(true, nullptr);
  thread.Pause();  // created suspended: the count is now 2
  EXPECT_TRUE(thread.Paused());
  thread.Unpause();
  EXPECT_TRUE(thread.Paused());
  EXPECT_FALSE(thread.HasEnded());
  EXPECT_FALSE(thread.body_ran);
  thread.Unpause();
  EXPECT_FALSE(thread.Paused());
  EXPECT_TRUE(WaitUntil([&] { return thread.HasEnded(); }));
  EXPECT_TRUE(thread.body_ran);
}

TEST_F(ThreadLifeTest, ThreadThatPausesItselfWaitsUntilUnpaused) {
  std::atomic<int> phase{0};
  LambdaThread thread(false, [&](LambdaThread* self) {
    phase = 1;
    self->Pause();
    phase = 2;
  });
  thread.AfterConstruction();
  ASSERT_TRUE(WaitUntil([&] { return phase == 1 && thread.Paused(); }));
  EXPECT_EQ(phase.load(), 1);
  thread.Unpause();
  EXPECT_EQ(thread.WaitUntilDone(), 0);
  EXPECT_EQ(phase.load(), 2);
}

TEST_F(ThreadLifeTest, EscapedExceptionIsKeptAndTheThreadEndsWithItsResultCode) {
  LambdaThread thread(false, [](LambdaThread* self) {
    self->SetResultCode(3);
    throw ECustom("lost in the body");
  });
  thread.AfterConstruction();
  EXPECT_EQ(thread.WaitUntilDone(), 3);
  ASSERT_TRUE(thread.UncaughtError());
  try {
    std::rethrow_exception(thread.UncaughtError());
  } catch (const ECustom& e) {
    EXPECT_EQ(e.Message(), "lost in the body");
  }
}

TEST_F(ThreadLifeTest, BaseBodyIsAbstract) {
  class Bare : public TThread {
   public:
    Bare() : TThread(false) {}
  };
  Bare* bare = NewThread<Bare>();
  bare->WaitUntilDone();
  ASSERT_TRUE(bare->UncaughtError());
  EXPECT_THROW(std::rethrow_exception(bare->UncaughtError()), EAbstractError);
  delete bare;
}

TEST_F(ThreadLifeTest, OnFinishedRunsOnTheMainThreadAndFreeWhenDoneSetThereIsTooLate) {
  std::atomic<bool> finished_on_main{false};
  LambdaThread thread(false, nullptr);
  thread.SetOnFinished([&](TObject* sender) {
    finished_on_main = CurrentThreadID() == MainThreadID() && sender == &thread;
    // Read by the procedure before NotifyFinished: no effect on this run.
    thread.SetFreeWhenDone(true);
  });
  thread.AfterConstruction();
  thread.WaitUntilDone();
  EXPECT_TRUE(finished_on_main);
  thread.SetFreeWhenDone(false);  // the object is still ours to destroy
}

TEST_F(ThreadLifeTest, FreeWhenDoneThreadDestroysItself) {
  static std::atomic<bool> destroyed;
  destroyed = false;
  class SelfFreeing : public TThread {
   public:
    SelfFreeing() : TThread(true) { SetFreeWhenDone(true); }
    ~SelfFreeing() override { destroyed = true; }

   protected:
    void ThreadBody() override {}
  };
  auto* thread = new SelfFreeing();
  thread->Unpause();
  EXPECT_TRUE(WaitUntil([] { return destroyed.load(); }));
}

TEST_F(ThreadLifeTest, WaitingOnItselfFailsInsteadOfHanging) {
  std::string message;
  LambdaThread thread(false, [&](LambdaThread* self) {
    try {
      self->WaitUntilDone();
    } catch (const EThread& e) {
      message = e.Message();
    }
  });
  thread.AfterConstruction();
  thread.WaitUntilDone();
  EXPECT_EQ(message.rfind("Thread Error: ", 0), 0u) << message;
}

}  // namespace
