// A backup run as the window sees it: the start (status, session,
// "backupstart"), and what BackupRun asks of the controller while it runs
// and when it ends.
#include "app/DesktopAlerts.h"
#include "app/Localization.h"
#include "app/MainViewController.h"
#include "app/StatusFormatter.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

BackupRun::Callbacks MainViewController::runCallbacks() {
  BackupRun::Callbacks callbacks;
  callbacks.restoring = [this] { return restoring(); };
  callbacks.stop = [this] { stopBackup(); };
  callbacks.recount = [this] { recountFilesToBackup(); };
  callbacks.filesToBackupCount = [this] { return filesToBackupCount_.load(); };
  callbacks.sendEndStatus = [this](int64_t failed) { sendBackupEndStatus(failed); };
  callbacks.failedForGood = [this](std::vector<std::string> paths) { reportFailedForGood(std::move(paths)); };
  callbacks.ended = [this] { runEnded(); };
  callbacks.finished = [this](const RunSummary& summary) {
    runOnMain([this, summary] {
      if (view_) view_->backupRunEnded(summary);
    });
  };
  return callbacks;
}

bool MainViewController::startBackup() {
  if (!(statusOK_.load() && connection_.load() != 0)) {
    if (!backupEmergencyStopped_.load() && !run_.active()) setUIPause(true);
    return false;
  }
  // Workers still letting go of a stopped run's files would share the batch.
  if (run_.anyWorkerActive()) return false;
  scheduler_.runStarted();

  int64_t total = run_.measure();
  {
    std::lock_guard lock(stateMutex_);
    status_.timeRemainingText = L("CalculationRemainingTime");
    status_.sizeText = StatusFormatter::sizeText(0, total);
  }

  if (!server_->syncAuthorise()) {
    log(kBackupError, kSessionBackup, "Start backup - authorise fail", kLogFailure);
    setUIPause(true);
    return false;
  }
  server_->sendStatus("backupstart", Date::now().shortDateLongTime());
  {
    std::lock_guard stateLock(stateMutex_);
    status_.threadSliderEnabled = false;
  }
  bool handedOut = run_.begin();
  LocalSettings::sharedManager().save();
  if (handedOut) setUIInProgress();
  return true;
}

void MainViewController::runEnded() {
  runOnMain([this] {
    {
      std::lock_guard lock(stateMutex_);
      status_.sizeText.clear();
      status_.timeRemainingText.clear();
      status_.threadSliderEnabled = true;
    }
    if (filesToBackupCount_.load() == 0) setUIPause(false);
    if (LocalSettings::sharedManager().backupTimingType() == LocalSettings::kTimingContinuous) {
      scheduler_.armContinuous();
      scheduler_.setAutoBackup(true);
      std::lock_guard lock(stateMutex_);
      status_.buttonEnabled = false;
    }
    publishStatus();
  });
}

void MainViewController::reportFailedForGood(std::vector<std::string> paths) {
  Value list = Value::array();
  for (auto& path : paths) list.push_back(std::move(path));
  runOnMain([this, list] {
    NotificationCenter::defaultCenter().post(DesktopAlerts::kFilesFailedForGood, this, Value{{"paths", list}});
  });
}

void MainViewController::sendBackupEndStatus(int64_t failed) {
  server_->sendStatus("backupend", failed > 0 ? stringWithFormat("ERROR: %li failed files", static_cast<long>(failed))
                                              : std::string("OK"));
}

void MainViewController::recountFilesToBackup() {
  filesToBackupCount_.store(DBManager::sharedDBManager().GetTotalNumberOfFiles(true));
}

void MainViewController::reloadBatchFromDatabase() {
  FilesToBackup::sharedFilesToBackup().setFiles(
      DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting));
}

}  // namespace palvero
