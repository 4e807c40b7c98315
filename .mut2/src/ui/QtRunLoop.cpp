#include "ui/QtRunLoop.h"

#include <QThread>
#include <algorithm>
#include <chrono>

namespace palvero::ui {
namespace {

// A fake clock's deadlines do not follow real time: poll them.
constexpr int kFakeClockPollMs = 2;

}  // namespace

QtRunLoop::QtRunLoop() {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { rearm(); });
}

bool QtRunLoop::isCurrentThread() const { return QThread::currentThread() == thread(); }

void QtRunLoop::post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtRunLoop::deadlineChanged() {
  // Many timers may change at once (a controller starting): one re-arm each time.
  if (rearmQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        rearmQueued_.store(false);
        rearm();
      },
      Qt::QueuedConnection);
}

void QtRunLoop::rearm() {
  fireDueTimers();
  auto next = nextDeadline();
  if (!next) {
    timer_.stop();
    return;
  }
  auto clock = Clock::current();
  int ms = kFakeClockPollMs;
  if (clock->isReal()) {
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - clock->monotonicNow()).count();
    ms = static_cast<int>(std::clamp<long long>(wait, 0, 24LL * 3600 * 1000));
  }
  timer_.start(ms);
}

}  // namespace palvero::ui
