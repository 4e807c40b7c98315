// One backup run: the batch of up to 400 waiting files, the cursor
// (`backupItr`), the hand-outs to the workers, the completions the engines
// report, the next batch, the end, and the run's summary and figures.
// MainViewController owns one and reaches the rest of the application
// through `Callbacks` (status, timers, the view).
//
// Thread contract: every member is safe from any thread. The run's lock (the
// backup lock, recursive) serialises the completions, which arrive on the
// workers' threads, with the hand-outs on the main thread; a file that
// finishes at once waits for its hand-out to complete. Callbacks may be
// called with the lock held and may call back into the run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/StatusModel.h"
#include "app/WorkerRecord.h"
#include "base/Date.h"
#include "base/Value.h"
#include "state/BackupFile.h"

namespace palvero {

class BackupRun {
 public:
  static constexpr double kHoldBackSeconds = 10;  // a file modified this recently waits
  static constexpr int kMaxHoldBacks = 6;         // then it is handed out all the same

  struct Callbacks {
    std::function<bool()> restoring;               // a restore runs: a completion stops the run
    std::function<void()> stop;                    // the controller's stopBackup
    std::function<void()> recount;                 // the waiting files counted again
    std::function<int64_t()> filesToBackupCount;   // as last counted
    std::function<void(int64_t failed)> sendEndStatus;  // "backupend"
    // The files of this run that reached five tries, before they are offered again.
    std::function<void(std::vector<std::string> paths)> failedForGood;
    std::function<void()> ended;                   // the last batch is done (status, timers)
    std::function<void(const RunSummary&)> finished;  // once per run, ended or stopped
  };

  explicit BackupRun(Callbacks callbacks);
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  // The figures a new run starts from; returns the bytes waiting.
  int64_t measure();
  // Resets the run, loads the batch (the in-memory one, else the database's
  // waiting rows) and hands an entry to each worker. Ends the run at once
  // when nothing was handed out; returns whether something was.
  bool begin();
  // The batch the in-memory queue holds, before any run (start-up).
  void loadPending();

  // The engines' notifications, on the worker's thread.
  void fileSucceeded();
  void fileFailed();
  // A worker thread's body: the engine backs the file up; an engine that
  // returns without reporting stops the run.
  void runFile(const Value& args, const std::shared_ptr<BackupThread>& worker);

  // The stop: the run is over, engines cancelled, held workers released and
  // finished files dropped from the in-memory batch.
  void stop();
  // The pause button: engines cancelled, then the run is over.
  void pause();
  void cancelEngines();
  // New workers replace the old ones (whose held files go back to waiting).
  void replaceWorkers(std::vector<std::shared_ptr<BackupThread>> fresh);
  // Held workers let go (shutdown).
  void dropHeldStarts();
  // Writes what the batch holds (done files were written as they finished;
  // failures count a try) — the shutdown's step.
  void writePending();

  bool active() const { return active_.load(); }
  bool anyWorkerActive() const;
  int64_t cursor() const;
  std::vector<std::string> batchPaths() const;
  RunSummary summary() const;
  int64_t filesDone() const { return totalFilesItr_.load(); }
  int64_t backedUpBytes() const { return backedUpBytes_.load(); }
  int64_t totalBackupBytes() const { return totalBackupBytes_.load(); }
  // The time estimate's tick counter, restarted with each batch.
  int64_t nextEstimateTick() { return ++estimateTicks_; }
  void setFiguresForTesting(bool active, int64_t filesDone, int64_t backedUpBytes, int64_t totalBackupBytes);

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

  static std::vector<std::shared_ptr<BackupThread>> workers();
  // The batch entry the worker holds, when it still holds one.
  BatchEntry* entryOfLocked(const BackupThread& worker);
  void loadBatchLocked(std::vector<BackupFile> files);
  // Hands an entry to each worker from the cursor on; false when none was.
  bool handOutToAllLocked(bool startOfRun);
  // Hands batch entry `index` to `worker`: at once, or by a timer once the
  // file has been quiet for 10 seconds.
  void handOutLocked(const std::shared_ptr<BackupThread>& worker, size_t index, bool startOfRun);
  void holdBackLocked(const std::shared_ptr<BackupThread>& worker, size_t index);
  void startWorkerLocked(const std::shared_ptr<BackupThread>& worker, size_t index);
  // When the entry's file was modified within 10 seconds (and may be held
  // back once more): the time it will have been quiet for 10 seconds.
  std::optional<Date> stillBeingWrittenLocked(BatchEntry& entry);
  void recordDoneLocked(BatchEntry& entry);
  void checkNextLocked(const std::shared_ptr<BackupThread>& worker, bool previousSucceeded);
  void nextBatchLocked(const std::shared_ptr<BackupThread>& worker, bool success);
  void closeBatchLocked();
  void endLocked(bool success);
  void workerLeftLocked(const std::shared_ptr<BackupThread>& worker);
  // Workers still waiting for a quiet file have no thread to notice a cancel:
  // their entries go back to waiting and they leave the run.
  void releaseHeldWorkersLocked();
  // The run ended (or was stopped and every worker is idle): told once.
  void finishLocked(bool finished, const std::string& reason);
  void resetFiguresLocked();

  const Callbacks callbacks_;  // set at construction: no lock

  mutable std::recursive_mutex lock_;       // the backup lock
  std::vector<BatchEntry> batch_;           // guarded by lock_
  int64_t cursor_ = -1;                     // guarded by lock_; backupItr, the next entry to hand out
  RunSummary summary_;                      // guarded by lock_
  Date started_;                            // guarded by lock_
  bool open_ = false;                       // guarded by lock_; a run whose end is not told yet
  uint64_t batchGeneration_ = 0;            // guarded by lock_; a hold-back timer of an older batch does nothing
  std::set<std::string> requeued_;          // guarded by lock_; changed during their backup

  // Read anywhere without the lock.
  std::atomic<bool> active_{false};         // backuping: a run hands out files
  std::atomic<int64_t> totalFilesItr_{0};   // files finished in this run
  std::atomic<int64_t> backedUpBytes_{0};
  std::atomic<int64_t> totalBackupBytes_{0};
  std::atomic<int64_t> estimateTicks_{0};   // also advanced by the status area, lock-free
};

}  // namespace palvero
