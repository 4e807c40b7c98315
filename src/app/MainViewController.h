// The main window controller without its window: it runs every backup (the
// queue in batches of 400 spread over the workers), decides when runs start
// (manual, continuous, daily), checks the account's state every 10 seconds,
// stops and restarts runs around sleep, replaces frozen workers, retries
// failed files, deletes removed files on the server, refreshes the settings
// and installs updates. What a window would show goes to a MainView as
// plain data (StatusModel, CheckStatusModel).
//
// The run itself (batch, cursor, hand-outs, completions, its figures) is a
// BackupRun and the timers with their decisions a BackupScheduler; each owns
// its state behind its own lock, and the operations here call into them.
// One header, one .cpp per concern:
//   MainViewController.cpp          construction, initialisation, observers, shutdown
//   MainViewControllerWorkers.cpp   workers, thread count, stamps
//   MainViewControllerRun.cpp       startBackup, the run's completions and end as the window sees them
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
//     notification is handled on that thread under the run's lock (BackupRun),
//     which serialises every change of the batch, the cursor and the
//     counters. startBackup() and the batch closer hand out files under the
//     same lock, so a file that finishes at once cannot race the hand-out.
//   - Network work started by timers runs on DispatchQueue::global().
//   - The controller's own lock (stateMutex_) guards what the window shows;
//     it is never held while the run's lock is taken.
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
#include "app/BackupRun.h"
#include "app/BackupScheduler.h"
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
  static constexpr double kHoldBackSeconds = BackupRun::kHoldBackSeconds;
  static constexpr int kMaxHoldBacks = BackupRun::kMaxHoldBacks;
  static constexpr double kContinuousMinimumSeconds = BackupScheduler::kContinuousMinimumSeconds;
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
  void backupOK() { run_.fileSucceeded(); }
  void backupFail() { run_.fileFailed(); }
  // Writes what the current batch holds (done files were written as they
  // finished; failures count a try) — the shutdown's step.
  void writePendingBatch() { run_.writePending(); }

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

  void startAutoBackup() { scheduler_.startAutoBackup(); }
  void setDailyTimer() { scheduler_.setDailyTimer(); }
  void addDailyTimerOnce() { scheduler_.addDailyTimerOnce(); }
  // Timing pop-up entry 0, 1 or 2 (daily, stored as 3).
  void changeTiming(int entry);
  void backupSetOnlyOnTimeCheckboxClicked(bool checked) { scheduler_.backupOnSetTimeChanged(checked); }
  // The time picker: today at the hour and minute of `picked`.
  void dailyBackupDateChanged(Date picked) { scheduler_.dailyTimeChanged(picked); }
  // Settings changed from the command line while this process holds the
  // instance lock (SettingsInbox): each is stored and acted on as its
  // control on the settings page would, and sent where the service keeps
  // it. Main thread; polled every second.
  void takeSettingsFromCommandLine();

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

  bool isBackupRunning() override { return run_.active(); }
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

  bool backuping() const { return run_.active(); }
  // A first scan, a rescan or a queue rebuild is under way.
  bool scanning() const { return scanning_.load(); }
  bool isPaused() const { return isPaused_.load(); }
  bool isAutoBackup() const { return scheduler_.isAutoBackup(); }
  bool statusOK() const { return statusOK_.load(); }
  int32_t connection() const { return connection_.load(); }
  bool storageFull() const { return storageFull_.load(); }
  bool backupEmergencyStopped() const { return backupEmergencyStopped_.load(); }
  bool restoring() const;
  int64_t backupItr() const { return run_.cursor(); }
  int64_t totalFilesItr() const { return run_.filesDone(); }
  int64_t filesToBackupCount() const { return filesToBackupCount_.load(); }
  int64_t backedUpBytes() const { return run_.backedUpBytes(); }
  int64_t totalBackupBytes() const { return run_.totalBackupBytes(); }
  bool newVersion() const { return newVersion_.load(); }
  std::string version() const;
  std::optional<int64_t> totalUsed() const;
  void setTotalUsed(std::optional<int64_t> used);
  Timer::Handle backupTimer() const { return scheduler_.backupTimer(); }
  StatusModel statusModel() const;
  CheckStatusModel checkStatusModel() const;
  // Whether any worker holds a file (or waits for one to be quiet).
  bool anyWorkerActive() const { return run_.anyWorkerActive(); }
  // The paths of the current batch, in order (tests).
  std::vector<std::string> batchPaths() const { return run_.batchPaths(); }
  // Files finished in the current run so far.
  RunSummary currentRun() const { return run_.summary(); }

  // Test seams: the figures the status check would have set, and those a
  // run in progress would have reached.
  void setStatusForTesting(bool statusOK, int32_t connection);
  void setRunFiguresForTesting(bool backuping, int64_t filesToBackupCount, int64_t totalFilesItr,
                               int64_t backedUpBytes, int64_t totalBackupBytes);

 private:
  BackupRun::Callbacks runCallbacks();
  BackupScheduler::Host schedulerHost();

  // --- Workers ---
  std::shared_ptr<BackupThread> makeBackupWorker(int64_t number);
  void installStamper();
  std::vector<std::shared_ptr<BackupThread>> backupWorkers() const;

  // --- Run ---
  // The last batch is done: the status area and the continuous timer.
  void runEnded();
  void reportFailedForGood(std::vector<std::string> paths);
  void recountFilesToBackup();
  void reloadBatchFromDatabase();
  void sendBackupSettings(const char* failureLine);

  // --- Remote and status ---
  void startPeriodicTimers();
  // initialize()'s parts: the scheduler's timers for the stored timing, and
  // the scan or restore left to do from before.
  void armScheduleAtStart();
  void startPendingWorkAtStart(bool presetRestore);
  void registerObservers();
  // Runs `task` on the main loop later, unless the controller is gone by then.
  void runOnMain(std::function<void()> task);
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

  // Set at construction or before initialize(), read-only afterwards: no lock.
  const std::shared_ptr<ServerLink> server_;
  const EngineFactory engineFactory_;
  MainView* const view_;
  ApplicationHooks* const hooks_;
  const Options options_;
  ChangeWatcher* changeWatcher_ = nullptr;
  RestoreControl* restoreControl_ = nullptr;

  // Flags and figures read and written from any thread without a lock.
  std::atomic<bool> isPaused_{false};
  std::atomic<bool> statusOK_{false};
  std::atomic<int32_t> connection_{0};
  std::atomic<bool> storageFull_{false};
  std::atomic<bool> newVersion_{false};
  std::atomic<bool> backupEmergencyStopped_{false};
  std::atomic<bool> restoreEmergencyStopped_{false};
  std::atomic<bool> scanning_{false};
  std::atomic<int64_t> filesToBackupCount_{0};  // the waiting files, as last counted
  std::atomic<bool> destroying_{false};
  std::atomic<bool> statisticsWanted_{true};
  std::atomic<bool> updateDownloaded_{false};

  mutable std::mutex stateMutex_;
  std::string version_;               // guarded by stateMutex_
  std::optional<int64_t> totalUsed_;  // guarded by stateMutex_
  StatusModel status_;                // guarded by stateMutex_
  CheckStatusModel checkStatus_;      // guarded by stateMutex_
  std::mutex wrongPassMutex_;         // the controller's own lock of wrongPass()

  std::vector<NotificationCenter::Token> observers_;  // main thread only

  // Expires with the controller: main-loop tasks check it before they run.
  const std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::mutex backgroundMutex_;
  std::condition_variable backgroundDone_;
  int backgroundTasks_ = 0;  // guarded by backgroundMutex_

  // Last: they call back into the fields above, and go first at destruction.
  BackupRun run_;              // its own lock (the backup lock)
  BackupScheduler scheduler_;  // its own lock (the timer handles)
};

}  // namespace palvero
