#include "platform/SleepMonitor.h"

#include <time.h>

namespace palvero {
namespace {

SuspendGapDetector::Duration readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace

std::unique_ptr<SleepMonitor> createLogindSleepMonitor();  // LogindSleepMonitor.cpp

std::unique_ptr<SleepMonitor> SleepMonitor::create() {
  if (auto logind = createLogindSleepMonitor()) return logind;
  return std::make_unique<ClockSleepMonitor>();
}

bool SuspendGapDetector::observe(Duration boottime, Duration monotonic) {
  Duration gap = boottime - monotonic;
  if (!primed_) {
    primed_ = true;
    lastGap_ = gap;
    return false;
  }
  bool suspended = gap - lastGap_ >= threshold_;
  lastGap_ = gap;
  return suspended;
}

ClockSleepMonitor::ClockSleepMonitor(std::chrono::milliseconds interval, std::chrono::milliseconds threshold)
    : interval_(interval), threshold_(threshold) {}

ClockSleepMonitor::~ClockSleepMonitor() { stop(); }

bool ClockSleepMonitor::start(Handler onSleep, Handler onWake) {
  stop();
  onSleep_ = std::move(onSleep);
  onWake_ = std::move(onWake);
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void ClockSleepMonitor::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ClockSleepMonitor::run() {
  SuspendGapDetector detector(threshold_);
  detector.observe(readClock(CLOCK_BOOTTIME), readClock(CLOCK_MONOTONIC));
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stopRequested_; })) {
    lock.unlock();
    if (detector.observe(readClock(CLOCK_BOOTTIME), readClock(CLOCK_MONOTONIC))) {
      if (onSleep_) onSleep_();
      if (onWake_) onWake_();
    }
    lock.lock();
  }
}

}  // namespace palvero
