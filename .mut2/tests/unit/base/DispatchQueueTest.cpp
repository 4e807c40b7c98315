#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/DispatchQueue.h"
#include "base/FakeClock.h"

namespace palvero {
namespace {

TEST(DispatchQueueTest, RunsEveryTaskOnABoundedNumberOfThreads) {
  DispatchQueue queue("test", 3);
  std::atomic<int> done{0};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::mutex mutex;
  std::set<std::thread::id> threads;
  for (int i = 0; i < 200; ++i) {
    queue.async([&] {
      int now = ++running;
      int seen = maxRunning.load();
      while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
      }
      {
        std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      --running;
      ++done;
    });
  }
  queue.waitUntilIdle();
  EXPECT_EQ(done, 200);
  EXPECT_LE(maxRunning, 3);
  EXPECT_LE(threads.size(), 3u);
  EXPECT_GE(threads.size(), 1u);
}

TEST(DispatchQueueTest, OneThreadQueueKeepsOrder) {
  DispatchQueue queue("serial", 1);
  std::vector<int> seen;
  for (int i = 0; i < 100; ++i) queue.async([&seen, i] { seen.push_back(i); });
  queue.waitUntilIdle();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

TEST(DispatchQueueTest, DestructorFinishesQueuedTasks) {
  std::atomic<int> done{0};
  {
    DispatchQueue queue("drain", 2);
    for (int i = 0; i < 20; ++i) queue.async([&] { ++done; });
  }
  EXPECT_EQ(done, 20);
}

TEST(FakeClockTest, BlockingSleepWaitsForAdvance) {
  FakeClock clock;
  clock.setAutoAdvance(false);
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    clock.sleepFor(std::chrono::seconds(15));
    woke = true;
  });
  while (clock.blockedSleepers() == 0) std::this_thread::yield();
  clock.advance(std::chrono::seconds(14));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(woke);
  clock.advance(std::chrono::seconds(1));
  sleeper.join();
  EXPECT_TRUE(woke);
}

TEST(FakeClockTest, SleepUnlessCancelledStopsEarly) {
  FakeClock clock;
  std::atomic<bool> cancel{false};
  EXPECT_TRUE(clock.sleepUnlessCancelled(std::chrono::seconds(15), cancel));
  EXPECT_EQ(clock.totalSlept(), std::chrono::seconds(15));
  cancel = true;
  EXPECT_FALSE(clock.sleepUnlessCancelled(std::chrono::seconds(15), cancel));
  EXPECT_EQ(clock.totalSlept(), std::chrono::seconds(15));
}

}  // namespace
}  // namespace palvero
