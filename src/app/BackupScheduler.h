// When backups start on their own: the backup timer (every 10 seconds with
// continuous timing, at the chosen time with daily timing), the decision of
// each firing (start, wait, or arm the timer again), the timing controls,
// and the controller's other timers (the restart and emergency one-shots,
// the update retry, the periodic ones) so that one object stops them all.
// MainViewController owns one and answers its questions through `Host`.
//
// Thread contract: every member is safe from any thread; the timers fire on
// the main thread. The scheduler's lock guards the timer handles only and is
// never held while a timer callback or a Host function runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/Date.h"
#include "base/Timer.h"

namespace palvero {

class BackupScheduler {
 public:
  static constexpr double kContinuousMinimumSeconds = 900;
  // A refused daily start tries again this long after, not at once: the time
  // it was armed for has passed, and the status check needs a moment to change.
  static constexpr auto kDailyRetry = std::chrono::seconds(60);

  // What a firing looks at, read once when it fires.
  struct Facts {
    bool asleep = false;
    bool scanning = false;  // a rescan rebuilds the queue under the batch
    bool statusOK = false;
    bool storageFull = false;
    bool connected = false;
    bool backuping = false;
    bool restoring = false;
    int64_t queued = 0;  // files waiting, as last counted
  };
  struct Host {
    std::function<Facts()> facts;
    std::function<int64_t()> recount;  // counts the waiting files again; the count
    std::function<std::string()> heldBackReason;
    std::function<void()> showInProgress;
    // Loads the batch from the database when files wait; whether it holds any.
    std::function<bool()> loadQueue;
    std::function<bool()> startBackup;
    std::function<void(const char* failureLine)> sendSettings;
  };
  // The controller's other timers, each replaced whole.
  enum class Slot { kRestart, kEmergency, kUpdate };

  explicit BackupScheduler(Host host);
  ~BackupScheduler();
  BackupScheduler(const BackupScheduler&) = delete;
  BackupScheduler& operator=(const BackupScheduler&) = delete;

  // Timing 2 or 3 (daily).
  static bool dailyTiming();
  // No daily time stored, or it is now or past.
  static bool timingTimePassed();

  // A backup timer fired (or a caller asks for the same decision).
  void startAutoBackup();
  // The stored timing's timer at start; whether it is daily (the button then
  // stays off).
  bool armAtStart();
  // The daily time moved to its next day (today when still ahead) and armed.
  void setDailyTimer();
  // The stored daily time armed once; when it has passed, a retry in a minute.
  void addDailyTimerOnce();
  void armContinuous();
  void dropBackupTimer();
  Timer::Handle backupTimer() const;
  // A backup timer that died (sleep) armed again; which timing it was.
  enum class Revived { kNone, kContinuous, kDaily };
  Revived reviveBackupTimer();

  // Timing pop-up entry 0, 1 or 2 (daily, stored as 3): stored, sent, the
  // timer follows. False for another entry (nothing changes).
  bool changeTiming(int entry, bool backuping);
  void backupOnSetTimeChanged(bool checked);
  // The time picker: today at the hour and minute of `picked`.
  void dailyTimeChanged(Date picked);

  bool isAutoBackup() const { return isAutoBackup_.load(); }
  void setAutoBackup(bool automatic) { isAutoBackup_.store(automatic); }
  // A run started: the next refused daily start is reported again.
  void runStarted() { refusalReported_.store(false); }

  void replace(Slot slot, Timer::Handle timer);
  // Arms `slot` with `make()` unless it holds a live timer.
  void armIfIdle(Slot slot, const std::function<Timer::Handle()>& make);
  void keepPeriodic(Timer::Handle timer);
  // Every timer invalidated (shutdown).
  void stopAll();

 private:
  void replaceBackupTimer(Timer::Handle timer);
  void rearmDaily();
  void startContinuousRun(const Facts& facts);
  void startDailyRun(const Facts& facts, bool onlyWhenPassed);
  // Posts DesktopAlerts::kScheduledBackupNotStarted once per refused daily
  // start (not again for its retries).
  void reportRefused(const std::string& reason);
  Timer::Handle& slotLocked(Slot slot);

  const Host host_;                            // set at construction: no lock
  std::atomic<bool> isAutoBackup_{false};      // atomic, no lock
  std::atomic<bool> refusalReported_{false};   // atomic, no lock; cleared when a run starts

  mutable std::mutex mutex_;
  Timer::Handle backupTimer_;                  // guarded by mutex_
  Timer::Handle restartTimer_;                 // guarded by mutex_
  Timer::Handle emergencyTimer_;               // guarded by mutex_
  Timer::Handle updateTimer_;                  // guarded by mutex_
  std::vector<Timer::Handle> periodicTimers_;  // guarded by mutex_
};

}  // namespace palvero
