// One backup run: the start, the hand-outs, the completion handlers, the
// batch closer and the end. Everything here that touches the batch, the
// cursor or the counters holds lockBackupObject_.
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "app/DesktopAlerts.h"
#include "app/Localization.h"
#include "app/MainViewController.h"
#include "app/StatusFormatter.h"
#include "app/ThreadManager.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

struct FileState {
  bool exists = false;
  int64_t size = 0;
  Date modified;
};

FileState fileState(const std::string& path) {
  struct stat st {};
  FileState state;
  if (::lstat(path.c_str(), &st) != 0) return state;
  state.exists = true;
  state.size = st.st_size;
  state.modified = Date(Date::TimePoint(std::chrono::seconds(st.st_mtim.tv_sec) +
                                        std::chrono::microseconds(st.st_mtim.tv_nsec / 1000)));
  return state;
}

const char* kDisposedLine = "This thread appears to be disposed, most likely killed by emergency logic";

}  // namespace

bool MainViewController::startBackup() {
  if (!(statusOK_.load() && connection_.load() != 0)) {
    if (!backupEmergencyStopped_.load() && !backuping_.load()) setUIPause(true);
    return false;
  }
  // Workers still letting go of a stopped run's files would share the batch.
  if (anyWorkerActive()) return false;
  scheduledRefusalReported_.store(false);

  auto& database = DBManager::sharedDBManager();
  totalBackupBytes_.store(database.GetTotalSizeOfFiles(true));
  backedUpBytes_.store(0);
  {
    std::lock_guard lock(stateMutex_);
    status_.timeRemainingText = L("CalculationRemainingTime");
    status_.sizeText = StatusFormatter::sizeText(0, totalBackupBytes_.load());
  }

  if (!server_->syncAuthorise()) {
    log(kBackupError, kSessionBackup, "Start backup - authorise fail", kLogFailure);
    setUIPause(true);
    return false;
  }
  server_->sendStatus("backupstart", Date::now().shortDateLongTime());

  bool handedOut = false;
  {
    std::lock_guard lock(lockBackupObject_);
    {
      std::lock_guard stateLock(stateMutex_);
      status_.threadSliderEnabled = false;
    }
    FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
    queue.setBackupedFiles({});
    backupItr_ = 0;
    totalFilesItr_.store(0);
    remainingTimeIterator_.store(0);
    startingBackup_.store(true);
    requeuedThisRun_.clear();
    run_ = RunSummary{};
    runStarted_ = Date::now();
    runOpen_ = true;

    std::vector<BackupFile> files = queue.files();
    if (files.empty()) {
      files = database.SelectFileFromDatabase(true, kQueueWaiting);
      queue.setFiles(files);
    }
    loadBatchLocked(std::move(files));
    LocalSettings::sharedManager().setDateBackupStarted(Date::now());
    auto workers = backupWorkers();
    int64_t last = static_cast<int64_t>(workers.size()) - 1;
    for (const auto& worker : workers) {
      if (backupItr_ >= static_cast<int64_t>(batch_.size())) break;
      worker->deltaHandler->setCancel(false);
      handOutLocked(worker, static_cast<size_t>(backupItr_), true);
      handedOut = true;
      if (backupItr_ < last) ++backupItr_;
    }
    startingBackup_.store(false);
    if (!handedOut) backupEnd(true);
  }
  LocalSettings::sharedManager().save();
  if (handedOut) setUIInProgress();
  return true;
}

void MainViewController::loadBatchLocked(std::vector<BackupFile> files) {
  ++batchGeneration_;
  batch_.clear();
  batch_.reserve(files.size());
  for (auto& file : files) {
    BatchEntry entry;
    entry.file = std::move(file);
    batch_.push_back(std::move(entry));
  }
}

MainViewController::BatchEntry* MainViewController::entryOfLocked(const BackupThread& worker) {
  if (worker.iterator < 0 || worker.iterator >= static_cast<int64_t>(batch_.size())) return nullptr;
  BatchEntry& entry = batch_[static_cast<size_t>(worker.iterator)];
  if (entry.file.path != worker.currentPath || entry.state != BatchEntry::State::kRunning) return nullptr;
  return &entry;
}

Value MainViewController::argsForEntry(const BackupFile& file) const {
  auto slash = file.path.find_last_of('/');
  std::string name = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
  return Value{{"filePath", file.path}, {"name", name}, {"fileLength", file.size}};
}

std::optional<Date> MainViewController::stillBeingWrittenLocked(BatchEntry& entry) {
  if (entry.holdBacks >= kMaxHoldBacks) return std::nullopt;
  Date now = Date::now();
  if (entry.quietAt && now < *entry.quietAt) return entry.quietAt;
  FileState state = fileState(entry.file.path);
  if (!state.exists) return std::nullopt;
  Date quietAt = state.modified.addingTimeInterval(kHoldBackSeconds);
  if (now.timeIntervalSince(state.modified) > kHoldBackSeconds) return std::nullopt;
  entry.quietAt = quietAt;
  return quietAt;
}

void MainViewController::handOutLocked(const std::shared_ptr<BackupThread>& worker, size_t index, bool startOfRun) {
  // A file modified within 10 seconds may still be written. Entries after
  // `index` that are not handed out yet are looked at: a quiet one goes first, and
  // the worker never idles while work is there; when all are recent, the
  // worker keeps the one quiet soonest and a one-shot timer hands it out.
  if (auto quietAt = stillBeingWrittenLocked(batch_[index])) {
    size_t soonest = index;
    std::optional<size_t> quiet;
    for (size_t j = index + 1; j < batch_.size() && !quiet; ++j) {
      if (batch_[j].state != BatchEntry::State::kWaiting) continue;
      auto later = stillBeingWrittenLocked(batch_[j]);
      if (!later) {
        quiet = j;
      } else if (*later < *quietAt) {
        soonest = j;
        quietAt = later;
      }
    }
    // Only these two entries move: others after `index` may be running
    // already when a held worker comes back to its entry.
    size_t chosen = quiet.value_or(soonest);
    if (chosen != index) std::swap(batch_[index], batch_[chosen]);
  }

  BatchEntry& entry = batch_[index];
  entry.state = BatchEntry::State::kRunning;
  worker->iterator = static_cast<int64_t>(index);
  worker->currentPath = entry.file.path;
  worker->setIsActive(true);
  worker->setLastRequestDate(Date::now());
  backuping_.store(true);
  if (startOfRun) {
    log(kStartingBackup, kSessionBackup,
        stringWithFormat("This thread has started backup. FilesToBackup: %lu",
                         static_cast<unsigned long>(filesToBackupCount_.load())),
        kLogFailure);
  }

  FileState state = fileState(entry.file.path);
  if (!state.exists) {
    if (startOfRun) {
      log(kStartingBackup, kSessionBackup, stringWithFormat("No file found at path: %s ", entry.file.path.c_str()),
          kLogEvent);
    }
    startWorkerLocked(worker, index);
    return;
  }
  if (stillBeingWrittenLocked(entry)) {
    ++entry.holdBacks;
    double wait = std::clamp(entry.quietAt->timeIntervalSince(Date::now()) + 0.05, 0.5, kHoldBackSeconds + 0.05);
    uint64_t generation = batchGeneration_;
    std::weak_ptr<BackupThread> weakWorker = worker;
    worker->pendingStart = Timer::scheduled(
        std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(wait)), false,
        [this, weakWorker, index, generation] {
          std::lock_guard lock(lockBackupObject_);
          auto held = weakWorker.lock();
          if (!held || generation != batchGeneration_ || !held->isActive() || held->deltaHandler->Cancel() ||
              held->iterator != static_cast<int64_t>(index)) {
            return;
          }
          batch_[index].state = BatchEntry::State::kWaiting;
          batch_[index].quietAt.reset();
          handOutLocked(held, index, false);
        });
    return;
  }
  startWorkerLocked(worker, index);
}

void MainViewController::startWorkerLocked(const std::shared_ptr<BackupThread>& worker, size_t index) {
  BatchEntry& entry = batch_[index];
  FileState state = fileState(entry.file.path);
  entry.modifiedAtStart = state.exists ? std::optional<Date>(state.modified) : std::nullopt;
  entry.sizeAtStart = state.exists ? state.size : -1;
  BackupFile current = entry.file;
  if (state.exists) current.size = state.size;
  Value args = argsForEntry(current);
  worker->pendingStart.reset();
  ThreadManager::sharedThreadManager().startThread(worker,
                                                   [this, args, worker] { backupFile(args, worker); });
}

void MainViewController::recordDoneLocked(BatchEntry& entry) {
  entry.state = BatchEntry::State::kDone;
  auto& database = DBManager::sharedDBManager();
  // Out of the in-memory batch first, so that the watcher takes any later
  // change; then the row is done; then a change the watcher refused while
  // the file was queued sends it back to waiting.
  FilesToBackup::sharedFilesToBackup().removeFiles({entry.file});
  database.InsertOrUpdateBackupedFilesToDatabase(std::vector<BackupFile>{entry.file}, true);
  FileState now = fileState(entry.file.path);
  if (now.exists && entry.modifiedAtStart && (now.modified != *entry.modifiedAtStart || now.size != entry.sizeAtStart)) {
    BackupFile again = entry.file;
    again.status = kQueueWaiting;
    again.size = now.size;
    again.date = Date::now().format(Date::kQueuePattern);
    database.InsertOrUpdateFileToDatabase(std::vector<BackupFile>{again}, true);
    requeuedThisRun_.insert(entry.file.path);
    log(kGeneralLogEvent, kSessionBackup,
        stringWithFormat("File changed during its backup, queued again: %s", entry.file.path.c_str()), kLogDetail);
  }
}

void MainViewController::backupOK() {
  markHandoutReported();
  std::lock_guard lock(lockBackupObject_);
  try {
    auto worker = ThreadManager::sharedThreadManager().findCurrentBackupThread();
    if (!worker) {
      log(kGeneralLogEvent, kSessionBackup, kDisposedLine, kLogEvent);
      return;
    }
    std::string path = worker->currentPath;
    if (BatchEntry* entry = entryOfLocked(*worker)) {
      recordDoneLocked(*entry);
      FilesToBackup::sharedFilesToBackup().addBackupedFile(entry->file);
      int64_t size = entry->file.size > 0 ? entry->file.size : 0;
      backedUpBytes_ += size;
      ++run_.filesBackedUp;
      run_.bytesBackedUp += size;
    }
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("File backuped - %s with thread iterator %ld, current queue backup iterator is %ld",
                         path.c_str(), static_cast<long>(worker->iterator), static_cast<long>(backupItr_)),
        kLogEvent);
    if (restoring()) {
      stopBackup();
      workerLeftLocked(worker);
      return;
    }
    // A stopped run hands out nothing more, even when this file made it.
    if (worker->deltaHandler->Cancel()) {
      workerLeftLocked(worker);
      return;
    }
    ++backupItr_;
    ++totalFilesItr_;
    checkNextFileForBackup(worker, true);
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("BackupOK Exception - %s", e.what()), kLogFailure);
  }
}

void MainViewController::backupFail() {
  markHandoutReported();
  std::lock_guard lock(lockBackupObject_);
  try {
    auto worker = ThreadManager::sharedThreadManager().findCurrentBackupThread();
    BatchEntry* entry = worker ? entryOfLocked(*worker) : nullptr;
    if (entry && entry->file.size > 0) backedUpBytes_ += entry->file.size;
    log(kBackupError, kSessionBackup,
        stringWithFormat("File is not backuped - %s with iterator %ld",
                         worker ? worker->currentPath.c_str() : "(none)",
                         static_cast<long>(worker ? worker->iterator : -1)),
        kLogFailure);
    if (restoring()) {
      if (entry) entry->state = BatchEntry::State::kWaiting;
      stopBackup();
      if (worker) workerLeftLocked(worker);
      return;
    }
    if (worker && worker->deltaHandler->Cancel()) {
      // The run was stopped: the file was not tried to the end, so it stays
      // waiting without a try counted.
      if (entry) entry->state = BatchEntry::State::kWaiting;
      backuping_.store(false);
      FilesToBackup::sharedFilesToBackup().setBackupedFiles({});
      recountFilesToBackup();
      totalFilesItr_.store(0);
      remainingTimeIterator_.store(0);
      log(kBackupFinished, kSessionBackup, "Backup cancelled", kLogEvent);
      workerLeftLocked(worker);
      return;
    }
    if (entry) {
      entry->state = BatchEntry::State::kFailed;
      ++run_.filesFailed;
      run_.failedPaths.push_back(entry->file.path);
    }
    ++backupItr_;
    ++totalFilesItr_;
    if (worker) {
      checkNextFileForBackup(worker, false);
    } else {
      log(kGeneralLogEvent, kSessionBackup, kDisposedLine, kLogEvent);
    }
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("BackupFail Exception - %s", e.what()), kLogFailure);
  }
}

void MainViewController::checkNextFileForBackup(const std::shared_ptr<BackupThread>& worker,
                                                bool PreviousFileSuccess) {
  if (backupItr_ >= 0 && backupItr_ < static_cast<int64_t>(batch_.size())) {
    const BatchEntry& entry = batch_[static_cast<size_t>(backupItr_)];
    if (entry.file.path.empty()) {
      log(kGeneralLogEvent, kSessionOther,
          stringWithFormat("file.path for file %ld is nil", static_cast<long>(backupItr_)), kLogFailure);
      getNextBackupQueue(worker, PreviousFileSuccess);
    } else {
      startBackupingNextFileWithPath(worker, static_cast<size_t>(backupItr_));
    }
  } else {
    getNextBackupQueue(worker, PreviousFileSuccess);
  }
}

void MainViewController::startBackupingNextFileWithPath(const std::shared_ptr<BackupThread>& worker, size_t index) {
  log(kGeneralLogEvent, kSessionOther,
      stringWithFormat("Entered startBackupingNextFileWithPath with path: %s and thread iterator: %ld, backup "
                       "iterator: %ld",
                       batch_[index].file.path.c_str(), static_cast<long>(worker->countIterator),
                       static_cast<long>(backupItr_)),
      kLogDetail);
  try {
    handOutLocked(worker, index, false);
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception thrown at startBackupingNextFileWithPath with reason: %s", e.what()), kLogFailure);
    worker->setIsActive(false);
  }
}

void MainViewController::getNextBackupQueue(const std::shared_ptr<BackupThread>& worker, bool success) {
  log(kGeneralLogEvent, kSessionOther, "Starting next backup queue method", kLogDetail);
  worker->setIsActive(false);
  if (anyWorkerActive()) {
    log(kGeneralLogEvent, kSessionOther, "This thread has ended work, waiting for the remaining threads in action",
        kLogDetail);
    return;
  }
  closeBatchLocked();

  std::vector<BackupFile> next;
  for (auto& file : DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting)) {
    // A file that changed during its backup waits for the next run, so that
    // a file written all the time cannot keep a run going forever.
    if (!requeuedThisRun_.count(file.path)) next.push_back(std::move(file));
  }
  if (next.empty()) {
    backupEnd(success);
    return;
  }
  log(kGeneralLogEvent, kSessionOther,
      stringWithFormat("New files added to the backup queue from database. Total number is %ld",
                       static_cast<long>(next.size())),
      kLogDetail);
  if (totalFilesItr_.load() > filesToBackupCount_.load()) {
    recountFilesToBackup();
    totalFilesItr_.store(0);
    remainingTimeIterator_.store(0);
  }
  FilesToBackup::sharedFilesToBackup().setFiles(next);
  loadBatchLocked(std::move(next));
  backupItr_ = 0;
  auto workers = backupWorkers();
  int64_t last = static_cast<int64_t>(workers.size()) - 1;
  for (const auto& each : workers) {
    if (backupItr_ >= static_cast<int64_t>(batch_.size())) break;
    each->deltaHandler->setCancel(false);
    handOutLocked(each, static_cast<size_t>(backupItr_), false);
    if (backupItr_ < last) {
      ++backupItr_;
      ++totalFilesItr_;
    }
  }
}

void MainViewController::closeBatchLocked() {
  std::vector<BackupFile> failed;
  for (const auto& entry : batch_) {
    if (entry.state == BatchEntry::State::kFailed) failed.push_back(entry.file);
  }
  if (!failed.empty()) DBManager::sharedDBManager().InsertOrUpdateFilesWithErrorsToDatabase(failed, true);
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  queue.setBackupedFiles({});
  queue.setFiles({});
  loadBatchLocked({});
}

void MainViewController::writePendingBatch() {
  std::lock_guard lock(lockBackupObject_);
  std::vector<BackupFile> failed;
  for (auto& entry : batch_) {
    if (entry.state == BatchEntry::State::kFailed) {
      failed.push_back(entry.file);
      // Written once: a later close must not count the try again.
      entry.state = BatchEntry::State::kWaiting;
    }
  }
  if (!failed.empty()) DBManager::sharedDBManager().InsertOrUpdateFilesWithErrorsToDatabase(failed, true);
  FilesToBackup::sharedFilesToBackup().setBackupedFiles({});
}

void MainViewController::backupEnd(bool success) {
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  if (success) {
    queue.setBackupedFiles({});
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("Backup ended. FilesToBackup: %lu. TotalFilesItr: %lu",
                         static_cast<unsigned long>(filesToBackupCount_.load()),
                         static_cast<unsigned long>(totalFilesItr_.load())),
        kLogFailure);
  } else {
    queue.removeFiles(queue.backupedFiles());
    queue.setBackupedFiles({});
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("Backup ended (with errors). FilesToBackup: %lu",
                         static_cast<unsigned long>(filesToBackupCount_.load())),
        kLogEvent);
  }
  auto& database = DBManager::sharedDBManager();
  recountFilesToBackup();
  sendBackupEndStatus(database.GetTotalNumberOfFailedFilesWithoutTries(true));
  backuping_.store(false);
  backupItr_ = -1;
  totalFilesItr_.store(0);
  backedUpBytes_.store(0);
  database.RemoveFinishedFilesFromDatabase(true);
  reportFailedForGood();
  database.ReturnFailedFilesToBackup();
  recountFilesToBackup();
  runOnMain([this] {
    {
      std::lock_guard lock(stateMutex_);
      status_.sizeText.clear();
      status_.timeRemainingText.clear();
      status_.threadSliderEnabled = true;
    }
    if (filesToBackupCount_.load() == 0) setUIPause(false);
    if (LocalSettings::sharedManager().backupTimingType() == LocalSettings::kTimingContinuous) {
      armContinuousTimer();
      isAutoBackup_.store(true);
      std::lock_guard lock(stateMutex_);
      status_.buttonEnabled = false;
    }
    publishStatus();
  });
  finishRunLocked(true, "");
}

void MainViewController::reportFailedForGood() {
  std::set<std::string> failedThisRun(run_.failedPaths.begin(), run_.failedPaths.end());
  Value paths = Value::array();
  for (const auto& row : DBManager::sharedDBManager().selectFailedFiles(true)) {
    if (failedThisRun.count(row.path)) paths.push_back(row.path);
  }
  if (paths.empty()) return;
  runOnMain([this, paths] {
    NotificationCenter::defaultCenter().post(DesktopAlerts::kFilesFailedForGood, this, Value{{"paths", paths}});
  });
}

void MainViewController::sendBackupEndStatus(int64_t failed) {
  server_->sendStatus("backupend", failed > 0 ? stringWithFormat("ERROR: %li failed files", static_cast<long>(failed))
                                              : std::string("OK"));
}

void MainViewController::workerLeftLocked(const std::shared_ptr<BackupThread>& worker) {
  worker->setIsActive(false);
  if (worker->pendingStart) worker->pendingStart->invalidate();
  if (!backuping_.load() && !anyWorkerActive()) finishRunLocked(false, "");
}

void MainViewController::finishRunLocked(bool finished, const std::string& reason) {
  if (!runOpen_) return;
  runOpen_ = false;
  run_.finished = finished;
  run_.seconds = Date::now().timeIntervalSince(runStarted_);
  if (!reason.empty()) run_.stopReason = reason;
  if (!finished && run_.stopReason.empty()) run_.stopReason = "stopped";
  RunSummary summary = run_;
  runOnMain([this, summary] {
    if (view_) view_->backupRunEnded(summary);
  });
}

bool MainViewController::anyWorkerActive() const {
  for (const auto& worker : backupWorkers()) {
    if (worker->isActive()) return true;
  }
  return false;
}

}  // namespace palvero
