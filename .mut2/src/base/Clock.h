// The seam through which all time passes: the wall clock, the monotonic clock
// and every fixed wait (retries, pauses between requests). Production uses the system clock; tests install a
// FakeClock so that minutes of waiting run in milliseconds.
//
// Thread contract: current() and setCurrent() are safe from any thread; a
// clock implementation must be too.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "base/Date.h"

namespace palvero {

class Clock {
 public:
  using Duration = std::chrono::nanoseconds;
  using Instant = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;

  virtual Date now() const = 0;
  virtual Instant monotonicNow() const = 0;
  // Blocks the calling thread for `duration` of this clock's time.
  virtual void sleepFor(Duration duration) = 0;
  // False for clocks whose time does not follow the real one; run loops then
  // poll instead of sleeping until a deadline.
  virtual bool isReal() const { return true; }

  // Sleeps for `duration` but returns early (false) once `*cancel` is set.
  // Returns true when the whole duration passed.
  bool sleepUnlessCancelled(Duration duration, const std::atomic<bool>& cancel);

  // The process clock: the system clock unless a test replaced it.
  static std::shared_ptr<Clock> current();
  // Installs `clock`; nullptr restores the system clock.
  static void setCurrent(std::shared_ptr<Clock> clock);
};

class SystemClock : public Clock {
 public:
  Date now() const override;
  Instant monotonicNow() const override;
  void sleepFor(Duration duration) override;
};

}  // namespace palvero
