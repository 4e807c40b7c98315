// Repeating and one-shot timers on a run loop (RunLoop::main() unless given).
// Deadlines are on the process clock, so a FakeClock drives them in tests.
// A repeating timer that missed several periods fires once and resumes its
// period from the current time.
//
// Thread contract: scheduling, invalidate() and isValid() are safe from any
// thread; the callback always runs on the loop's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "base/Clock.h"
#include "base/Date.h"

namespace palvero {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Handle = std::shared_ptr<Timer>;
  using Callback = std::function<void()>;

  // Fires `callback` after `interval`, and every `interval` after that when
  // `repeats`.
  static Handle scheduled(Clock::Duration interval, bool repeats, Callback callback);
  static Handle scheduled(RunLoop& loop, Clock::Duration interval, bool repeats, Callback callback);
  // Fires once at `fireDate` (at once when it has passed).
  static Handle scheduledAt(Date fireDate, Callback callback);
  static Handle scheduledAt(RunLoop& loop, Date fireDate, Callback callback);

  // After invalidate() returns, the callback is not started again.
  void invalidate();
  bool isValid() const { return valid_.load(); }
  Clock::Duration interval() const { return interval_; }
  bool repeats() const { return repeats_; }
  // The wall-clock date of the next firing.
  Date fireDate() const;

  // Used by RunLoop.
  Clock::Instant deadline() const;
  uint64_t sequence() const { return sequence_; }
  void fireFromLoop(Clock::Instant now);

  Timer(RunLoop& loop, Clock::Instant deadline, Clock::Duration interval, bool repeats, Callback callback);

 private:
  RunLoop& loop_;
  const Clock::Duration interval_;
  const bool repeats_;
  const Callback callback_;
  const uint64_t sequence_;
  std::atomic<bool> valid_{true};
  mutable std::mutex mutex_;
  Clock::Instant deadline_;  // guarded by mutex_
};

}  // namespace palvero
