#include "selection/WatcherBuffer.h"

#include <algorithm>
#include <exception>

#include "base/StringFormat.h"
#include "selection/BackupQueueStore.h"
#include "state/LogWriter.h"

namespace palvero {

std::vector<BackupFile> WatcherBuffer::files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

void WatcherBuffer::setFiles(std::vector<BackupFile> files) {
  std::lock_guard lock(mutex_);
  files_ = std::move(files);
}

void WatcherBuffer::append(BackupFile record) {
  std::lock_guard lock(mutex_);
  files_.push_back(std::move(record));
}

void WatcherBuffer::appendTested(const std::function<std::vector<BackupFile>()>& test) {
  std::lock_guard lock(mutex_);
  for (auto& record : test()) files_.push_back(std::move(record));
}

size_t WatcherBuffer::count() const {
  std::lock_guard lock(mutex_);
  return files_.size();
}

void WatcherBuffer::removeRecordsInFolder(const std::string& folder) {
  const std::string prefix = folder + "/";
  std::lock_guard lock(mutex_);
  std::erase_if(files_, [&](const BackupFile& file) { return file.path.compare(0, prefix.size(), prefix) == 0; });
}

bool WatcherBuffer::flushTo(BackupQueueStore& store) {
  std::lock_guard lock(mutex_);
  if (files_.empty()) return true;
  size_t written = 0;
  std::string reason;
  try {
    while (written < files_.size()) {
      size_t end = std::min(files_.size(), written + kSliceSize);
      std::vector<BackupFile> slice(files_.begin() + static_cast<std::ptrdiff_t>(written),
                                    files_.begin() + static_cast<std::ptrdiff_t>(end));
      if (!store.insertOrUpdateFiles(slice)) {
        reason = "the database refused the records";
        break;
      }
      written = end;
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (written < files_.size()) {
    LogWriter::sharedLogger().logEntry(
        kGeneralLogEvent, kSessionOther,
        stringWithFormat("Watcher failed updating database with number of files: %lu; %s",
                         static_cast<unsigned long>(files_.size()), reason.c_str()),
        kLogFailure);
  }
  // Written records go; the rest wait for the next tick, in order, so a later
  // record of the same path still wins.
  files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(written));
  return files_.empty();
}

}  // namespace palvero
