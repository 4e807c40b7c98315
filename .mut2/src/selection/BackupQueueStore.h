// The database operations file selection uses on the backup queue, behind
// one small interface so that tests can watch (or fail) the writes. The
// installed store is the file-state database unless a test replaced it.
//
// Thread contract: current() and setCurrent() are safe from any thread; the
// database store is too (the database serialises its operations).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "state/BackupFile.h"

namespace palvero {

class BackupQueueStore {
 public:
  virtual ~BackupQueueStore() = default;

  // The records as given, one statement per call (InsertOrUpdateFileToDatabase).
  virtual bool insertOrUpdateFiles(const std::vector<BackupFile>& records) = 0;
  // Status 3, size 0 (InsertOrUpdateDeletedFilesToDatabase).
  virtual bool insertDeletedFiles(const std::vector<std::string>& paths) = 0;
  // At most 400 waiting rows (SelectFileFromDatabase with status 0).
  virtual std::vector<BackupFile> selectWaitingFiles() = 0;
  // Every row with status 3 (selectFilesForDelete).
  virtual std::vector<BackupFile> selectFilesToDelete() = 0;
  // Rows whose path begins with `prefix` (DeleteFilesFromRenamedFolder).
  virtual bool deleteFilesWithPrefix(const std::string& prefix) = 0;
  // Every row (RemoveAllFilesFromDatabase).
  virtual bool removeAllFiles() = 0;

  static std::shared_ptr<BackupQueueStore> current();
  // Installs `store`; nullptr restores the database.
  static void setCurrent(std::shared_ptr<BackupQueueStore> store);
};

// The backup table of DBManager::sharedDBManager().
class DatabaseQueueStore : public BackupQueueStore {
 public:
  bool insertOrUpdateFiles(const std::vector<BackupFile>& records) override;
  bool insertDeletedFiles(const std::vector<std::string>& paths) override;
  std::vector<BackupFile> selectWaitingFiles() override;
  std::vector<BackupFile> selectFilesToDelete() override;
  bool deleteFilesWithPrefix(const std::string& prefix) override;
  bool removeAllFiles() override;
};

}  // namespace palvero
