// The in-memory batch of the backup queue: `files`, the pending entries the
// current run works through (at most 400, in the database's order), and
// `backupedFiles`, those of them backed up in this batch. One process-wide
// instance; the backup run, the filter's queue test and the watcher's queue
// rebuild share it.
//
// Thread contract: every member is safe from any thread; each list is read
// and replaced whole under the instance's mutex. A sequence of calls that must
// not interleave with another (a rebuild of the batch) is serialised by the
// class that runs it (selection/QueueRebuild).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "state/BackupFile.h"

namespace palvero {

class FilesToBackup {
 public:
  // The shared batch, loaded on first use.
  static FilesToBackup& sharedFilesToBackup();
  // Forgets the shared instance (tests); references already taken stay valid.
  static void resetForTesting();

  // Loads `files` with the first waiting entries of the database and
  // `backupedFiles` from the preferences value "backupedFiles".
  FilesToBackup();

  // Loads both lists again, as a batch created now would.
  void load();

  std::vector<BackupFile> files() const;
  void setFiles(std::vector<BackupFile> files);
  std::vector<BackupFile> backupedFiles() const;
  void setBackupedFiles(std::vector<BackupFile> files);
  void addBackupedFile(const BackupFile& file);
  // Removes from `files` every entry whose path is in `done`.
  void removeFiles(const std::vector<BackupFile>& done);

  size_t count() const;
  std::optional<BackupFile> fileAtIndex(size_t index) const;
  // Whether an entry of `files` has exactly this path.
  bool containsPath(const std::string& path) const;

 private:
  void indexLocked();

  mutable std::mutex mutex_;
  std::vector<BackupFile> files_;          // guarded by mutex_
  std::unordered_set<std::string> paths_;  // guarded by mutex_; the paths of files_
  std::vector<BackupFile> backupedFiles_;  // guarded by mutex_
};

}  // namespace palvero
