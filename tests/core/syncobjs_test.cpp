// Events: who wakes, what stays set, and waits that end by time. A waiter
// first watches the flags for a moment and then sleeps, so every case is run
// with the event set at once, while the waiter still watches, and after it
// has gone to sleep. The critical section: re-entrant for its holder, closed
// to every other thread (each platform has a lock of its own).
#include "framework/core/SyncObjs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// When the event is set, relative to the start of the wait.
const std::chrono::microseconds kSetDelays[] = {
    std::chrono::microseconds(0), std::chrono::microseconds(10), std::chrono::microseconds(30000)};

TEST(EventTest, AutoResetEventReleasesOneWaiterPerSet) {
  for (auto delay : kSetDelays) {
    TEvent event(false, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
      waiters.emplace_back([&] {
        if (event.WaitFor(5000) == TWaitResult::Signaled) ++woken;
      });
    }
    std::this_thread::sleep_for(delay);
    event.SetEvent();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (woken.load() < 1 && Clock::now() < deadline) std::this_thread::yield();
    // The other waiter is still waiting, and the event was taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(woken.load(), 1) << "set after " << delay.count() << " us";
    EXPECT_FALSE(event.IsSet());
    event.SetEvent();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_FALSE(event.IsSet());
  }
}

TEST(EventTest, ManualResetEventReleasesEveryWaiterAndStaysSet) {
  for (auto delay : kSetDelays) {
    TEvent event(true, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&] {
        if (event.WaitFor(kInfinite) == TWaitResult::Signaled) ++woken;
      });
    }
    std::this_thread::sleep_for(delay);
    event.SetEvent();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_TRUE(event.IsSet());
    EXPECT_EQ(event.WaitFor(0), TWaitResult::Signaled);
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), TWaitResult::Timeout);
  }
}

TEST(EventTest, WaitOnAnUnsetEventEndsByTimeNotBefore) {
  TEvent event(false, false);
  for (int timeout_ms : {0, 1, 20}) {
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(event.WaitFor(timeout_ms), TWaitResult::Timeout);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(timeout_ms));
  }
  TEvent other(false, false);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(TEvent::WaitForEither(event, other, 20), -1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

TEST(EventTest, WaitForEitherNamesTheSetEventFirstWinsAndTakesOnlyIt) {
  for (auto delay : kSetDelays) {
    TEvent first(false, false);
    TEvent second(false, false);
    std::thread setter([&] {
      std::this_thread::sleep_for(delay);
      second.SetEvent();
    });
    EXPECT_EQ(TEvent::WaitForEither(first, second, 5000), 1) << delay.count() << " us";
    setter.join();
    EXPECT_FALSE(second.IsSet());

    first.SetEvent();
    second.SetEvent();
    EXPECT_EQ(TEvent::WaitForEither(first, second, 5000), 0);
    EXPECT_FALSE(first.IsSet());
    EXPECT_TRUE(second.IsSet());  // not taken: it waits for the next wait
    EXPECT_EQ(TEvent::WaitForEither(first, second, 0), 1);
  }
}

TEST(CriticalSectionTest, ItsHolderEntersAgainAndOthersWaitUntilItLeavesAsOftenAsItEntered) {
  TCriticalSection section;
  section.Enter();
  ASSERT_TRUE(section.TryEnter());
  section.Enter();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EXPECT_FALSE(section.TryEnter());
    section.Enter();
    entered.store(true);
    section.Leave();
  });
  section.Leave();
  section.Leave();
  // Held once still: the other thread waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  section.Leave();
  other.join();
  EXPECT_TRUE(entered.load());
  EXPECT_TRUE(section.TryEnter());
  section.Leave();
}

}  // namespace
