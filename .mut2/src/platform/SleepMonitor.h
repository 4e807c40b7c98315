// Reports the machine going to sleep and waking up.
//
// On Linux the source is logind's PrepareForSleep signal on the system bus
// (sd-bus). Where there is no system bus or no logind (containers, minimal
// systems), a fallback watches the gap between the boot-time clock, which
// runs during suspend, and the monotonic clock, which does not: when the gap
// grows, the machine was suspended, and sleep and wake are reported together
// right after the wake.
//
// Thread contract: start() and stop() from one controlling thread; the
// handlers run on the monitor's own thread. stop() (and the destructor) wait
// for a running handler to return.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace palvero {

class SleepMonitor {
 public:
  using Handler = std::function<void()>;

  virtual ~SleepMonitor() = default;
  // Starts reporting; false when the source cannot be watched. On return
  // the source is watched: logind's match is registered with the bus, so a
  // signal sent from then on is reported.
  virtual bool start(Handler onSleep, Handler onWake) = 0;
  virtual void stop() = 0;
  // "logind" or "clock", for the log.
  virtual const char* sourceName() const = 0;

  // logind's signal when the system bus and logind are there, else the
  // clock fallback.
  static std::unique_ptr<SleepMonitor> create();
};

// Decides from successive readings of the two clocks whether the machine was
// suspended in between. A plain value; not thread-safe.
class SuspendGapDetector {
 public:
  using Duration = std::chrono::nanoseconds;

  explicit SuspendGapDetector(Duration threshold) : threshold_(threshold) {}
  // One reading of both clocks (time since boot, monotonic time). True when
  // the boot-time clock ran ahead of the monotonic one by at least the
  // threshold since the previous reading. The first reading only sets the
  // baseline.
  bool observe(Duration boottime, Duration monotonic);

 private:
  const Duration threshold_;
  bool primed_ = false;
  Duration lastGap_{};
};

// The fallback: polls both clocks every `interval`.
class ClockSleepMonitor : public SleepMonitor {
 public:
  explicit ClockSleepMonitor(std::chrono::milliseconds interval = std::chrono::seconds(2),
                             std::chrono::milliseconds threshold = std::chrono::seconds(4));
  ~ClockSleepMonitor() override;

  bool start(Handler onSleep, Handler onWake) override;
  void stop() override;
  const char* sourceName() const override { return "clock"; }

 private:
  void run();

  const std::chrono::milliseconds interval_;
  const std::chrono::milliseconds threshold_;
  Handler onSleep_;
  Handler onWake_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace palvero
