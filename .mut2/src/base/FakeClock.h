// A clock for tests. Its time moves only when a test advances it or, with
// auto-advance on (the default), when a thread sleeps: sleepFor(d) then moves
// the clock forward by d and returns at once.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <condition_variable>
#include <mutex>

#include "base/Clock.h"

namespace palvero {

class FakeClock : public Clock {
 public:
  // Starts at 2024-01-31 17:05:09 local time.
  FakeClock();
  explicit FakeClock(Date start);

  Date now() const override;
  Instant monotonicNow() const override;
  // With auto-advance on, advances the clock by `duration`; otherwise blocks
  // until another thread has advanced the clock by `duration`.
  void sleepFor(Duration duration) override;
  bool isReal() const override { return false; }

  // Moves both the wall and the monotonic time forward.
  void advance(Duration duration);
  // Moves only the wall time (a clock change or a wake from sleep).
  void setWallTime(Date date);
  void setAutoAdvance(bool on);
  // Total time that threads have spent in sleepFor.
  Duration totalSlept() const;
  // Threads blocked in sleepFor right now (auto-advance off).
  int blockedSleepers() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable advanced_;
  Date wall_;           // guarded by mutex_
  Instant monotonic_;   // guarded by mutex_
  bool autoAdvance_ = true;   // guarded by mutex_
  Duration slept_{};    // guarded by mutex_
  int blocked_ = 0;     // guarded by mutex_
};

}  // namespace palvero
