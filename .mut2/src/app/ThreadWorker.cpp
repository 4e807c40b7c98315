#include "app/ThreadWorker.h"

#include "base/SharedInstance.h"

namespace palvero {
namespace {

SharedInstance<ThreadWorker>& holder() {
  static auto* instance = new SharedInstance<ThreadWorker>();
  return *instance;
}

}  // namespace

ThreadWorker& ThreadWorker::sharedThreadWorker() {
  return holder().get([] { return std::make_unique<ThreadWorker>(); });
}

void ThreadWorker::resetForTesting() { holder().reset(); }

ThreadWorker::BackupList ThreadWorker::backupThreads() const {
  std::lock_guard lock(mutex_);
  return backupThreads_;
}

void ThreadWorker::setBackupThreads(BackupList threads) {
  std::lock_guard lock(mutex_);
  backupThreads_ = std::move(threads);
}

ThreadWorker::RestoreList ThreadWorker::restoreThreads() const {
  std::lock_guard lock(mutex_);
  return restoreThreads_;
}

void ThreadWorker::setRestoreThreads(RestoreList threads) {
  std::lock_guard lock(mutex_);
  restoreThreads_ = std::move(threads);
}

}  // namespace palvero
