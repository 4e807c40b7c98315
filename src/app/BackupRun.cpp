// One backup run: the start, the hand-outs (with the hold-back of files
// written just now), the completions, the next batch and the end.
#include "app/BackupRun.h"

#include <sys/stat.h>

#include <algorithm>

#include "app/ThreadManager.h"
#include "base/StringFormat.h"
#include "base/Timer.h"
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
  state.modified = Date(
      Date::TimePoint(std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::microseconds(st.st_mtim.tv_nsec / 1000)));
  return state;
}

void log(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

Value argsForFile(const BackupFile& file) {
  auto slash = file.path.find_last_of('/');
  std::string name = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
  return Value{{"filePath", file.path}, {"name", name}, {"fileLength", file.size}};
}

const char* kDisposedLine = "This thread appears to be disposed, most likely killed by emergency logic";

// The hand-out the current worker thread is running: set by the thread body,
// marked by the completion handlers, so that an engine that returned without
// reporting anything is noticed.
struct CurrentHandout {
  bool active = false;
  bool reported = false;
};
thread_local CurrentHandout tHandout;

void markHandoutReported() {
  if (tHandout.active) tHandout.reported = true;
}

}  // namespace

BackupRun::BackupRun(Callbacks callbacks) : callbacks_(std::move(callbacks)) {}

int64_t BackupRun::measure() {
  totalBackupBytes_.store(DBManager::sharedDBManager().GetTotalSizeOfFiles(true));
  backedUpBytes_.store(0);
  return totalBackupBytes_.load();
}

bool BackupRun::begin() {
  std::lock_guard lock(lock_);
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  queue.setBackupedFiles({});
  cursor_ = 0;
  totalFilesItr_.store(0);
  estimateTicks_.store(0);
  requeued_.clear();
  summary_ = RunSummary{};
  started_ = Date::now();
  open_ = true;

  std::vector<BackupFile> files = queue.files();
  if (files.empty()) {
    files = DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting);
    queue.setFiles(files);
  }
  loadBatchLocked(std::move(files));
  LocalSettings::sharedManager().setDateBackupStarted(Date::now());
  bool handedOut = handOutToAllLocked(true);
  if (!handedOut) endLocked(true);
  return handedOut;
}

void BackupRun::loadPending() {
  std::lock_guard lock(lock_);
  loadBatchLocked(FilesToBackup::sharedFilesToBackup().files());
}

void BackupRun::loadBatchLocked(std::vector<BackupFile> files) {
  ++batchGeneration_;
  batch_.clear();
  batch_.reserve(files.size());
  for (auto& file : files) {
    BatchEntry entry;
    entry.file = std::move(file);
    batch_.push_back(std::move(entry));
  }
}

bool BackupRun::handOutToAllLocked(bool startOfRun) {
  bool handedOut = false;
  auto all = workers();
  int64_t last = static_cast<int64_t>(all.size()) - 1;
  for (const auto& worker : all) {
    if (cursor_ >= static_cast<int64_t>(batch_.size())) break;
    worker->deltaHandler->setCancel(false);
    handOutLocked(worker, static_cast<size_t>(cursor_), startOfRun);
    handedOut = true;
    if (cursor_ < last) {
      ++cursor_;
      if (!startOfRun) ++totalFilesItr_;
    }
  }
  return handedOut;
}

BackupRun::BatchEntry* BackupRun::entryOfLocked(const BackupThread& worker) {
  if (worker.iterator < 0 || worker.iterator >= static_cast<int64_t>(batch_.size())) return nullptr;
  BatchEntry& entry = batch_[static_cast<size_t>(worker.iterator)];
  if (entry.file.path != worker.currentPath || entry.state != BatchEntry::State::kRunning) return nullptr;
  return &entry;
}

std::optional<Date> BackupRun::stillBeingWrittenLocked(BatchEntry& entry) {
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

void BackupRun::handOutLocked(const std::shared_ptr<BackupThread>& worker, size_t index, bool startOfRun) {
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
  active_.store(true);
  if (startOfRun) {
    log(kStartingBackup, kSessionBackup,
        stringWithFormat("This thread has started backup. FilesToBackup: %lu",
                         static_cast<unsigned long>(callbacks_.filesToBackupCount())),
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
    holdBackLocked(worker, index);
    return;
  }
  startWorkerLocked(worker, index);
}

void BackupRun::holdBackLocked(const std::shared_ptr<BackupThread>& worker, size_t index) {
  BatchEntry& entry = batch_[index];
  ++entry.holdBacks;
  double wait = std::clamp(entry.quietAt->timeIntervalSince(Date::now()) + 0.05, 0.5, kHoldBackSeconds + 0.05);
  uint64_t generation = batchGeneration_;
  std::weak_ptr<BackupThread> weakWorker = worker;
  worker->pendingStart =
      Timer::scheduled(std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(wait)), false,
                       [this, weakWorker, index, generation] {
                         std::lock_guard lock(lock_);
                         auto held = weakWorker.lock();
                         if (!held || generation != batchGeneration_ || !held->isActive() ||
                             held->deltaHandler->Cancel() || held->iterator != static_cast<int64_t>(index)) {
                           return;
                         }
                         batch_[index].state = BatchEntry::State::kWaiting;
                         batch_[index].quietAt.reset();
                         handOutLocked(held, index, false);
                       });
}

void BackupRun::startWorkerLocked(const std::shared_ptr<BackupThread>& worker, size_t index) {
  BatchEntry& entry = batch_[index];
  FileState state = fileState(entry.file.path);
  entry.modifiedAtStart = state.exists ? std::optional<Date>(state.modified) : std::nullopt;
  entry.sizeAtStart = state.exists ? state.size : -1;
  BackupFile current = entry.file;
  if (state.exists) current.size = state.size;
  Value args = argsForFile(current);
  worker->pendingStart.reset();
  ThreadManager::sharedThreadManager().startThread(worker, [this, args, worker] { runFile(args, worker); });
}

void BackupRun::runFile(const Value& args, const std::shared_ptr<BackupThread>& worker) {
  tHandout = CurrentHandout{true, false};
  bool result = worker->deltaHandler->backupFileWithArgs(args, worker->countIterator);
  bool reported = tHandout.reported;
  tHandout = CurrentHandout{};
  if (reported) return;
  // The engine gave no result (its session could not be renewed): the run
  // stops; the file stays waiting and is not counted as a failure.
  log(kBackupError, kSessionBackup,
      stringWithFormat("Backup stopped: the engine gave no result for %s (%s)",
                       args.value("filePath", std::string()).c_str(), result ? "true" : "false"),
      kLogFailure);
  std::lock_guard lock(lock_);
  if (ThreadManager::sharedThreadManager().findCurrentBackupThread() != worker) return;
  if (BatchEntry* entry = entryOfLocked(*worker)) entry->state = BatchEntry::State::kWaiting;
  summary_.stopReason = "the session could not be renewed";
  callbacks_.stop();
  workerLeftLocked(worker);
}

void BackupRun::recordDoneLocked(BatchEntry& entry) {
  entry.state = BatchEntry::State::kDone;
  auto& database = DBManager::sharedDBManager();
  // Out of the in-memory batch first, so that the watcher takes any later
  // change; then the row is done; then a change the watcher refused while
  // the file was queued sends it back to waiting.
  FilesToBackup::sharedFilesToBackup().removeFiles({entry.file});
  database.InsertOrUpdateBackupedFilesToDatabase(std::vector<BackupFile>{entry.file}, true);
  FileState now = fileState(entry.file.path);
  if (now.exists && entry.modifiedAtStart &&
      (now.modified != *entry.modifiedAtStart || now.size != entry.sizeAtStart)) {
    BackupFile again = entry.file;
    again.status = kQueueWaiting;
    again.size = now.size;
    again.date = Date::now().format(Date::kQueuePattern);
    database.InsertOrUpdateFileToDatabase(std::vector<BackupFile>{again}, true);
    requeued_.insert(entry.file.path);
    log(kGeneralLogEvent, kSessionBackup,
        stringWithFormat("File changed during its backup, queued again: %s", entry.file.path.c_str()), kLogDetail);
  }
}

void BackupRun::fileSucceeded() {
  markHandoutReported();
  std::lock_guard lock(lock_);
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
      ++summary_.filesBackedUp;
      summary_.bytesBackedUp += size;
    }
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("File backuped - %s with thread iterator %ld, current queue backup iterator is %ld",
                         path.c_str(), static_cast<long>(worker->iterator), static_cast<long>(cursor_)),
        kLogEvent);
    if (callbacks_.restoring()) {
      callbacks_.stop();
      workerLeftLocked(worker);
      return;
    }
    // A stopped run hands out nothing more, even when this file made it.
    if (worker->deltaHandler->Cancel()) {
      workerLeftLocked(worker);
      return;
    }
    ++cursor_;
    ++totalFilesItr_;
    checkNextLocked(worker, true);
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("BackupOK Exception - %s", e.what()), kLogFailure);
  }
}

void BackupRun::fileFailed() {
  markHandoutReported();
  std::lock_guard lock(lock_);
  try {
    auto worker = ThreadManager::sharedThreadManager().findCurrentBackupThread();
    BatchEntry* entry = worker ? entryOfLocked(*worker) : nullptr;
    if (entry && entry->file.size > 0) backedUpBytes_ += entry->file.size;
    log(kBackupError, kSessionBackup,
        stringWithFormat("File is not backuped - %s with iterator %ld", worker ? worker->currentPath.c_str() : "(none)",
                         static_cast<long>(worker ? worker->iterator : -1)),
        kLogFailure);
    if (callbacks_.restoring()) {
      if (entry) entry->state = BatchEntry::State::kWaiting;
      callbacks_.stop();
      if (worker) workerLeftLocked(worker);
      return;
    }
    if (worker && worker->deltaHandler->Cancel()) {
      // The run was stopped: the file was not tried to the end, so it stays
      // waiting without a try counted.
      if (entry) entry->state = BatchEntry::State::kWaiting;
      active_.store(false);
      FilesToBackup::sharedFilesToBackup().setBackupedFiles({});
      callbacks_.recount();
      totalFilesItr_.store(0);
      estimateTicks_.store(0);
      log(kBackupFinished, kSessionBackup, "Backup cancelled", kLogEvent);
      workerLeftLocked(worker);
      return;
    }
    if (entry) {
      entry->state = BatchEntry::State::kFailed;
      ++summary_.filesFailed;
      summary_.failedPaths.push_back(entry->file.path);
    }
    ++cursor_;
    ++totalFilesItr_;
    if (worker) {
      checkNextLocked(worker, false);
    } else {
      log(kGeneralLogEvent, kSessionBackup, kDisposedLine, kLogEvent);
    }
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("BackupFail Exception - %s", e.what()), kLogFailure);
  }
}

void BackupRun::checkNextLocked(const std::shared_ptr<BackupThread>& worker, bool previousSucceeded) {
  if (cursor_ < 0 || cursor_ >= static_cast<int64_t>(batch_.size())) {
    nextBatchLocked(worker, previousSucceeded);
    return;
  }
  size_t index = static_cast<size_t>(cursor_);
  if (batch_[index].file.path.empty()) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("file.path for file %ld is nil", static_cast<long>(cursor_)),
        kLogFailure);
    nextBatchLocked(worker, previousSucceeded);
    return;
  }
  log(kGeneralLogEvent, kSessionOther,
      stringWithFormat("Entered startBackupingNextFileWithPath with path: %s and thread iterator: %ld, backup "
                       "iterator: %ld",
                       batch_[index].file.path.c_str(), static_cast<long>(worker->countIterator),
                       static_cast<long>(cursor_)),
      kLogDetail);
  try {
    handOutLocked(worker, index, false);
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception thrown at startBackupingNextFileWithPath with reason: %s", e.what()), kLogFailure);
    worker->setIsActive(false);
  }
}

void BackupRun::nextBatchLocked(const std::shared_ptr<BackupThread>& worker, bool success) {
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
    if (!requeued_.count(file.path)) next.push_back(std::move(file));
  }
  if (next.empty()) {
    endLocked(success);
    return;
  }
  log(kGeneralLogEvent, kSessionOther,
      stringWithFormat("New files added to the backup queue from database. Total number is %ld",
                       static_cast<long>(next.size())),
      kLogDetail);
  if (totalFilesItr_.load() > callbacks_.filesToBackupCount()) {
    callbacks_.recount();
    totalFilesItr_.store(0);
    estimateTicks_.store(0);
  }
  FilesToBackup::sharedFilesToBackup().setFiles(next);
  loadBatchLocked(std::move(next));
  cursor_ = 0;
  handOutToAllLocked(false);
}

void BackupRun::closeBatchLocked() {
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

void BackupRun::writePending() {
  std::lock_guard lock(lock_);
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

void BackupRun::endLocked(bool success) {
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  if (success) {
    queue.setBackupedFiles({});
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("Backup ended. FilesToBackup: %lu. TotalFilesItr: %lu",
                         static_cast<unsigned long>(callbacks_.filesToBackupCount()),
                         static_cast<unsigned long>(totalFilesItr_.load())),
        kLogFailure);
  } else {
    queue.removeFiles(queue.backupedFiles());
    queue.setBackupedFiles({});
    log(kBackupFinished, kSessionBackup,
        stringWithFormat("Backup ended (with errors). FilesToBackup: %lu",
                         static_cast<unsigned long>(callbacks_.filesToBackupCount())),
        kLogEvent);
  }
  auto& database = DBManager::sharedDBManager();
  callbacks_.recount();
  callbacks_.sendEndStatus(database.GetTotalNumberOfFailedFilesWithoutTries(true));
  active_.store(false);
  cursor_ = -1;
  totalFilesItr_.store(0);
  backedUpBytes_.store(0);
  database.RemoveFinishedFilesFromDatabase(true);
  // The files of this run that reached five tries, before they are offered again.
  std::set<std::string> failedThisRun(summary_.failedPaths.begin(), summary_.failedPaths.end());
  std::vector<std::string> failedForGood;
  for (const auto& row : database.selectFailedFiles(true)) {
    if (failedThisRun.count(row.path)) failedForGood.push_back(row.path);
  }
  if (!failedForGood.empty()) callbacks_.failedForGood(std::move(failedForGood));
  database.ReturnFailedFilesToBackup();
  callbacks_.recount();
  callbacks_.ended();
  finishLocked(true, "");
}

}  // namespace palvero
