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
    status_.backuping = run_.active();
    status_.filesToBackupCount = filesToBackupCount_.load();
    status_.totalFilesItr = run_.filesDone();
    status_.backedUpBytes = run_.backedUpBytes();
    status_.totalBackupBytes = run_.totalBackupBytes();
    model = status_;
  }
  if (view_) view_->statusChanged(model);
}

void MainViewController::updateStatusBar() {
  if (connection_.load() == 0) return;
  try {
    updateTimeRemaining();
    auto& settings = LocalSettings::sharedManager();
    bool running = run_.active();
    int64_t count = filesToBackupCount_.load();
    int64_t done = run_.filesDone();
    bool daily = BackupScheduler::dailyTiming();
    {
      std::lock_guard lock(stateMutex_);
      if (running) {
        status_.timeSinceText = L("BackupUsageBackupInProgress");
        for (auto& c : status_.timeSinceText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        status_.timeSinceIsInProgressCaption = true;
        status_.sizeText = StatusFormatter::sizeText(run_.backedUpBytes(), run_.totalBackupBytes());
      } else {
        auto started = settings.dateBackupStarted();
        status_.timeSinceText =
            started ? StatusFormatter::timeSince(Date::now().timeIntervalSince(*started)) : L("ZeroHours");
        status_.timeSinceIsInProgressCaption = false;
      }
      bool pendingEmergency = backupEmergencyStopped_.load();
      if (count > 0 && done > 0) {
        int64_t total = run_.totalBackupBytes();
        status_.progress = total > 0 && !scanning_.load() ? 100.0 * run_.backedUpBytes() / total : 0;
        status_.filesLabel = StatusFormatter::filesLabel(StatusFormatter::remainingFiles(count, done));
        if (!pendingEmergency && !daily && !status_.buttonEnabled) status_.buttonEnabled = true;
      } else if (count > 0) {
        status_.progress = 0;
        status_.filesLabel = StatusFormatter::filesLabel(count);
        if (!pendingEmergency && !daily && !status_.buttonEnabled) status_.buttonEnabled = true;
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
    if (run_.active()) {
      server_->sendStatus("backupinprogress", Date::now().shortDateLongTime());
      int64_t counter = run_.nextEstimateTick();
      constexpr double kGigabyte = 1073741824.0;
      auto minutes =
          StatusFormatter::estimateMinutes(counter, filesToBackupCount_.load(), run_.filesDone(),
                                           run_.totalBackupBytes() / kGigabyte, run_.backedUpBytes() / kGigabyte);
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
    if (extensions.needFullBackup() && !run_.active() && !scanning_.load() && changeWatcher_) {
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
