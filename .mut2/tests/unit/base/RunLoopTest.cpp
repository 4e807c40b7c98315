#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/FakeClock.h"
#include "base/StdRunLoop.h"
#include "base/Timer.h"

namespace palvero {
namespace {

using namespace std::chrono_literals;

class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setCurrent(clock_); }
  void TearDown() override { Clock::setCurrent(nullptr); }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  StdRunLoop loop_;
};

TEST_F(RunLoopTest, TimersFireOnTheLoopThreadInDeadlineOrder) {
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  auto record = [&](int n) {
    return [&, n] {
      order.push_back(n);
      threads.push_back(std::this_thread::get_id());
    };
  };
  auto late = Timer::scheduled(loop_, 30s, false, record(3));
  auto early = Timer::scheduled(loop_, 10s, false, record(1));
  auto middle = Timer::scheduled(loop_, 20s, false, record(2));
  // One jump past every deadline: they still fire in deadline order.
  clock_->advance(60s);
  loop_.runPending();
  ASSERT_EQ(order, (std::vector<int>{1, 2, 3}));
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_FALSE(early->isValid());
}

TEST_F(RunLoopTest, TimerDoesNotFireBeforeItsDeadline) {
  int fired = 0;
  auto timer = Timer::scheduled(loop_, 10s, false, [&] { ++fired; });
  clock_->advance(9999ms);
  loop_.runPending();
  EXPECT_EQ(fired, 0);
  clock_->advance(1ms);
  loop_.runPending();
  EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, InvalidatedTimerNeverFires) {
  int fired = 0;
  auto timer = Timer::scheduled(loop_, 5s, true, [&] { ++fired; });
  timer->invalidate();
  clock_->advance(60s);
  loop_.runPending();
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(RunLoopTest, TimerInvalidatedByAnEarlierCallbackOfTheSameTurnDoesNotFire) {
  int fired = 0;
  Timer::Handle second;
  auto first = Timer::scheduled(loop_, 1s, false, [&] { second->invalidate(); });
  second = Timer::scheduled(loop_, 2s, false, [&] { ++fired; });
  clock_->advance(5s);
  loop_.runPending();
  EXPECT_EQ(fired, 0);
}

TEST_F(RunLoopTest, RepeatingTimerSkipsMissedPeriods) {
  int fired = 0;
  auto timer = Timer::scheduled(loop_, 10s, true, [&] { ++fired; });
  clock_->advance(10s);
  loop_.runPending();
  clock_->advance(10s);
  loop_.runPending();
  EXPECT_EQ(fired, 2);
  // A long stall fires once, then the period resumes from now.
  clock_->advance(95s);
  loop_.runPending();
  EXPECT_EQ(fired, 3);
  clock_->advance(9s);
  loop_.runPending();
  EXPECT_EQ(fired, 3);
  clock_->advance(1s);
  loop_.runPending();
  EXPECT_EQ(fired, 4);
  EXPECT_TRUE(timer->isValid());
}

TEST_F(RunLoopTest, TimerAtDateFiresAtThatWallTime) {
  int fired = 0;
  Date at = clock_->now().addingTimeInterval(3600);
  auto timer = Timer::scheduledAt(loop_, at, [&] { ++fired; });
  EXPECT_NEAR(timer->fireDate().timeIntervalSince(at), 0, 0.001);
  clock_->advance(3599s);
  loop_.runPending();
  EXPECT_EQ(fired, 0);
  clock_->advance(1s);
  loop_.runPending();
  EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, SyncFromBackgroundThreadReturnsTheValue) {
  std::atomic<int> result{0};
  std::thread::id ranOn;
  std::thread worker([&] {
    result = loop_.sync([&] {
      ranOn = std::this_thread::get_id();
      return 42;
    });
  });
  ASSERT_TRUE(loop_.runUntil([&] { return result.load() == 42; }, 10s));
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(RunLoopTest, SyncOnTheLoopThreadRunsDirectly) {
  loop_.runPending();  // binds the loop to this thread
  EXPECT_EQ(loop_.sync([] { return std::string("direct"); }), "direct");
}

TEST_F(RunLoopTest, AsyncTasksRunInOrderAndStopEndsRun) {
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) loop_.async([&seen, i] { seen.push_back(i); });
  loop_.async([&] { loop_.stop(); });
  loop_.run();
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(RunLoopRealClockTest, RunWakesForATimerPostedFromAnotherThread) {
  Clock::setCurrent(nullptr);
  StdRunLoop loop;
  std::atomic<bool> fired{false};
  std::thread other([&] {
    Timer::scheduled(loop, 20ms, false, [&] {
      fired = true;
      loop.stop();
    });
  });
  loop.run();
  other.join();
  EXPECT_TRUE(fired);
}

}  // namespace
}  // namespace palvero
