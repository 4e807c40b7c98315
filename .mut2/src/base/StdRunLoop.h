// A run loop on a plain thread, for the daemon, the CLI and tests.
//
// Thread contract: post/async/sync and stop() from any thread; run(),
// runUntil() and runPending() on the one thread that drives the loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/RunLoop.h"

namespace palvero {

class StdRunLoop : public RunLoop {
 public:
  // Runs tasks and timers until stop(); tasks still queued then stay queued.
  // A stop() requested before run() makes run() return at once.
  void run();
  void stop();
  // Runs tasks and timers until `done()` is true or `realTimeout` of real time
  // has passed; returns done().
  bool runUntil(const std::function<bool()>& done, Clock::Duration realTimeout);
  // Runs the queued tasks and the due timers once, without waiting.
  void runPending();

  bool isCurrentThread() const override;

 protected:
  void post(std::function<void()> task) override;
  void deadlineChanged() override;

 private:
  // Runs what is ready; waits at most until the next deadline or `limit`.
  void runOnce(std::chrono::steady_clock::time_point limit);
  bool runQueuedTasks();
  void bindToCurrentThread();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  bool stopRequested_ = false;               // guarded by mutex_
  bool woken_ = false;                       // guarded by mutex_
  std::thread::id thread_;                   // guarded by mutex_
};

}  // namespace palvero
