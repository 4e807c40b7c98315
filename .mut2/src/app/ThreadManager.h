// Finds the worker that runs on the calling thread, and starts the threads
// that run one file each. Every worker thread is counted while it runs, so
// that shutdown can wait for the last one before the objects it uses go.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "app/WorkerRecord.h"
#include "restore/WorkerThreads.h"

namespace palvero {

class ThreadManager {
 public:
  static ThreadManager& sharedThreadManager();

  // The worker of ThreadWorker's backup (restore) list whose thread is the
  // calling thread; nothing when there is none (it was disposed).
  std::shared_ptr<BackupThread> findCurrentBackupThread() const;
  std::shared_ptr<RestoreThread> findCurrentRestoreThread() const;

  // Starts a new thread for `worker` that runs `body`; the worker's thread
  // is this new thread from before `body` starts.
  void startThread(const std::shared_ptr<WorkerRecord>& worker, std::function<void()> body);
  // Blocks until no worker thread runs or `timeout` passed; true when none runs.
  bool waitForWorkerThreads(std::chrono::milliseconds timeout);

 private:
  WorkerThreads threads_;
};

}  // namespace palvero
