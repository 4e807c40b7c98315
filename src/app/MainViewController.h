// The main window controller without its window: it runs every backup (the
// queue in batches of 400 spread over the workers), decides when runs start
// (manual, continuous, daily), checks the account's state every 10 seconds,
// stops and restarts runs around sleep, replaces frozen workers, retries
// failed files, deletes removed files on the server, refreshes the settings
// and installs updates. What a window would show goes to a MainView as
// plain data (StatusModel, CheckStatusModel).
//
// One header, one .cpp per concern:
//   MainViewController.cpp          construction, initialisation, observers, shutdown
//   MainViewControllerWorkers.cpp   workers, thread count, the worker thread body, stamps
//   MainViewControllerRun.cpp       startBackup, hand-outs, completions, batches, end of a run
//   MainViewControllerControl.cpp   stop, pause/resume, restart, failed files, server deletion
//   MainViewControllerSchedule.cpp  automatic and daily starts, timing changes
//   MainViewControllerStatus.cpp    the status check and its rows
//   MainViewControllerGuard.cpp     emergency stop and start, watchdog, wrong password
//   MainViewControllerRemote.cpp    settings refresh, version check, update, statistics, logs
//   MainViewControllerDisplay.cpp   status area, time remaining, failed-files list
//
// Threads and locks (doc/threading.md has the whole picture):
//   - The main thread (RunLoop::main()) runs initialize(), every timer,
//     startBackup(), statusButton(), the scheduler and the emergency stop.
//   - Each busy worker runs its file on a thread of its own; the engine's
//     notification is handled on that thread under lockBackupObject_, which
//     serialises every change of the batch, the cursor and the counters.
//     startBackup() and the batch closer hand out files under the same lock,
//     so a file that finishes at once cannot race the hand-out.
//   - Network work started by timers runs on DispatchQueue::global().
//   - Fixed waits (the 10-second hold of a file modified just now, the
//     10-second pause of restartBackup, the 5-second retry of the emergency
//     start) are one-shot timers: the main thread never sleeps.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/ApplicationHooks.h"
#include "app/MainView.h"
#include "app/RestoreControl.h"
#include "app/ServerLink.h"
#include "app/StatusModel.h"
#include "app/WorkerRecord.h"
#include "base/Clock.h"
#include "base/Date.h"
#include "base/NotificationCenter.h"
#include "base/Timer.h"
#include "base/Value.h"
#include "engine/BlockEngine.h"
#include "selection/ChangeWatcherDelegate.h"
#include "state/BackupFile.h"

namespace palvero {

class ChangeWatcher;

class MainViewController : public ChangeWatcherDelegate {
 public:
  using EngineFactory = std::function<std::shared_ptr<BlockEngine>()>;

  // Fixed periods; tests may shorten none of them (they run on a fake
  // clock) but a one-shot command turns the periodic timers off.
  struct Options {
    bool periodicTimers = true;
    bool checkStatusAtStart = true;
    bool requestSupportInfo = true;
  };

  static constexpr size_t kBatchSize = 400;
  static constexpr int64_t kMaxTries = 5;
  static constexpr double kHoldBackSeconds = 10;   // a file modified this recently waits
  static constexpr int kMaxHoldBacks = 6;          // then it is handed out all the same
  static constexpr double kContinuousMinimumSeconds = 900;
  static constexpr double kWatchdogLimitSeconds = 360;
  static constexpr int64_t kDeleteListBytes = 5000000;
  static constexpr int kDeleteAttempts = 5;
  static constexpr int64_t kClientType = 11;
  // Thread-count slider positions 1-5 → workers.
  static int threadsForSliderPosition(int position);
  static int sliderPositionForThreads(int threads);

  MainViewController(std::shared_ptr<ServerLink> server, EngineFactory engineFactory, MainView* view,
                     ApplicationHooks* hooks, Options options);
  MainViewController(std::shared_ptr<ServerLink> server, EngineFactory engineFactory, MainView* view,
                     ApplicationHooks* hooks);
  // Stops every timer and observer, cancels the engines and waits (at most
  // a minute) for the worker threads.
  ~MainViewController() override;
  MainViewController(const MainViewController&) = delete;
  MainViewController& operator=(const MainViewController&) = delete;

  // The initialisation sequence (authorise, settings, status check, workers,
  // timers, observers, the 30-day rule, the rescan). Main thread.
  void initialize();
  // The watcher that rebuilds the queue (needFullBackup); may be null.
  void setChangeWatcher(ChangeWatcher* watcher) { changeWatcher_ = watcher; }
  void setRestoreControl(RestoreControl* restore) { restoreControl_ = restore; }

  // --- Backup run (MainViewControllerRun.cpp) -----------------------------

  // Starts a run on the main thread; false when it could not.
  bool startBackup();
  // The engines' notifications, on the worker's thread.
  void backupOK();
  void backupFail();
  // Writes what the current batch holds (done files were written as they
  // finished; failures count a try) — the shutdown's step.
  void writePendingBatch();

  // --- Control (MainViewControllerControl.cpp) ----------------------------

  // The pause/resume button. Main thread.
  void statusButton();
  void setUIPause(bool enabled);
  void setUIInProgress();
  void tryToBackupFailedFiles();
  // Sends the paths of status-3 rows for deletion; blocks (background queue).
  void deleteFiles();
  // Slider position 1-5.
  void changeNumberOfThreads(int position);
  void DisposeAllThreadsAndReCreate(bool forBackup);

  // --- Scheduler (MainViewControllerSchedule.cpp) -------------------------

  void startAutoBackup();
  void setDailyTimer();
  void addDailyTimerOnce();
  // Timing pop-up entry 0, 1 or 2 (daily, stored as 3).
  void changeTiming(int entry);
  void backupSetOnlyOnTimeCheckboxClicked(bool checked);
  // The time picker: today at the hour and minute of `picked`.
  void dailyBackupDateChanged(Date picked);

  // --- Status check (MainViewControllerStatus.cpp) ------------------------

  // Starts the check: network on the background queue, rows on the main thread.
  void checkStatus();
  // The network part then the evaluation, on the calling thread (blocks;
  // the CLI's status command and tests).
  void checkStatusNow();
  // Evaluates the rows from the current figures. Main thread.
  void evaluateCheckStatus();

  // --- Guards (MainViewControllerGuard.cpp) -------------------------------

  void emergencyStop();
  void emergencyStart();
  void checkIfAppIsAlive();
  void restartRestore();
  void wrongPass();

  // --- Remote (MainViewControllerRemote.cpp) ------------------------------

  void updateSettings();
  void checkVersion();
  void downloadUpdate();
  // The updater is in place ("DownloadUpdateOK"): logged, and the view is
  // told (MainView::updateDownloaded); nothing is launched.
  void updateClient();
  // The user agreed to the update: the updater is launched (once no restore
  // runs; a backup run is cancelled first). Main thread.
  void installUpdate();
  bool updateDownloaded() const { return updateDownloaded_.load(); }
  void updateStatistic();
  void sendLogs(const std::string& message);
  // The 10-second statistics run only while a window shows them; a front
  // end without a window leaves this on (the storage check reads the total).
  void setStatisticsWanted(bool wanted) { statisticsWanted_.store(wanted); }
  bool statisticsWanted() const { return statisticsWanted_.load(); }

  // --- Display (MainViewControllerDisplay.cpp) ----------------------------

  void updateStatusBar();
  void updateTimeRemaining();
  // The files failed five times or more (at most 1000).
  std::vector<FailedFile> failedFiles();
  void deleteFailedFile(const std::string& path);

  // --- ChangeWatcherDelegate ----------------------------------------------

  bool isBackupRunning() override { return backuping_.load(); }
  // Cancels the run: every engine gets `cancel` and the workers drop their
  // files as their engines notice. Called from a thread that is neither a
  // worker nor the main thread (the change watcher), it returns once every
  // worker has let go (at most a minute).
  void stopBackup() override;
  // During a run, the watchdog's restart: pause now, resume 10 seconds
  // later (a timer). Outside a run (after the watcher's stopBackup), a new
  // run on the main thread.
  void restartBackup() override;
  void setScanning(bool scanning) override;
  bool saveExclusionsToServer() override;

  // --- State, for front ends and tests ------------------------------------

  bool backuping() const { return backuping_.load(); }
  // A first scan, a rescan or a queue rebuild is under way.
  bool scanning() const { return scanning_.load(); }
  bool isPaused() const { return isPaused_.load(); }
  bool isAutoBackup() const { return isAutoBackup_.load(); }
  bool statusOK() const { return statusOK_.load(); }
  int32_t connection() const { return connection_.load(); }
  bool storageFull() const { return storageFull_.load(); }
  bool backupEmergencyStopped() const { return backupEmergencyStopped_.load(); }
  bool restoring() const;
  int64_t backupItr() const;
  int64_t totalFilesItr() const { return totalFilesItr_.load(); }
  int64_t filesToBackupCount() const { return filesToBackupCount_.load(); }
  int64_t backedUpBytes() const { return backedUpBytes_.load(); }
  int64_t totalBackupBytes() const { return totalBackupBytes_.load(); }
  bool newVersion() const { return newVersion_.load(); }
  std::string version() const;
  std::optional<int64_t> totalUsed() const;
  void setTotalUsed(std::optional<int64_t> used);
  Timer::Handle backupTimer() const;
  StatusModel statusModel() const;
  CheckStatusModel checkStatusModel() const;
  // Whether any worker holds a file (or waits for one to be quiet).
  bool anyWorkerActive() const;
  // The paths of the current batch, in order (tests).
  std::vector<std::string> batchPaths() const;
  // Files finished in the current run so far.
  RunSummary currentRun() const;

  // Test seams: the figures the status check would have set, and those a
  // run in progress would have reached.
  void setStatusForTesting(bool statusOK, int32_t connection);
  void setRunFiguresForTesting(bool backuping, int64_t filesToBackupCount, int64_t totalFilesItr,
                               int64_t backedUpBytes, int64_t totalBackupBytes);

 private:
  struct BatchEntry {
    enum class State { kWaiting, kRunning, kDone, kFailed };
    BackupFile file;
    State state = State::kWaiting;
    // The file as it was when it was handed out: a later change means the
    // backup may have missed it.
    std::optional<Date> modifiedAtStart;
    int64_t sizeAtStart = -1;
    int holdBacks = 0;
    // Not handed out before (the file was modified within 10 seconds).
    std::optional<Date> quietAt;
  };

  // --- Workers ---
  std::shared_ptr<BackupThread> makeBackupWorker(int64_t number);
  void backupFile(Value args, std::shared_ptr<BackupThread> worker);
  void installStamper();
  // The completion handlers mark the hand-out of the calling thread as reported.
  static void markHandoutReported();
  // The batch entry the worker holds, when it still holds one.
  BatchEntry* entryOfLocked(const BackupThread& worker);
  std::vector<std::shared_ptr<BackupThread>> backupWorkers() const;
  void cancelBackupEngines();

  // --- Run (all under lockBackupObject_) ---
  // Hands batch entry `index` to `worker`: at once, or by a timer once the
  // file has been quiet for 10 seconds.
  void handOutLocked(const std::shared_ptr<BackupThread>& worker, size_t index, bool startOfRun);
  void startWorkerLocked(const std::shared_ptr<BackupThread>& worker, size_t index);
  // When the entry's file was modified within 10 seconds (and may be held
  // back once more): the time it will have been quiet for 10 seconds.
  std::optional<Date> stillBeingWrittenLocked(BatchEntry& entry);
  Value argsForEntry(const BackupFile& file) const;
  void checkNextFileForBackup(const std::shared_ptr<BackupThread>& worker, bool PreviousFileSuccess);
  void startBackupingNextFileWithPath(const std::shared_ptr<BackupThread>& worker, size_t index);
  void getNextBackupQueue(const std::shared_ptr<BackupThread>& worker, bool success);
  void backupEnd(bool success);
  // Posts DesktopAlerts::kFilesFailedForGood with the files of this run that
  // reached five tries (before they are offered again).
  void reportFailedForGood();
  void recordDoneLocked(BatchEntry& entry);
  void closeBatchLocked();
  void loadBatchLocked(std::vector<BackupFile> files);
  // The run ended (or was stopped and every worker is idle): tell the view once.
  void finishRunLocked(bool finished, const std::string& reason);
  void workerLeftLocked(const std::shared_ptr<BackupThread>& worker);
  // Workers still waiting for a quiet file have no thread to notice a cancel:
  // their entries go back to waiting and they leave the run.
  void releaseHeldWorkersLocked();
  void recountFilesToBackup();

  // --- Scheduler ---
  void armContinuousTimer();
  void replaceBackupTimer(Timer::Handle timer);
  void dropBackupTimer();
  bool dailyTiming() const;
  bool timingTimePassed() const;
  void reloadBatchFromDatabase();
  void sendBackupSettings(const char* failureLine);

  // --- Remote and status ---
  void startPeriodicTimers();
  // initialize()'s parts: the scheduler's timers for the stored timing, and
  // the scan or restore left to do from before.
  void armScheduleAtStart();
  void startPendingWorkAtStart(bool presetRestore);
  // startAutoBackup()'s ends: a continuous run (unless the last began within
  // the minimum spacing) or a daily one; the daily timer set again for the
  // next day or armed once for later today.
  void startContinuousRun();
  void startDailyRun(bool onlyWhenPassed);
  void rearmDailyTimer();
  void registerObservers();
  // Runs `task` on the main loop later, unless the controller is gone by then.
  void runOnMain(std::function<void()> task);
  // Posts DesktopAlerts::kScheduledBackupNotStarted once per refused daily
  // start (not again for its retries).
  void reportScheduledStartRefused(const std::string& reason);
  // Why the status check holds backups back, from its failing rows.
  std::string heldBackReason() const;
  // Runs `task` on DispatchQueue::global(); the destructor waits for it.
  void runInBackground(std::function<void()> task);
  void publishStatus();
  void sendBackupEndStatus(int64_t failed);
  void deleteList(std::string& list, int count, std::vector<std::string>& paths, bool& allSent);
  // Sends one deletion request (a JSON list of paths or a single path) and
  // drops the rows of `paths` once the service took it.
  void sendDeletion(const std::string& pathField, int count, const std::vector<std::string>& paths, bool& allSent);
  void emergencyStartLater();
  static void log(uint32_t entryType, int32_t sessionType, const std::string& text, int level);

  const std::shared_ptr<ServerLink> server_;
  const EngineFactory engineFactory_;
  MainView* const view_;
  ApplicationHooks* const hooks_;
  const Options options_;
  ChangeWatcher* changeWatcher_ = nullptr;
  RestoreControl* restoreControl_ = nullptr;

  // The backup lock: serialises the completion handlers and the hand-outs.
  mutable std::recursive_mutex lockBackupObject_;
  std::vector<BatchEntry> batch_;  // guarded by lockBackupObject_
  int64_t backupItr_ = -1;         // guarded by lockBackupObject_
  RunSummary run_;                 // guarded by lockBackupObject_
  Date runStarted_;                // guarded by lockBackupObject_
  bool runOpen_ = false;           // guarded by lockBackupObject_; a run whose end is not told yet
  uint64_t batchGeneration_ = 0;   // guarded by lockBackupObject_; a hold-back timer of an older batch does nothing
  std::set<std::string> requeuedThisRun_;  // guarded by lockBackupObject_; changed during their backup

  std::atomic<bool> backuping_{false};
  std::atomic<bool> startingBackup_{false};
  std::atomic<bool> isPaused_{false};
  std::atomic<bool> isAutoBackup_{false};
  std::atomic<bool> statusOK_{false};
  std::atomic<int32_t> connection_{0};
  std::atomic<bool> storageFull_{false};
  // A refused daily start was reported (DesktopAlerts); cleared when a run starts.
  std::atomic<bool> scheduledRefusalReported_{false};
  std::atomic<bool> newVersion_{false};
  std::atomic<bool> backupEmergencyStopped_{false};
  std::atomic<bool> restoreEmergencyStopped_{false};
  std::atomic<bool> scanning_{false};
  std::atomic<int64_t> totalFilesItr_{0};
  std::atomic<int64_t> filesToBackupCount_{0};
  std::atomic<int64_t> backedUpBytes_{0};
  std::atomic<int64_t> totalBackupBytes_{0};
  std::atomic<int64_t> remainingTimeIterator_{0};
  std::atomic<bool> destroying_{false};
  std::atomic<bool> statisticsWanted_{true};
  std::atomic<bool> updateDownloaded_{false};

  mutable std::mutex stateMutex_;
  std::string version_;               // guarded by stateMutex_
  std::optional<int64_t> totalUsed_;  // guarded by stateMutex_
  StatusModel status_;                // guarded by stateMutex_
  CheckStatusModel checkStatus_;      // guarded by stateMutex_
  std::mutex wrongPassMutex_;         // the controller's own lock of wrongPass()

  mutable std::mutex timersMutex_;
  Timer::Handle backupTimer_;                // guarded by timersMutex_
  Timer::Handle updateTimer_;                // guarded by timersMutex_
  Timer::Handle restartTimer_;               // guarded by timersMutex_
  Timer::Handle emergencyTimer_;             // guarded by timersMutex_
  std::vector<Timer::Handle> periodicTimers_;  // guarded by timersMutex_

  std::vector<NotificationCenter::Token> observers_;  // main thread only

  // Expires with the controller: main-loop tasks check it before they run.
  const std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::mutex backgroundMutex_;
  std::condition_variable backgroundDone_;
  int backgroundTasks_ = 0;  // guarded by backgroundMutex_
};

}  // namespace palvero
