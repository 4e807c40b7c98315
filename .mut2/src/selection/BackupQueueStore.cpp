#include "selection/BackupQueueStore.h"

#include <mutex>

#include "state/DBManager.h"

namespace palvero {
namespace {

std::mutex gCurrentMutex;
std::shared_ptr<BackupQueueStore>& installed() {  // guarded by gCurrentMutex
  static auto* store = new std::shared_ptr<BackupQueueStore>(std::make_shared<DatabaseQueueStore>());
  return *store;
}

}  // namespace

std::shared_ptr<BackupQueueStore> BackupQueueStore::current() {
  std::lock_guard lock(gCurrentMutex);
  return installed();
}

void BackupQueueStore::setCurrent(std::shared_ptr<BackupQueueStore> store) {
  std::lock_guard lock(gCurrentMutex);
  installed() = store ? std::move(store) : std::make_shared<DatabaseQueueStore>();
}

bool DatabaseQueueStore::insertOrUpdateFiles(const std::vector<BackupFile>& records) {
  return DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(records, true);
}

bool DatabaseQueueStore::insertDeletedFiles(const std::vector<std::string>& paths) {
  return DBManager::sharedDBManager().InsertOrUpdateDeletedFilesToDatabase(paths, true);
}

std::vector<BackupFile> DatabaseQueueStore::selectWaitingFiles() {
  return DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting);
}

std::vector<BackupFile> DatabaseQueueStore::selectFilesToDelete() {
  return DBManager::sharedDBManager().selectFilesForDelete();
}

bool DatabaseQueueStore::deleteFilesWithPrefix(const std::string& prefix) {
  return DBManager::sharedDBManager().DeleteFilesFromRenamedFolder(prefix);
}

bool DatabaseQueueStore::removeAllFiles() { return DBManager::sharedDBManager().RemoveAllFilesFromDatabase(true); }

}  // namespace palvero
