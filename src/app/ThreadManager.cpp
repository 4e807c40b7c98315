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
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  // The thread is detached: a completion starts the next file's thread from
  // the finishing one, which cannot join itself. The running count stands in
  // for the join.
  std::thread([this, worker, body = std::move(body)] {
    auto self = std::this_thread::get_id();
    worker->setThread(self);
    body();
    // The id of an ended thread is given to later threads: a record must not
    // keep it, or a new thread would find this worker as its own.
    worker->clearThread(self);
    std::lock_guard lock(mutex_);
    if (--running_ == 0) finished_.notify_all();
  }).detach();
}

bool ThreadManager::waitForWorkerThreads(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return finished_.wait_for(lock, timeout, [this] { return running_ == 0; });
}

}  // namespace palvero
