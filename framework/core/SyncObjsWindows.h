// Windows: the lock and condition variable under the events (SyncObjs.cpp).
// The C++ library of the MinGW-w64 build makes std::mutex and
// std::condition_variable of winpthreads, whose waits and wake-ups go through
// kernel semaphores: a Wine server round trip each under Wine, some 150 to
// 250 us, and a timed wait of 1 ms lasts over 2 ms. The system's slim
// reader/writer lock and condition variable wait in the process (Wine: a
// futex), some 20 us a round trip, and are the light primitives on Windows
// itself too. Same interface as the std pair, as far as the events use it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <mutex>

class TSlimLock {
 public:
  TSlimLock() = default;
  TSlimLock(const TSlimLock&) = delete;
  TSlimLock& operator=(const TSlimLock&) = delete;

  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* Native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class TSlimCondition {
 public:
  TSlimCondition() = default;
  TSlimCondition(const TSlimCondition&) = delete;
  TSlimCondition& operator=(const TSlimCondition&) = delete;

  template <typename Predicate>
  void wait(std::unique_lock<TSlimLock>& lock, Predicate ready) {
    while (!ready()) SleepConditionVariableSRW(&condition_, lock.mutex()->Native(), INFINITE, 0);
  }

  // Returns ready() as it is when the wait ends: true unless the time ran out.
  template <typename Predicate>
  bool wait_for(std::unique_lock<TSlimLock>& lock, std::chrono::milliseconds limit,
                Predicate ready) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    while (!ready()) {
      // Woken early, spuriously or for another event: wait out the rest.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return ready();
      SleepConditionVariableSRW(&condition_, lock.mutex()->Native(),
                                static_cast<DWORD>(left.count()), 0);
    }
    return true;
  }

  void notify_all() { WakeAllConditionVariable(&condition_); }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
