#include "base/Timer.h"

#include "base/RunLoop.h"

namespace palvero {
namespace {

std::atomic<uint64_t> gNextSequence{0};

}  // namespace

Timer::Timer(RunLoop& loop, Clock::Instant deadline, Clock::Duration interval, bool repeats, Callback callback)
    : loop_(loop),
      interval_(interval),
      repeats_(repeats),
      callback_(std::move(callback)),
      sequence_(gNextSequence++),
      deadline_(deadline) {}

Timer::Handle Timer::scheduled(Clock::Duration interval, bool repeats, Callback callback) {
  return scheduled(RunLoop::main(), interval, repeats, std::move(callback));
}

Timer::Handle Timer::scheduled(RunLoop& loop, Clock::Duration interval, bool repeats, Callback callback) {
  // A repeating timer with no period would spin the loop.
  if (repeats && interval <= Clock::Duration::zero()) interval = std::chrono::milliseconds(1);
  auto timer = std::make_shared<Timer>(loop, Clock::current()->monotonicNow() + interval, interval, repeats,
                                       std::move(callback));
  loop.addTimer(timer);
  return timer;
}

Timer::Handle Timer::scheduledAt(Date fireDate, Callback callback) {
  return scheduledAt(RunLoop::main(), fireDate, std::move(callback));
}

Timer::Handle Timer::scheduledAt(RunLoop& loop, Date fireDate, Callback callback) {
  auto clock = Clock::current();
  auto delay = std::chrono::duration_cast<Clock::Duration>(fireDate.timePoint() - clock->now().timePoint());
  if (delay < Clock::Duration::zero()) delay = Clock::Duration::zero();
  auto timer = std::make_shared<Timer>(loop, clock->monotonicNow() + delay, Clock::Duration::zero(), false,
                                       std::move(callback));
  loop.addTimer(timer);
  return timer;
}

void Timer::invalidate() {
  if (valid_.exchange(false)) loop_.timersChanged();
}

Date Timer::fireDate() const {
  auto clock = Clock::current();
  auto remaining = deadline() - clock->monotonicNow();
  return Date(clock->now().timePoint() + std::chrono::duration_cast<std::chrono::microseconds>(remaining));
}

Clock::Instant Timer::deadline() const {
  std::lock_guard lock(mutex_);
  return deadline_;
}

void Timer::fireFromLoop(Clock::Instant now) {
  if (!valid_.load()) return;
  if (repeats_) {
    std::lock_guard lock(mutex_);
    deadline_ += interval_;
    if (deadline_ <= now) deadline_ = now + interval_;
  } else {
    valid_.store(false);
  }
  // Keep the timer alive while its callback runs, even if the callback drops
  // the last handle.
  auto self = shared_from_this();
  callback_();
}

}  // namespace palvero
