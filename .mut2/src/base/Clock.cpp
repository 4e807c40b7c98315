#include "base/Clock.h"

#include <mutex>
#include <thread>

namespace palvero {
namespace {

std::mutex gClockMutex;
std::shared_ptr<Clock>& installedClock() {  // guarded by gClockMutex
  static auto* clock = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return *clock;
}

}  // namespace

bool Clock::sleepUnlessCancelled(Duration duration, const std::atomic<bool>& cancel) {
  constexpr Duration kSlice = std::chrono::milliseconds(100);
  while (duration > Duration::zero()) {
    if (cancel.load()) return false;
    Duration step = std::min(duration, kSlice);
    sleepFor(step);
    duration -= step;
  }
  return !cancel.load();
}

std::shared_ptr<Clock> Clock::current() {
  std::lock_guard lock(gClockMutex);
  return installedClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(gClockMutex);
  installedClock() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

Date SystemClock::now() const {
  return Date(std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now()));
}

Clock::Instant SystemClock::monotonicNow() const { return std::chrono::steady_clock::now(); }

void SystemClock::sleepFor(Duration duration) { std::this_thread::sleep_for(duration); }

}  // namespace palvero
