#include "app/ThreadManager.h"

#include <thread>

#include "app/ThreadWorker.h"

namespace palvero {

ThreadManager& ThreadManager::sharedThreadManager() {
  static auto* instance = new ThreadManager();
  return *instance;
}

std::shared_ptr<BackupThread> ThreadManager::findCurrentBackupThread() const {
  auto self = std::this_thread::get_id();
  for (const auto& worker : ThreadWorker::sharedThreadWorker().backupThreads()) {
    if (worker->thread() == self) return worker;
  }
  return nullptr;
}

std::shared_ptr<RestoreThread> ThreadManager::findCurrentRestoreThread() const {
  auto self = std::this_thread::get_id();
  for (const auto& worker : ThreadWorker::sharedThreadWorker().restoreThreads()) {
    if (worker->thread() == self) return worker;
  }
  return nullptr;
}

void ThreadManager::startThread(const std::shared_ptr<WorkerRecord>& worker, std::function<void()> body) {
  threads_.start(worker, std::move(body));
}

bool ThreadManager::waitForWorkerThreads(std::chrono::milliseconds timeout) { return threads_.waitForNone(timeout); }

}  // namespace palvero
