// The upload limit on a fake clock: the peak it learns without a limit, the
// rate it holds uploads to, one budget for every worker, the bounded wait
// inside a request and the debt the next request waits out.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "base/FakeClock.h"
#include "protocol/UploadThrottle.h"

namespace palvero {
namespace {

constexpr double kMB = 1000 * 1000;

double seconds(Clock::Duration d) { return std::chrono::duration<double>(d).count(); }

class UploadThrottleTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setCurrent(clock_); }
  void TearDown() override { Clock::setCurrent(nullptr); }

  std::unique_ptr<UploadThrottle> make(int64_t storedPeak) {
    stored_ = storedPeak;
    UploadThrottle::Settings settings{
        [this] { return percent_.load(); },
        [this] { return stored_.load(); },
        [this](int64_t peak) {
          stored_ = peak;
          ++stores_;
        },
    };
    return std::make_unique<UploadThrottle>(settings);
  }

  // Sends `bytes` in pieces as one request, the clock moving `gap` after each
  // piece (the time the network takes for it).
  static void sendRequest(UploadThrottle& throttle, size_t bytes, Clock::Duration gap, FakeClock* clock) {
    UploadThrottle::Upload upload = throttle.begin();
    for (size_t sent = 0; sent < bytes; sent += UploadThrottle::kPieceBytes) {
      upload.beforeSending(std::min(UploadThrottle::kPieceBytes, bytes - sent));
      if (clock && gap.count() > 0) clock->advance(gap);
    }
  }

  // The gap after each piece that makes a line of `rate` bytes per second.
  static Clock::Duration gapFor(double rate) {
    return std::chrono::duration_cast<Clock::Duration>(
        std::chrono::duration<double>(UploadThrottle::kPieceBytes / rate));
  }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  std::atomic<int32_t> percent_{100};
  std::atomic<int64_t> stored_{0};
  std::atomic<int> stores_{0};
};

TEST_F(UploadThrottleTest, LearnsThePeakWithoutALimitAndStoresItOnlyWhenItRisesClearly) {
  auto throttle = make(0);
  // Ten seconds at 2 MB/s, then ten at 2.1 MB/s (5 % more: not stored again).
  sendRequest(*throttle, static_cast<size_t>(20 * kMB), gapFor(2 * kMB), clock_.get());
  EXPECT_NEAR(throttle->peakRate(), 2 * kMB, 0.03 * 2 * kMB);
  EXPECT_NEAR(static_cast<double>(stored_.load()), 2 * kMB, 0.03 * 2 * kMB);
  int storesAtTwo = stores_.load();
  EXPECT_GE(storesAtTwo, 1);
  sendRequest(*throttle, static_cast<size_t>(21 * kMB), gapFor(2.1 * kMB), clock_.get());
  EXPECT_NEAR(throttle->peakRate(), 2.1 * kMB, 0.03 * 2.1 * kMB);
  EXPECT_EQ(stores_.load(), storesAtTwo);
  // A slower line later does not lower the remembered peak.
  sendRequest(*throttle, static_cast<size_t>(10 * kMB), gapFor(1 * kMB), clock_.get());
  EXPECT_NEAR(throttle->peakRate(), 2.1 * kMB, 0.03 * 2.1 * kMB);
  EXPECT_FALSE(throttle->allowedRate());
  EXPECT_EQ(clock_->totalSlept().count(), 0) << "nothing may wait without a limit";
}

TEST_F(UploadThrottleTest, AWindowStretchedByAPauseIsNoMeasurement) {
  auto throttle = make(0);
  // One second of 4 MB/s, seven seconds of nothing, one more second: no
  // window of three seconds was busy, and 8 MB over eight seconds says
  // nothing about the line.
  sendRequest(*throttle, static_cast<size_t>(4 * kMB), gapFor(4 * kMB), clock_.get());
  clock_->advance(std::chrono::seconds(7));
  sendRequest(*throttle, static_cast<size_t>(4 * kMB), gapFor(4 * kMB), clock_.get());
  EXPECT_EQ(throttle->peakRate(), 0);
  EXPECT_EQ(stores_.load(), 0);
}

TEST_F(UploadThrottleTest, HoldsUploadsToTheirShareOfThePeak) {
  struct Case {
    int32_t percent;
    double expectedRate;
  };
  for (Case c : {Case{25, 1 * kMB}, Case{50, 2 * kMB}, Case{10, 0.4 * kMB}}) {
    SCOPED_TRACE(c.percent);
    auto throttle = make(static_cast<int64_t>(4 * kMB));
    percent_ = c.percent;
    ASSERT_TRUE(throttle->allowedRate());
    EXPECT_DOUBLE_EQ(*throttle->allowedRate(), c.expectedRate);
    auto start = clock_->monotonicNow();
    // Requests of 1 MB, as fast as the (fake) network takes them.
    for (int i = 0; i < 16; ++i) sendRequest(*throttle, static_cast<size_t>(kMB), {}, nullptr);
    double rate = 16 * kMB / seconds(clock_->monotonicNow() - start);
    EXPECT_NEAR(rate, c.expectedRate, 0.05 * c.expectedRate);
    EXPECT_EQ(stores_.load(), 0) << "a limited stretch is no measurement";
  }
}

TEST_F(UploadThrottleTest, NoLimitIsEverBelowTheFloor) {
  auto throttle = make(static_cast<int64_t>(40 * 1024));
  percent_ = 10;
  ASSERT_TRUE(throttle->allowedRate());
  EXPECT_DOUBLE_EQ(*throttle->allowedRate(), UploadThrottle::kMinimumRate);
}

TEST_F(UploadThrottleTest, WithoutAPeakTheFirstUploadsMeasureOneAndThenTheLimitHolds) {
  auto throttle = make(0);
  percent_ = 25;
  EXPECT_FALSE(throttle->allowedRate());
  // 4 MB/s for less than a window: unlimited, still measuring.
  sendRequest(*throttle, static_cast<size_t>(11 * kMB), gapFor(4 * kMB), clock_.get());
  EXPECT_EQ(clock_->totalSlept().count(), 0);
  EXPECT_FALSE(throttle->allowedRate());
  // The window closes: from here on the limit holds.
  sendRequest(*throttle, static_cast<size_t>(2 * kMB), gapFor(4 * kMB), clock_.get());
  EXPECT_NEAR(throttle->peakRate(), 4 * kMB, 0.03 * 4 * kMB);
  ASSERT_TRUE(throttle->allowedRate());
  EXPECT_NEAR(*throttle->allowedRate(), 1 * kMB, 0.03 * kMB);
  auto start = clock_->monotonicNow();
  for (int i = 0; i < 4; ++i) sendRequest(*throttle, static_cast<size_t>(kMB), {}, nullptr);
  EXPECT_NEAR(4 * kMB / seconds(clock_->monotonicNow() - start), 1 * kMB, 0.1 * kMB);
}

TEST_F(UploadThrottleTest, ARequestWaitsAtMostItsShareAndTheNextWaitsOutTheDebt) {
  // 64 KiB/s: one 4 MiB request would take 64 s, longer than a service
  // waits for a body.
  auto throttle = make(static_cast<int64_t>(256 * 1024));
  percent_ = 25;
  const size_t body = 4 * 1024 * 1024;
  auto start = clock_->monotonicNow();
  sendRequest(*throttle, body, {}, nullptr);
  double first = seconds(clock_->monotonicNow() - start);
  EXPECT_NEAR(first, seconds(UploadThrottle::kMaxWaitInRequest), 0.3);
  // The rest is debt: the next request starts only when the average is
  // back at 64 KiB/s.
  UploadThrottle::Upload next = throttle->begin();
  double started = seconds(clock_->monotonicNow() - start);
  EXPECT_NEAR(started, body / (64.0 * 1024), 0.5);
  EXPECT_TRUE(next.limited());
}

TEST_F(UploadThrottleTest, LiftingTheLimitEndsTheWaits) {
  auto throttle = make(static_cast<int64_t>(256 * 1024));
  percent_ = 25;
  sendRequest(*throttle, 4 * 1024 * 1024, {}, nullptr);  // leaves about 44 s of debt
  clock_->setAutoAdvance(false);
  const double sleptBefore = seconds(clock_->totalSlept());
  std::atomic<bool> started{false};
  std::thread waiter([&] {
    throttle->begin();
    started = true;
  });
  // A few slices pass with the limit on: still waiting.
  for (int i = 0; i < 4; ++i) {
    while (clock_->blockedSleepers() == 0 && !started) std::this_thread::yield();
    clock_->advance(UploadThrottle::kSlice);
  }
  EXPECT_FALSE(started.load());
  percent_ = 100;
  // At most one more slice.
  while (!started) {
    if (clock_->blockedSleepers() > 0) clock_->advance(UploadThrottle::kSlice);
    std::this_thread::yield();
  }
  waiter.join();
  EXPECT_LE(seconds(clock_->totalSlept()) - sleptBefore, 6 * seconds(UploadThrottle::kSlice));
}

TEST_F(UploadThrottleTest, EveryWorkerSharesOneBudget) {
  auto throttle = make(static_cast<int64_t>(4 * kMB));
  percent_ = 25;  // 1 MB/s for all of them together
  // Three requests in flight at once, their pieces going out in turn.
  constexpr int kWorkers = 3;
  const size_t body = static_cast<size_t>(2 * kMB);
  auto start = clock_->monotonicNow();
  std::vector<UploadThrottle::Upload> uploads;
  for (int w = 0; w < kWorkers; ++w) uploads.push_back(throttle->begin());
  for (size_t sent = 0; sent < body; sent += UploadThrottle::kPieceBytes) {
    for (auto& upload : uploads) upload.beforeSending(std::min(UploadThrottle::kPieceBytes, body - sent));
  }
  double rate = kWorkers * body / seconds(clock_->monotonicNow() - start);
  EXPECT_NEAR(rate, 1 * kMB, 0.05 * kMB) << "three workers must not get three budgets";
}

TEST_F(UploadThrottleTest, ThreadsCountEveryByteOnce) {
  auto throttle = make(0);
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) sendRequest(*throttle, 100000, {}, nullptr);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(throttle->bytesCounted(), uint64_t{kThreads} * 50 * 100000);
}

}  // namespace
}  // namespace palvero
