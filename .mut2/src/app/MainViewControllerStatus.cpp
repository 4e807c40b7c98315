// The status check: may runs start at all? Server, storage, last backup,
// failed files and version, every 10 seconds.
#include "app/DesktopAlerts.h"
#include "app/MainViewController.h"
#include "app/StatusFormatter.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

void MainViewController::checkStatus() {
  statusOK_.store(true);
  runInBackground([this] {
    int32_t connection = server_->syncPing();
    bool ok = connection != 0;
    bool newVersion = false;
    std::string version;
    if (server_->syncAuthorise()) {
      newVersion = server_->syncCheckVersion(kClientType, version);
    } else {
      ok = false;
    }
    runOnMain([this, connection, ok, newVersion, version] {
      connection_.store(connection);
      if (!ok) statusOK_.store(false);
      newVersion_.store(newVersion);
      {
        std::lock_guard lock(stateMutex_);
        version_ = version;
      }
      evaluateCheckStatus();
    });
  });
}

void MainViewController::checkStatusNow() {
  statusOK_.store(true);
  int32_t connection = server_->syncPing();
  connection_.store(connection);
  if (connection == 0) statusOK_.store(false);
  std::string version;
  if (server_->syncAuthorise()) {
    newVersion_.store(server_->syncCheckVersion(kClientType, version));
  } else {
    statusOK_.store(false);
  }
  {
    std::lock_guard lock(stateMutex_);
    version_ = version;
  }
  evaluateCheckStatus();
}

void MainViewController::evaluateCheckStatus() {
  try {
    auto& settings = LocalSettings::sharedManager();
    CheckStatusModel model;
    bool ok = statusOK_.load();

    bool online = connection_.load() != 0;
    model.server = CheckStatusRow{online ? "OK" : "Offline", online};
    if (!online) ok = false;

    if (auto used = totalUsed()) {
      bool full = false;
      Value allowance = settings.licenseTypeSpace() ? Value(*settings.licenseTypeSpace()) : Value();
      model.storage.text = StatusFormatter::storageText(*used, allowance, full);
      model.storage.ok = !full;
      bool wasFull = storageFull_.exchange(full);
      if (full) ok = false;
      if (full && !wasFull) {
        NotificationCenter::defaultCenter().post(DesktopAlerts::kStorageFull, this,
                                                 Value{{"text", model.storage.text}});
      }
    } else {
      storageFull_.store(false);
      model.storage = CheckStatusRow{"", true};
    }

    bool lastOk = true;
    model.lastBackup.text = StatusFormatter::lastBackupRow(settings.dateBackupStarted(), Date::now(), lastOk);
    model.lastBackup.ok = lastOk;

    model.other = CheckStatusRow{"OK", true};

    int64_t failed = DBManager::sharedDBManager().GetTotalNumberOfFailedFiles(true);
    if (failed < 1) {
      model.failedFiles = CheckStatusRow{"No failed files", true, false};
    } else {
      model.failedFiles = CheckStatusRow{"You have failed files", false, true};
      ok = false;
    }

    std::string versionText = version();
    if (newVersion_.load()) {
      model.version = CheckStatusRow{stringWithFormat("New version is available %s", versionText.c_str()), false};
      ok = false;
    } else {
      model.version = CheckStatusRow{stringWithFormat("System is up to date %s", versionText.c_str()), true};
    }
    statusOK_.store(ok);
    model.statusOK = ok;
    model.evaluated = true;
    {
      std::lock_guard lock(stateMutex_);
      checkStatus_ = model;
    }
    if (view_) view_->checkStatusChanged(model);
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in checkStatus: %s", e.what()), kLogFailure);
  }
}

}  // namespace palvero
