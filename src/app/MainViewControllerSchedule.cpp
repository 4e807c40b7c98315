// The scheduler's questions answered, and the timing controls' effect on the
// status area; the timers and their decisions are BackupScheduler's.
#include "app/MainViewController.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

BackupScheduler::Host MainViewController::schedulerHost() {
  BackupScheduler::Host host;
  host.facts = [this] {
    BackupScheduler::Facts facts;
    facts.asleep = hooks_ && hooks_->isInSleep();
    facts.scanning = scanning_.load();
    facts.statusOK = statusOK_.load();
    facts.storageFull = storageFull_.load();
    facts.connected = connection_.load() != 0;
    facts.backuping = run_.active();
    facts.restoring = restoring();
    facts.queued = filesToBackupCount_.load();
    return facts;
  };
  host.recount = [this] {
    recountFilesToBackup();
    return filesToBackupCount_.load();
  };
  host.heldBackReason = [this] { return heldBackReason(); };
  host.showInProgress = [this] { setUIInProgress(); };
  host.loadQueue = [this] {
    if (filesToBackupCount_.load() > 0) reloadBatchFromDatabase();
    return FilesToBackup::sharedFilesToBackup().count() > 0;
  };
  host.startBackup = [this] { return startBackup(); };
  host.sendSettings = [this](const char* failureLine) { sendBackupSettings(failureLine); };
  return host;
}

void MainViewController::sendBackupSettings(const char* failureLine) {
  std::string line = failureLine;
  runInBackground([this, line] {
    if (!server_->syncAuthorise()) {
      log(kGeneralLogEvent, kSessionOther, line, kLogFailure);
      return;
    }
    server_->saveSettings("backup");
  });
}

void MainViewController::armScheduleAtStart() {
  if (!scheduler_.armAtStart()) return;
  std::lock_guard lock(stateMutex_);
  status_.buttonEnabled = false;
}

std::string MainViewController::heldBackReason() const {
  CheckStatusModel model = checkStatusModel();
  std::string reason;
  for (const CheckStatusRow* row : {&model.server, &model.storage, &model.failedFiles, &model.version}) {
    if (row->ok || row->text.empty()) continue;
    reason += (reason.empty() ? "" : "; ") + row->text;
  }
  return reason.empty() ? "The status check holds backups back" : "Backups are held back: " + reason;
}

void MainViewController::changeTiming(int entry) {
  bool backuping = run_.active();
  if (!scheduler_.changeTiming(entry, backuping)) return;
  if (entry == 0) {
    {
      std::lock_guard lock(stateMutex_);
      bool idleNothingLeft = !backuping && filesToBackupCount_.load() < 1;
      bool runNothingLeft = backuping && filesToBackupCount_.load() <= run_.filesDone();
      if (!backuping || runNothingLeft) {
        status_.buttonImage = StatusModel::ButtonImage::kResume;
        status_.buttonEnabled = !(idleNothingLeft || runNothingLeft);
      } else {
        status_.buttonImage = StatusModel::ButtonImage::kPause;
      }
    }
    isPaused_.store(statusModel().buttonImage == StatusModel::ButtonImage::kResume);
  } else if (entry == 2) {
    std::lock_guard lock(stateMutex_);
    status_.buttonEnabled = false;
  }
  publishStatus();
}

}  // namespace palvero
