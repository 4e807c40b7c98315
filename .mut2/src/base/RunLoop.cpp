#include "base/RunLoop.h"

#include <algorithm>

#include "base/StdRunLoop.h"
#include "base/Timer.h"

namespace palvero {
namespace {

std::mutex gMainMutex;
std::shared_ptr<RunLoop>& installedMain() {  // guarded by gMainMutex
  static auto* loop = new std::shared_ptr<RunLoop>(std::make_shared<StdRunLoop>());
  return *loop;
}

}  // namespace

RunLoop& RunLoop::main() {
  std::lock_guard lock(gMainMutex);
  return *installedMain();
}

void RunLoop::setMain(std::shared_ptr<RunLoop> loop) {
  std::lock_guard lock(gMainMutex);
  // The replaced loop stays alive: timers and tasks may still point at it.
  static auto* retired = new std::vector<std::shared_ptr<RunLoop>>();
  retired->push_back(installedMain());
  installedMain() = loop ? std::move(loop) : std::make_shared<StdRunLoop>();
}

void RunLoop::addTimer(std::shared_ptr<Timer> timer) {
  {
    std::lock_guard lock(timersMutex_);
    timers_.push_back(std::move(timer));
  }
  deadlineChanged();
}

std::optional<Clock::Instant> RunLoop::nextDeadline() {
  std::lock_guard lock(timersMutex_);
  std::optional<Clock::Instant> next;
  for (const auto& timer : timers_) {
    if (!timer->isValid()) continue;
    Clock::Instant deadline = timer->deadline();
    if (!next || deadline < *next) next = deadline;
  }
  return next;
}

int RunLoop::fireDueTimers() {
  Clock::Instant now = Clock::current()->monotonicNow();
  std::vector<std::shared_ptr<Timer>> due;
  {
    std::lock_guard lock(timersMutex_);
    std::erase_if(timers_, [](const auto& timer) { return !timer->isValid(); });
    for (const auto& timer : timers_) {
      if (timer->deadline() <= now) due.push_back(timer);
    }
  }
  std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
    return a->deadline() < b->deadline() || (a->deadline() == b->deadline() && a->sequence() < b->sequence());
  });
  for (const auto& timer : due) timer->fireFromLoop(now);
  return static_cast<int>(due.size());
}

}  // namespace palvero
