// The status area: counts, sizes, progress, time remaining, time since the
// last run; and the failed-files list.
#include <cmath>

#include "app/Localization.h"
#include "app/MainViewController.h"
#include "app/StatusFormatter.h"
#include "base/StringFormat.h"
#include "selection/ChangeWatcher.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

void MainViewController::publishStatus() {
  StatusModel model;
  {
    std::lock_guard lock(stateMutex_);
    status_.backuping = backuping_.load();
    status_.filesToBackupCount = filesToBackupCount_.load();
    status_.totalFilesItr = totalFilesItr_.load();
    status_.backedUpBytes = backedUpBytes_.load();
    status_.totalBackupBytes = totalBackupBytes_.load();
    model = status_;
  }
  if (view_) view_->statusChanged(model);
}

void MainViewController::updateStatusBar() {
  if (connection_.load() == 0) return;
  try {
    updateTimeRemaining();
    auto& settings = LocalSettings::sharedManager();
    bool running = backuping_.load();
    int64_t count = filesToBackupCount_.load();
    int64_t done = totalFilesItr_.load();
    {
      std::lock_guard lock(stateMutex_);
      if (running) {
        status_.timeSinceText = L("BackupUsageBackupInProgress");
        for (auto& c : status_.timeSinceText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        status_.timeSinceIsInProgressCaption = true;
        status_.sizeText = StatusFormatter::sizeText(backedUpBytes_.load(), totalBackupBytes_.load());
      } else {
        auto started = settings.dateBackupStarted();
        status_.timeSinceText =
            started ? StatusFormatter::timeSince(Date::now().timeIntervalSince(*started)) : L("ZeroHours");
        status_.timeSinceIsInProgressCaption = false;
      }
      bool pendingEmergency = backupEmergencyStopped_.load();
      if (count > 0 && done > 0) {
        int64_t total = totalBackupBytes_.load();
        status_.progress = total > 0 && !scanning_.load() ? 100.0 * backedUpBytes_.load() / total : 0;
        status_.filesLabel = StatusFormatter::filesLabel(StatusFormatter::remainingFiles(count, done));
        if (!pendingEmergency && !dailyTiming() && !status_.buttonEnabled) status_.buttonEnabled = true;
      } else if (count > 0) {
        status_.progress = 0;
        status_.filesLabel = StatusFormatter::filesLabel(count);
        if (!pendingEmergency && !dailyTiming() && !status_.buttonEnabled) status_.buttonEnabled = true;
      } else {
        status_.progress = 100;
        status_.filesLabel = StatusFormatter::filesLabel(0);
        status_.lastBackupText = StatusFormatter::lastBackupText(settings.dateBackupStarted());
      }
    }
    publishStatus();
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Crash in updateStatusBar: %s", e.what()), kLogDetail);
  }
}

void MainViewController::updateTimeRemaining() {
  if (scanning_.load()) return;
  try {
    if (backuping_.load()) {
      server_->sendStatus("backupinprogress", Date::now().shortDateLongTime());
      int64_t counter = ++remainingTimeIterator_;
      constexpr double kGigabyte = 1073741824.0;
      auto minutes = StatusFormatter::estimateMinutes(counter, filesToBackupCount_.load(), totalFilesItr_.load(),
                                                      totalBackupBytes_.load() / kGigabyte,
                                                      backedUpBytes_.load() / kGigabyte);
      std::lock_guard lock(stateMutex_);
      status_.timeRemainingText = minutes ? StatusFormatter::timeRemaining(static_cast<int64_t>(*minutes))
                                          : L("CalculationRemainingTime");
      return;
    }
    {
      std::lock_guard lock(stateMutex_);
      status_.timeRemainingText.clear();
    }
    auto& extensions = CommonExtensions::sharedExtensionsManager();
    if (extensions.needFullBackup() && !backuping_.load() && !scanning_.load() && changeWatcher_) {
      setScanning(true);
      DBManager::sharedDBManager().removeAllCachedBlocks();
      extensions.setNeedFullBackup(false);
      extensions.saveExtensions();
      ChangeWatcher* watcher = changeWatcher_;
      runInBackground([this, watcher] {
        watcher->folderChanges().setExclusionsChanged(true);
        // As when the exclusion editor closes: the rebuilt queue's files
        // wait (status 0) for the next run, which backs each of them up.
        watcher->recalculateBackupQueue(false);
        recountFilesToBackup();
        setScanning(false);
      });
    }
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Crash in updateTimeRemaining method: %s", e.what()),
        kLogFailure);
  }
}

std::vector<FailedFile> MainViewController::failedFiles() {
  std::vector<FailedFile> list;
  for (const auto& row : DBManager::sharedDBManager().selectFailedFiles(true)) {
    list.push_back(FailedFile{row.path, row.size, row.date, row.error});
  }
  if (view_) view_->failedFilesChanged(list);
  return list;
}

void MainViewController::deleteFailedFile(const std::string& path) {
  DBManager::sharedDBManager().RemoveFileFromDatabase({path}, true);
  failedFiles();
}

}  // namespace palvero
