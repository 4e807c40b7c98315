// Stopping, the pause/resume button, the watchdog's restart, failed files
// and the deletion of removed files on the server.
#include "app/Localization.h"
#include "app/MainViewController.h"
#include "app/ThreadManager.h"
#include "base/JsonText.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

void MainViewController::stopBackup() {
  run_.stop();
  if (backupEmergencyStopped_.load()) {
    setUIPause(false);
    emergencyStart();
  } else {
    if (LocalSettings::sharedManager().backupTimingType() == LocalSettings::kTimingContinuous) {
      scheduler_.armContinuous();
      std::lock_guard lock(stateMutex_);
      status_.buttonEnabled = false;
    }
    if (FilesToBackup::sharedFilesToBackup().count() == 0) setUIPause(false);
  }
  log(kGeneralLogEvent, kSessionOther, "Backup stopped", kLogEvent);

  // The change watcher waits here until the workers have let go of their
  // files, so that it can rebuild the queue under them.
  bool workerThread = ThreadManager::sharedThreadManager().findCurrentBackupThread() != nullptr;
  if (!workerThread && !RunLoop::main().isCurrentThread()) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (run_.anyWorkerActive() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

void MainViewController::setUIPause(bool enabled) {
  isPaused_.store(true);
  {
    std::lock_guard lock(stateMutex_);
    status_.buttonImage = StatusModel::ButtonImage::kResume;
    status_.buttonEnabled = enabled;
  }
  runOnMain([this] { publishStatus(); });
}

void MainViewController::setUIInProgress() {
  isPaused_.store(false);
  {
    std::lock_guard lock(stateMutex_);
    status_.buttonImage = StatusModel::ButtonImage::kPause;
    status_.buttonEnabled = true;
  }
  runOnMain([this] { publishStatus(); });
}

void MainViewController::statusButton() {
  if (restoreControl_ && (restoreControl_->isRestoring() || restoreControl_->isRestorePausedByUser())) {
    restoreControl_->statusButtonPressed();
    return;
  }
  if (isPaused_.load()) {
    if (connection_.load() == 0) return;
    {
      std::lock_guard lock(stateMutex_);
      status_.threadSliderEnabled = false;
    }
    DisposeAllThreadsAndReCreate(true);
    scheduler_.setAutoBackup(false);
    if (filesToBackupCount_.load() > 0) reloadBatchFromDatabase();
    if (FilesToBackup::sharedFilesToBackup().count() == 0) return;
    for (const auto& worker : backupWorkers()) worker->deltaHandler->setCancel(false);
    setUIInProgress();
    startBackup();
    return;
  }
  run_.pause();
  auto& database = DBManager::sharedDBManager();
  sendBackupEndStatus(database.GetTotalNumberOfFailedFiles(true));
  setUIPause(false);
  {
    std::lock_guard lock(stateMutex_);
    status_.sizeText.clear();
    status_.timeRemainingText.clear();
    status_.threadSliderEnabled = true;
  }
  database.ReturnFailedFilesToBackup();
  publishStatus();
}

void MainViewController::restartBackup() {
  if (!run_.active()) {
    // After the change watcher's stopBackup: a new run on the main thread.
    runOnMain([this] {
      if (run_.active() || run_.anyWorkerActive()) return;
      reloadBatchFromDatabase();
      recountFilesToBackup();
      if (FilesToBackup::sharedFilesToBackup().count() > 0) startBackup();
    });
    return;
  }
  runOnMain([this] {
    if (!run_.active()) return;
    if (!isPaused_.load()) statusButton();
    scheduler_.replace(BackupScheduler::Slot::kRestart, Timer::scheduled(std::chrono::seconds(10), false, [this] {
                         if (isPaused_.load()) statusButton();
                       }));
  });
}

void MainViewController::tryToBackupFailedFiles() {
  if (run_.active()) return;
  try {
    auto& database = DBManager::sharedDBManager();
    std::vector<BackupFile> failed = database.selectFailedFiles(true);
    if (!failed.empty() && database.changeFailedFilesStatus(failed)) recountFilesToBackup();
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in tryToBackupFailedFiles: %s", e.what()),
        kLogFailure);
  }
}

void MainViewController::deleteList(std::string& list, int count, std::vector<std::string>& paths, bool& allSent) {
  list.back() = ']';
  sendDeletion(list, count, paths, allSent);
  list = "[";
  paths.clear();
}

void MainViewController::sendDeletion(const std::string& pathField, int count, const std::vector<std::string>& paths,
                                      bool& allSent) {
  auto& database = DBManager::sharedDBManager();
  log(kSessionEnded, kSessionOther, stringWithFormat("Trying to delete %d files", count), kLogEvent);
  std::optional<std::string> encoded = Functions::UrlEncode(pathField);
  bool sent = false;
  for (int attempt = 0; attempt < kDeleteAttempts && encoded && !sent; ++attempt) {
    sent = server_->syncDeleteVerFile(*encoded);
    if (sent) {
      log(kSessionEnded, kSessionOther, stringWithFormat("%d files deleted successfully", count), kLogEvent);
    } else {
      log(kSessionEnded, kSessionOther,
          stringWithFormat("Unable to delete %d files, attempt %ld", count, static_cast<long>(attempt)), kLogEvent);
    }
  }
  // Only the rows whose list reached the server leave the table, and only
  // while they still wait for it: a file queued again meanwhile keeps its row.
  if (sent) {
    database.RemoveFilesToDeleteFromDatabase(paths);
  } else {
    allSent = false;
  }
}

void MainViewController::deleteFiles() {
  std::vector<BackupFile> rows = DBManager::sharedDBManager().selectFilesForDelete();
  if (rows.empty()) return;
  std::string list = "[";
  std::vector<std::string> paths;
  int count = 0;
  bool allSent = true;
  for (const auto& row : rows) {
    if (!isUtf8(row.path)) {
      // JSON cannot carry the name's bytes (the service would refuse the
      // whole list): it goes alone, as a plain path.
      sendDeletion(row.path, 1, {row.path}, allSent);
      continue;
    }
    // Escaped, so that a quote or backslash in a name cannot break the list.
    list += "\"" + jsonEscaped(row.path) + "\",";
    paths.push_back(row.path);
    ++count;
    if (count % 100 == 0 && static_cast<int64_t>(list.size()) > kDeleteListBytes) {
      deleteList(list, static_cast<int>(paths.size()), paths, allSent);
    }
  }
  if (!paths.empty()) deleteList(list, static_cast<int>(paths.size()), paths, allSent);
  if (!allSent) {
    log(kSessionEnded, kSessionOther, "Some removed files are kept for the next deletion pass", kLogEvent);
  }
}

}  // namespace palvero
