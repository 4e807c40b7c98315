#include "state/FilesToBackup.h"

#include <memory>

#include "base/SharedInstance.h"
#include "platform/PreferencesStore.h"
#include "state/DBManager.h"

namespace palvero {
namespace {

SharedInstance<FilesToBackup>& holder() {
  static auto* instance = new SharedInstance<FilesToBackup>();
  return *instance;
}

}  // namespace

FilesToBackup& FilesToBackup::sharedFilesToBackup() {
  return holder().get([] { return std::make_unique<FilesToBackup>(); });
}

void FilesToBackup::resetForTesting() { holder().reset(); }

FilesToBackup::FilesToBackup() { load(); }

void FilesToBackup::load() {
  std::vector<BackupFile> files = DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting);
  std::vector<BackupFile> backuped;
  for (const auto& item : PreferencesStore::sharedStore().arrayForKey("backupedFiles")) {
    if (auto file = BackupFile::fromValue(item)) backuped.push_back(std::move(*file));
  }
  std::lock_guard lock(mutex_);
  files_ = std::move(files);
  backupedFiles_ = std::move(backuped);
  indexLocked();
}

std::vector<BackupFile> FilesToBackup::files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

void FilesToBackup::setFiles(std::vector<BackupFile> files) {
  std::lock_guard lock(mutex_);
  files_ = std::move(files);
  indexLocked();
}

std::vector<BackupFile> FilesToBackup::backupedFiles() const {
  std::lock_guard lock(mutex_);
  return backupedFiles_;
}

void FilesToBackup::setBackupedFiles(std::vector<BackupFile> files) {
  std::lock_guard lock(mutex_);
  backupedFiles_ = std::move(files);
}

void FilesToBackup::addBackupedFile(const BackupFile& file) {
  std::lock_guard lock(mutex_);
  backupedFiles_.push_back(file);
}

void FilesToBackup::removeFiles(const std::vector<BackupFile>& done) {
  std::unordered_set<std::string> gone;
  for (const auto& file : done) gone.insert(file.path);
  std::lock_guard lock(mutex_);
  std::erase_if(files_, [&](const BackupFile& file) { return gone.count(file.path) > 0; });
  indexLocked();
}

size_t FilesToBackup::count() const {
  std::lock_guard lock(mutex_);
  return files_.size();
}

std::optional<BackupFile> FilesToBackup::fileAtIndex(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= files_.size()) return std::nullopt;
  return files_[index];
}

bool FilesToBackup::containsPath(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return paths_.count(path) > 0;
}

void FilesToBackup::indexLocked() {
  paths_.clear();
  for (const auto& file : files_) paths_.insert(file.path);
}

}  // namespace palvero
