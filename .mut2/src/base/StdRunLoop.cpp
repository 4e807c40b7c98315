#include "base/StdRunLoop.h"

namespace palvero {
namespace {

// A loop on a fake clock cannot sleep until a deadline of that clock; it polls.
constexpr auto kFakeClockPoll = std::chrono::milliseconds(2);

}  // namespace

bool StdRunLoop::isCurrentThread() const {
  std::lock_guard lock(mutex_);
  return thread_ == std::this_thread::get_id();
}

void StdRunLoop::bindToCurrentThread() {
  std::lock_guard lock(mutex_);
  thread_ = std::this_thread::get_id();
}

void StdRunLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void StdRunLoop::deadlineChanged() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void StdRunLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
}

bool StdRunLoop::runQueuedTasks() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  for (auto& task : batch) task();
  return !batch.empty();
}

void StdRunLoop::runOnce(std::chrono::steady_clock::time_point limit) {
  bool ranTask = runQueuedTasks();
  int fired = fireDueTimers();
  if (ranTask || fired > 0) return;

  auto clock = Clock::current();
  auto until = limit;
  if (auto deadline = nextDeadline()) {
    if (clock->isReal()) {
      until = std::min(until, *deadline);
    } else if (*deadline <= clock->monotonicNow()) {
      return;
    }
  }
  if (!clock->isReal()) until = std::min(until, std::chrono::steady_clock::now() + kFakeClockPoll);
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, until, [this] { return !tasks_.empty() || stopRequested_ || woken_; });
  woken_ = false;
}

void StdRunLoop::run() {
  bindToCurrentThread();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopRequested_) {
        stopRequested_ = false;
        return;
      }
    }
    runOnce(std::chrono::steady_clock::now() + std::chrono::hours(1));
  }
}

bool StdRunLoop::runUntil(const std::function<bool()>& done, Clock::Duration realTimeout) {
  bindToCurrentThread();
  auto end = std::chrono::steady_clock::now() + realTimeout;
  while (!done()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= end) return done();
    runOnce(std::min(end, now + std::chrono::milliseconds(50)));
  }
  return true;
}

void StdRunLoop::runPending() {
  bindToCurrentThread();
  runQueuedTasks();
  fireDueTimers();
  runQueuedTasks();
}

}  // namespace palvero
