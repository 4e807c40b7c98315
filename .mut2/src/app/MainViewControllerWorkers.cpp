// Workers: creation and re-creation, the thread count, the body of a worker
// thread and the request layer's signs of life.
#include "app/MainViewController.h"
#include "app/ThreadManager.h"
#include "app/ThreadWorker.h"
#include "base/StringFormat.h"
#include "protocol/WorkerActivity.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// The hand-out the current worker thread is running: set by the thread body,
// marked by the completion handlers, so that an engine that returned without
// reporting anything is noticed.
struct CurrentHandout {
  bool active = false;
  bool reported = false;
};
thread_local CurrentHandout tHandout;

}  // namespace

int MainViewController::threadsForSliderPosition(int position) {
  switch (position) {
    case 1:
      return 1;
    case 2:
      return 2;
    case 3:
      return 4;
    case 4:
      return 5;
    case 5:
      return 10;
    default:
      return 0;
  }
}

int MainViewController::sliderPositionForThreads(int threads) {
  switch (threads) {
    case 2:
      return 2;
    case 4:
      return 3;
    case 5:
      return 4;
    case 10:
      return 5;
    default:
      return 1;
  }
}

void MainViewController::installStamper() {
  WorkerActivity::setStamper([](WorkerActivity::Kind kind) {
    auto& manager = ThreadManager::sharedThreadManager();
    std::shared_ptr<WorkerRecord> worker;
    if (kind == WorkerActivity::Kind::kBackup) {
      worker = manager.findCurrentBackupThread();
    } else {
      worker = manager.findCurrentRestoreThread();
    }
    if (worker) worker->setLastRequestDate(Date::now());
  });
}

std::shared_ptr<BackupThread> MainViewController::makeBackupWorker(int64_t number) {
  auto worker = std::make_shared<BackupThread>(number, engineFactory_());
  worker->deltaHandler->setCancel(false);
  return worker;
}

std::vector<std::shared_ptr<BackupThread>> MainViewController::backupWorkers() const {
  return ThreadWorker::sharedThreadWorker().backupThreads();
}

void MainViewController::cancelBackupEngines() {
  for (const auto& worker : backupWorkers()) worker->deltaHandler->setCancel(true);
}

void MainViewController::DisposeAllThreadsAndReCreate(bool forBackup) {
  int count = LocalSettings::sharedManager().numberOfThreads();
  if (count < 1) count = 1;
  auto& workers = ThreadWorker::sharedThreadWorker();
  if (forBackup) {
    std::lock_guard lock(lockBackupObject_);
    // A worker waiting for a quiet file gives the file up with the worker.
    for (const auto& worker : workers.backupThreads()) {
      if (worker->pendingStart) worker->pendingStart->invalidate();
      worker->deltaHandler->setCancel(true);
    }
    ThreadWorker::BackupList fresh;
    for (int i = 0; i < count; ++i) fresh.push_back(makeBackupWorker(i));
    workers.setBackupThreads(std::move(fresh));
    for (auto& entry : batch_) {
      if (entry.state == BatchEntry::State::kRunning) entry.state = BatchEntry::State::kWaiting;
    }
  } else {
    ThreadWorker::RestoreList fresh;
    for (int i = 0; i < count; ++i) {
      auto worker = std::make_shared<RestoreThread>(i, engineFactory_());
      worker->deltaHandler->setCancel(false);
      fresh.push_back(std::move(worker));
    }
    workers.setRestoreThreads(std::move(fresh));
  }
}

void MainViewController::changeNumberOfThreads(int position) {
  int threads = threadsForSliderPosition(position);
  auto& settings = LocalSettings::sharedManager();
  if (threads > 0) settings.setNumberOfThreads(threads);
  for (const auto& worker : backupWorkers()) {
    if (worker->isActive()) {
      worker->deltaHandler->setCancel(true);
      worker->setIsActive(false);
    }
  }
  for (const auto& worker : ThreadWorker::sharedThreadWorker().restoreThreads()) {
    if (worker->isActive()) {
      worker->deltaHandler->setCancel(true);
      worker->setIsActive(false);
    }
  }
  settings.save();
  DisposeAllThreadsAndReCreate(true);
  DisposeAllThreadsAndReCreate(false);
  {
    std::lock_guard lock(stateMutex_);
    status_.threadSliderPosition = sliderPositionForThreads(settings.numberOfThreads());
  }
  publishStatus();
}

void MainViewController::backupFile(Value args, std::shared_ptr<BackupThread> worker) {
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
  std::lock_guard lock(lockBackupObject_);
  if (ThreadManager::sharedThreadManager().findCurrentBackupThread() != worker) return;
  if (BatchEntry* entry = entryOfLocked(*worker)) entry->state = BatchEntry::State::kWaiting;
  run_.stopReason = "the session could not be renewed";
  stopBackup();
  workerLeftLocked(worker);
}

void MainViewController::markHandoutReported() {
  if (tHandout.active) tHandout.reported = true;
}

}  // namespace palvero
