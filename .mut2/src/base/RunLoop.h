// The application's main run loop: tasks posted from any thread and timers,
// all run on the one thread that drives the loop. RunLoop holds the timer
// table; an implementation (StdRunLoop for the daemon, CLI and tests, a Qt one
// for the tray app) supplies the thread that runs them.
//
// Thread contract: async(), sync() and timer scheduling are safe from any
// thread. sync() from a thread other than the loop's blocks until the loop has
// run the task, so the loop must be running.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

#include "base/Clock.h"

namespace palvero {

class Timer;

class RunLoop {
 public:
  virtual ~RunLoop() = default;

  // The process's main loop: a StdRunLoop unless an application installed
  // another with setMain().
  static RunLoop& main();
  static void setMain(std::shared_ptr<RunLoop> loop);

  // Runs `task` on the loop thread later.
  void async(std::function<void()> task) { post(std::move(task)); }

  // Runs `fn` on the loop thread and returns its result; runs it directly when
  // called on the loop thread.
  template <class F>
  auto sync(F&& fn) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    if (isCurrentThread()) return fn();
    std::packaged_task<Result()> task(std::forward<F>(fn));
    auto future = task.get_future();
    post([&task] { task(); });
    return future.get();
  }

  // True on the thread that is running (or last ran) this loop.
  virtual bool isCurrentThread() const = 0;

  // Used by Timer: adds a timer to this loop's table.
  void addTimer(std::shared_ptr<Timer> timer);
  // Used by Timer: the timer's deadline moved or it was invalidated.
  void timersChanged() { deadlineChanged(); }

 protected:
  virtual void post(std::function<void()> task) = 0;
  // The earliest timer deadline may have moved; a waiting loop should wake.
  virtual void deadlineChanged() = 0;

  // Earliest deadline of a valid timer.
  std::optional<Clock::Instant> nextDeadline();
  // Fires every timer due at the clock's monotonic now, in deadline order.
  // Call on the loop thread. Returns the number fired.
  int fireDueTimers();

 private:
  std::mutex timersMutex_;
  std::vector<std::shared_ptr<Timer>> timers_;  // guarded by timersMutex_
};

}  // namespace palvero
