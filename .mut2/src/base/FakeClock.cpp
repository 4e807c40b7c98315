#include "base/FakeClock.h"

namespace palvero {

FakeClock::FakeClock() : FakeClock(Date::fromLocalComponents(2024, 1, 31, 17, 5, 9)) {}

FakeClock::FakeClock(Date start) : wall_(start), monotonic_(std::chrono::hours(1000)) {}

Date FakeClock::now() const {
  std::lock_guard lock(mutex_);
  return wall_;
}

Clock::Instant FakeClock::monotonicNow() const {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

void FakeClock::sleepFor(Duration duration) {
  std::unique_lock lock(mutex_);
  slept_ += duration;
  if (autoAdvance_) {
    monotonic_ += duration;
    wall_ = Date(wall_.timePoint() + std::chrono::duration_cast<std::chrono::microseconds>(duration));
    advanced_.notify_all();
    return;
  }
  Instant until = monotonic_ + duration;
  ++blocked_;
  advanced_.wait(lock, [&] { return monotonic_ >= until; });
  --blocked_;
}

void FakeClock::advance(Duration duration) {
  std::lock_guard lock(mutex_);
  monotonic_ += duration;
  wall_ = Date(wall_.timePoint() + std::chrono::duration_cast<std::chrono::microseconds>(duration));
  advanced_.notify_all();
}

void FakeClock::setWallTime(Date date) {
  std::lock_guard lock(mutex_);
  wall_ = date;
}

void FakeClock::setAutoAdvance(bool on) {
  std::lock_guard lock(mutex_);
  autoAdvance_ = on;
}

int FakeClock::blockedSleepers() const {
  std::lock_guard lock(mutex_);
  return blocked_;
}

Clock::Duration FakeClock::totalSlept() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

}  // namespace palvero
