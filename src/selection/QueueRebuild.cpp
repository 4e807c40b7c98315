#include "selection/QueueRebuild.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "selection/BackupQueueStore.h"
#include "selection/FileScanner.h"
#include "state/FilesToBackup.h"

namespace palvero {
namespace {

std::recursive_mutex& rebuildLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

std::optional<std::vector<BackupFile>> QueueRebuild::rebuild(const std::string& folder, bool forFullBackup) {
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  std::lock_guard lock(rebuildLock());
  // A folder that is not there would leave an emptied queue behind.
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return std::nullopt;
  auto store = BackupQueueStore::current();
  std::vector<std::string> toDelete;
  for (const auto& row : store->selectFilesToDelete()) toDelete.push_back(row.path);
  store->removeAllFiles();
  for (size_t i = 0; i < toDelete.size(); i += FileScanner::kBatchSize) {
    size_t end = std::min(toDelete.size(), i + FileScanner::kBatchSize);
    store->insertDeletedFiles(std::vector<std::string>(toDelete.begin() + static_cast<std::ptrdiff_t>(i),
                                                       toDelete.begin() + static_cast<std::ptrdiff_t>(end)));
  }
  // The batch's files were waiting: with the batch still holding them the
  // scan would refuse them as queued, and they would be in neither place.
  queue.setFiles({});
  queue.setBackupedFiles({});
  auto rows = FileScanner::sharedFileScanner().firstScanFilesAtPath(folder, false, false, forFullBackup);
  queue.setFiles(rows ? *rows : store->selectWaitingFiles());
  return rows;
}

void QueueRebuild::replaceBatch(std::optional<std::vector<BackupFile>> rows) {
  std::lock_guard lock(rebuildLock());
  FilesToBackup::sharedFilesToBackup().setFiles(rows ? std::move(*rows)
                                                     : BackupQueueStore::current()->selectWaitingFiles());
}

}  // namespace palvero
