// The run's control from outside and its end: stop, pause, cancel, workers
// replaced, a worker leaving, the end told once, and the figures read.
#include "app/BackupRun.h"
#include "app/ThreadWorker.h"
#include "base/Timer.h"
#include "state/FilesToBackup.h"

namespace palvero {

std::vector<std::shared_ptr<BackupThread>> BackupRun::workers() {
  return ThreadWorker::sharedThreadWorker().backupThreads();
}

bool BackupRun::anyWorkerActive() const {
  for (const auto& worker : workers()) {
    if (worker->isActive()) return true;
  }
  return false;
}

void BackupRun::workerLeftLocked(const std::shared_ptr<BackupThread>& worker) {
  worker->setIsActive(false);
  if (worker->pendingStart) worker->pendingStart->invalidate();
  if (!active_.load() && !anyWorkerActive()) finishLocked(false, "");
}

void BackupRun::finishLocked(bool finished, const std::string& reason) {
  if (!open_) return;
  open_ = false;
  summary_.finished = finished;
  summary_.seconds = Date::now().timeIntervalSince(started_);
  if (!reason.empty()) summary_.stopReason = reason;
  if (!finished && summary_.stopReason.empty()) summary_.stopReason = "stopped";
  callbacks_.finished(summary_);
}

void BackupRun::releaseHeldWorkersLocked() {
  for (const auto& worker : workers()) {
    if (worker->pendingStart && worker->pendingStart->isValid()) {
      worker->pendingStart->invalidate();
      if (BatchEntry* entry = entryOfLocked(*worker)) entry->state = BatchEntry::State::kWaiting;
      workerLeftLocked(worker);
    }
  }
}

void BackupRun::cancelEngines() {
  for (const auto& worker : workers()) worker->deltaHandler->setCancel(true);
}

void BackupRun::stop() {
  active_.store(false);
  cancelEngines();
  std::lock_guard lock(lock_);
  releaseHeldWorkersLocked();
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  if (!queue.backupedFiles().empty()) {
    queue.removeFiles(queue.backupedFiles());
    queue.setBackupedFiles({});
  }
}

void BackupRun::pause() {
  cancelEngines();
  active_.store(false);
  std::lock_guard lock(lock_);
  releaseHeldWorkersLocked();
}

void BackupRun::replaceWorkers(std::vector<std::shared_ptr<BackupThread>> fresh) {
  std::lock_guard lock(lock_);
  // A worker waiting for a quiet file gives the file up with the worker.
  for (const auto& worker : workers()) {
    if (worker->pendingStart) worker->pendingStart->invalidate();
    worker->deltaHandler->setCancel(true);
  }
  ThreadWorker::sharedThreadWorker().setBackupThreads(std::move(fresh));
  for (auto& entry : batch_) {
    if (entry.state == BatchEntry::State::kRunning) entry.state = BatchEntry::State::kWaiting;
  }
}

void BackupRun::dropHeldStarts() {
  std::lock_guard lock(lock_);
  for (const auto& worker : workers()) {
    if (worker->pendingStart) worker->pendingStart->invalidate();
  }
}

int64_t BackupRun::cursor() const {
  std::lock_guard lock(lock_);
  return cursor_;
}

std::vector<std::string> BackupRun::batchPaths() const {
  std::lock_guard lock(lock_);
  std::vector<std::string> paths;
  for (const auto& entry : batch_) paths.push_back(entry.file.path);
  return paths;
}

RunSummary BackupRun::summary() const {
  std::lock_guard lock(lock_);
  RunSummary summary = summary_;
  if (open_) summary.seconds = Date::now().timeIntervalSince(started_);
  return summary;
}

void BackupRun::setFiguresForTesting(bool active, int64_t filesDone, int64_t backedUpBytes, int64_t totalBackupBytes) {
  active_.store(active);
  totalFilesItr_.store(filesDone);
  backedUpBytes_.store(backedUpBytes);
  totalBackupBytes_.store(totalBackupBytes);
  estimateTicks_.store(0);
}

}  // namespace palvero
