#include "selection/ChangeWatcher.h"

#include <sys/stat.h>

#include <exception>

#include "base/DispatchQueue.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "selection/BackupFilter.h"
#include "selection/BackupQueueStore.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "selection/QueueRebuild.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

void logWatcher(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

bool isGone(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

ChangeWatcher::ChangeWatcher(WatcherBuffer& buffer, ChangeWatcherDelegate* delegate,
                             std::unique_ptr<FileEventStream> stream, Options options)
    : buffer_(buffer), delegate_(delegate), options_(options), stream_(std::move(stream)), startedAt_(Date::now()) {}

ChangeWatcher::~ChangeWatcher() {
  stopWatching();
  stopBufferTimer();
  waitUntilIdle();
}

std::vector<std::string> ChangeWatcher::watchedRoots() {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  std::vector<std::string> roots{extensions.defaultBackupFolder()};
  if (extensions.externalhd()) {
    if (auto drives = FileScanner::sharedFileScanner().getExternalDrivesPath()) {
      roots.insert(roots.end(), drives->begin(), drives->end());
    }
  }
  return roots;
}

bool ChangeWatcher::startWatching(const std::vector<std::string>& roots) {
  FileEventStream::Options streamOptions;
  streamOptions.paths = roots.empty() ? watchedRoots() : roots;
  streamOptions.ignoredPaths = {Env::supportDirectory(), Env::configDirectory(),
                                Env::cachesDirectory() + "/PalveroCaches"};
  streamOptions.latency = options_.latency;
  streamOptions.degradedRescanInterval = options_.degradedRescanInterval;
  streamOptions.watchLimitForTesting = options_.watchLimitForTesting;
  {
    std::lock_guard lock(rescanMutex_);
    startedAt_ = Date::now();
    lastRescanStart_.clear();
  }
  std::lock_guard lock(controlMutex_);
  if (!stream_) return false;
  return stream_->start(
      streamOptions,
      [this](const std::vector<FileEvent>& events) {
        for (const auto& event : events) URLWatcher(event);
      },
      [](const std::string& warning) { logWatcher(warning, kLogFailure); });
}

void ChangeWatcher::stopWatching() {
  std::lock_guard lock(controlMutex_);
  if (stream_) stream_->stop();
}

bool ChangeWatcher::waitUntilWatching(std::chrono::milliseconds timeout) {
  std::lock_guard lock(controlMutex_);
  return stream_ && stream_->waitUntilWatching(timeout);
}

void ChangeWatcher::startBufferTimer() {
  std::lock_guard lock(controlMutex_);
  if (bufferTimer_) bufferTimer_->invalidate();
  bufferTimer_ = Timer::scheduled(options_.flushInterval, true, [this] { bufferTimerTick(); });
}

void ChangeWatcher::stopBufferTimer() {
  std::lock_guard lock(controlMutex_);
  if (bufferTimer_) bufferTimer_->invalidate();
  bufferTimer_.reset();
}

void ChangeWatcher::runInBackground(std::function<void()> work) {
  {
    std::lock_guard lock(workMutex_);
    ++inFlight_;
  }
  DispatchQueue::global().async([this, work = std::move(work)] {
    work();
    std::lock_guard lock(workMutex_);
    if (--inFlight_ == 0) workDone_.notify_all();
  });
}

void ChangeWatcher::waitUntilIdle() {
  std::unique_lock lock(workMutex_);
  workDone_.wait(lock, [this] { return inFlight_ == 0; });
}

void ChangeWatcher::URLWatcher(const FileEvent& eventOccurred) {
  runInBackground([this, event = eventOccurred] { handleEvent(event); });
}

void ChangeWatcher::handleEvent(const FileEvent& event) {
  try {
    if (event.flags & FileEventFlag::kMustScanSubDirs) {
      rescan(event.path);
      return;
    }
    recordEvent(event.path, event.flags);
  } catch (const std::exception& e) {
    logWatcher(stringWithFormat("Watcher failed handling %s: %s", event.path.c_str(), e.what()), kLogFailure);
  }
}

void ChangeWatcher::recordEvent(const std::string& path, uint32_t flags) {
  BackupFilter& filter = BackupFilter::sharedManager();
  auto makeRecord = [&](int32_t status, int64_t size) {
    return BackupFile{path, status, Date::now().format(Date::kQueuePattern), size, ""};
  };
  auto sizeOf = [&] {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : int64_t{0};
  };

  if (flags == BackupFilter::kRenamedFolderFlags) {
    // The rename handling talks to the server and scans: it runs without the
    // buffer's lock. Records of the old folder still buffered would bring its
    // rows back after the filter removed them.
    if (isGone(path)) buffer_.removeRecordsInFolder(path);
    bool accepted = filter.fileForBackup(path, flags);
    bool gone = filter.fileForDelete(path);
    buffer_.appendTested([&] {
      std::vector<BackupFile> records;
      if (accepted) records.push_back(makeRecord(kQueueWaiting, sizeOf()));
      if (gone) records.push_back(makeRecord(kQueueToDelete, 0));
      return records;
    });
    return;
  }

  buffer_.appendTested([&] {
    std::vector<BackupFile> records;
    if (filter.fileForBackup(path, flags)) {
      records.push_back(makeRecord(kQueueWaiting, sizeOf()));
      LocalSettings::sharedManager().setDateLastScan(Date::now());
      dateLastScanChanged_.store(true);
    }
    if (filter.fileForDelete(path)) records.push_back(makeRecord(kQueueToDelete, 0));
    return records;
  });
}

void ChangeWatcher::bufferTimerTick() {
  runInBackground([this] { flushBuffer(); });
}

bool ChangeWatcher::flushBuffer() {
  bool flushed = buffer_.flushTo(*BackupQueueStore::current());
  // "dateLastScan" is saved once a flush, not once an event.
  if (dateLastScanChanged_.exchange(false)) LocalSettings::sharedManager().save();
  return flushed;
}

void ChangeWatcher::rescan(const std::string& root) {
  {
    std::lock_guard lock(rescanMutex_);
    if (rescanning_.count(root)) {
      rescanAgain_.insert(root);
      return;
    }
    rescanning_.insert(root);
  }
  for (;;) {
    Date since;
    {
      std::lock_guard lock(rescanMutex_);
      auto last = lastRescanStart_.find(root);
      since = (last == lastRescanStart_.end() ? startedAt_ : last->second)
                  .addingTimeInterval(-std::chrono::duration<double>(options_.rescanOverlap).count());
      lastRescanStart_[root] = Date::now();
    }
    FileScanner::sharedFileScanner().rescanChangedFilesAtPath(root, since);
    std::lock_guard lock(rescanMutex_);
    if (!rescanAgain_.erase(root)) {
      rescanning_.erase(root);
      return;
    }
  }
}

bool ChangeWatcher::stopBackupIfRunning() {
  if (!delegate_ || !delegate_->isBackupRunning()) return false;
  delegate_->stopBackup();
  return true;
}

void ChangeWatcher::saveExclusions() {
  if (delegate_ && !delegate_->saveExclusionsToServer()) {
    logWatcher("Save exclusions to server - authorise fail", kLogFailure);
  }
}

void ChangeWatcher::recalculateBackupQueue(bool forFullBackup) {
  folderChanges_.withBothLists([&](std::vector<std::string>& removed, std::vector<std::string>& added) {
    if (!removed.empty() || !added.empty()) {
      scanDifferenceFoldersLocked(removed, added);
      return;
    }
    if (!folderChanges_.exclusionsChanged()) return;

    saveExclusions();
    bool restart = stopBackupIfRunning();
    if (delegate_) delegate_->setScanning(true);
    auto& settings = LocalSettings::sharedManager();
    settings.setNeedRescanning(true);
    settings.save();
    settings.setDateLastScan(Date::now());
    if (QueueRebuild::rebuild(CommonExtensions::sharedExtensionsManager().defaultBackupFolder(), forFullBackup)) {
      settings.setNeedRescanning(false);
    }
    settings.save();
    folderChanges_.setExclusionsChanged(false);
    if (delegate_) delegate_->setScanning(false);
    if (restart && delegate_) delegate_->restartBackup();
  });
}

void ChangeWatcher::scanDifferenceFoldersLocked(std::vector<std::string>& removed, std::vector<std::string>& added) {
  auto& settings = LocalSettings::sharedManager();
  settings.setNeedRescanning(true);
  settings.save();
  bool restart = stopBackupIfRunning();
  if (delegate_) delegate_->setScanning(true);
  saveExclusions();

  FileScanner& scanner = FileScanner::sharedFileScanner();
  std::optional<std::vector<BackupFile>> lastRows;
  for (const auto& folder : removed) {
    logWatcher(stringWithFormat("Folder removed from backup: %s", folder.c_str()), kLogDetail);
    lastRows = scanner.firstScanFilesAtPath(folder, false, true, false);
  }
  for (const auto& folder : added) {
    logWatcher(stringWithFormat("Folder addded for backup: %s", folder.c_str()), kLogDetail);
    lastRows = scanner.firstScanFilesAtPath(folder, false, false, false);
  }
  settings.setDateLastScan(Date::now());
  removed.clear();
  added.clear();
  // A scan that returned nothing (a folder gone meanwhile) leaves the batch
  // to the database's waiting rows.
  QueueRebuild::replaceBatch(std::move(lastRows));
  if (delegate_) delegate_->setScanning(false);
  settings.setNeedRescanning(false);
  settings.save();
  if (restart && delegate_) delegate_->restartBackup();
}

}  // namespace palvero
