// The change watcher's in-memory buffer: records of changed files (status 0)
// and vanished ones (status 3) gathered between two flushes into the
// database. One buffer for the process, created at start-up.
//
// Thread contract: every member is safe from any thread. lock() is the
// buffer's lock; hold it to make a test and an append one step (the watcher
// does, so that a flush never runs between them).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "state/BackupFile.h"

namespace palvero {

class BackupQueueStore;

class WatcherBuffer {
 public:
  static constexpr size_t kSliceSize = 400;

  std::recursive_mutex& lock() { return mutex_; }

  std::vector<BackupFile> files() const;
  void setFiles(std::vector<BackupFile> files);
  void append(BackupFile record);
  size_t count() const;
  // Drops the records of paths inside `folder` (a folder renamed away).
  void removeRecordsInFolder(const std::string& folder);

  // Writes the records to `store` in slices of 400 and empties the buffer.
  // A slice that fails to write stays, with everything after it, for the
  // next flush; returns false then (the failure is logged).
  bool flushTo(BackupQueueStore& store);

 private:
  mutable std::recursive_mutex mutex_;
  std::vector<BackupFile> files_;  // guarded by mutex_
};

}  // namespace palvero
