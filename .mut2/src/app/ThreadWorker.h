// The two worker lists of the process: backupThreads and restoreThreads.
// Each list is read as a snapshot and replaced whole, so a caller iterating
// a snapshot never sees it change; a worker dropped from the list is
// "disposed" (its thread finds no record any more).
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "app/WorkerRecord.h"

namespace palvero {

class ThreadWorker {
 public:
  using BackupList = std::vector<std::shared_ptr<BackupThread>>;
  using RestoreList = std::vector<std::shared_ptr<RestoreThread>>;

  static ThreadWorker& sharedThreadWorker();
  static void resetForTesting();

  BackupList backupThreads() const;
  void setBackupThreads(BackupList threads);
  RestoreList restoreThreads() const;
  void setRestoreThreads(RestoreList threads);

 private:
  mutable std::mutex mutex_;
  BackupList backupThreads_;    // guarded by mutex_
  RestoreList restoreThreads_;  // guarded by mutex_
};

}  // namespace palvero
