// Workers: creation and re-creation, the thread count and the request
// layer's signs of life.
#include "app/MainViewController.h"
#include "app/ThreadManager.h"
#include "app/ThreadWorker.h"
#include "base/StringFormat.h"
#include "protocol/WorkerActivity.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

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

void MainViewController::DisposeAllThreadsAndReCreate(bool forBackup) {
  int count = LocalSettings::sharedManager().numberOfThreads();
  if (count < 1) count = 1;
  auto& workers = ThreadWorker::sharedThreadWorker();
  if (forBackup) {
    ThreadWorker::BackupList fresh;
    for (int i = 0; i < count; ++i) fresh.push_back(makeBackupWorker(i));
    run_.replaceWorkers(std::move(fresh));
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

}  // namespace palvero
