// The change watcher's in-memory buffer: records of changed files (status 0)
// and vanished ones (status 3) gathered between two flushes into the
// database. One buffer for the process, created at start-up.
//
// Thread contract: every member is safe from any thread. appendTested()
// makes a test and its append one step: no flush and no other append runs
// between them.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "state/BackupFile.h"

namespace palvero {

class BackupQueueStore;

class WatcherBuffer {
 public:
  static constexpr size_t kSliceSize = 400;

  std::vector<BackupFile> files() const;
  void setFiles(std::vector<BackupFile> files);
  void append(BackupFile record);
  // Runs `test` under the buffer's lock and appends the records it returns,
  // so the records of one path enter in the order their tests saw the file.
  // `test` must not flush this buffer.
  void appendTested(const std::function<std::vector<BackupFile>()>& test);
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
