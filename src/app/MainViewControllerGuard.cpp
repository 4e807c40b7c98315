// Guards: the emergency stop and start around sleep, the watchdog, and the
// wrong-password reset.
#include "app/MainViewController.h"
#include "app/ThreadWorker.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

void logGuard(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kRestoreFinished, kSessionOther, text, kLogEvent);
}

}  // namespace

void MainViewController::emergencyStop() {
  switch (scheduler_.reviveBackupTimer()) {
    case BackupScheduler::Revived::kContinuous: {
      logGuard("Timer backupTimer was down, restarting timer for continuous backup");
      std::lock_guard lock(stateMutex_);
      status_.buttonEnabled = false;
      break;
    }
    case BackupScheduler::Revived::kDaily:
      logGuard("Timer backupTimer was down, restarting timer for daily backup");
      break;
    case BackupScheduler::Revived::kNone:
      break;
  }

  if (run_.active()) {
    backupEmergencyStopped_.store(true);
    stopBackup();
    logGuard("emergencyStop fired for backup");
  } else if (restoring()) {
    backupEmergencyStopped_.store(true);
    restoreEmergencyStopped_.store(true);
    if (restoreControl_) restoreControl_->pauseRestore();
    logGuard("emergencyStop fired for restore");
  } else {
    logGuard("emergencyStop not fired, because backup is not running");
  }
  if (hooks_) hooks_->setIsInSleep(false);
}

void MainViewController::emergencyStartLater() {
  scheduler_.replace(BackupScheduler::Slot::kEmergency,
                     Timer::scheduled(std::chrono::seconds(5), false, [this] { emergencyStart(); }));
}

void MainViewController::emergencyStart() {
  // Runs on the main thread (startBackup belongs there); its waits are
  // timers, so the window never freezes.
  if (!RunLoop::main().isCurrentThread()) {
    runOnMain([this] { emergencyStart(); });
    return;
  }
  if (!backupEmergencyStopped_.load()) {
    logGuard("emergencyStart not fired, because backup wasn't running before stop");
    return;
  }
  if (run_.active() && !restoreEmergencyStopped_.load()) {
    backupEmergencyStopped_.store(false);
    logGuard("emergencyStart not fired, backup is running already, most likely started by autobackup");
    return;
  }
  if (!restoreEmergencyStopped_.load()) {
    if (startBackup()) {
      backupEmergencyStopped_.store(false);
      logGuard("emergencyStart fired");
    } else {
      logGuard("emergencyStart not fired, because startBackup method returned false, will try once again");
      emergencyStartLater();
    }
    return;
  }
  scheduler_.replace(BackupScheduler::Slot::kEmergency, Timer::scheduled(std::chrono::seconds(10), false, [this] {
                       if (restoreControl_ && !restoreControl_->isRestoring()) {
                         restoreEmergencyStopped_.store(false);
                         backupEmergencyStopped_.store(false);
                         restoreControl_->startRestore();
                       }
                     }));
}

void MainViewController::checkIfAppIsAlive() {
  try {
    Date now = Date::now();
    for (const auto& worker : backupWorkers()) {
      if (worker->isActive() && now.timeIntervalSince(worker->lastRequestDate()) > kWatchdogLimitSeconds) {
        restartBackup();
        log(kGeneralLogEvent, kSessionBackup,
            "checkIfAppIsAlive method has shown that one of the backup threads is frozen. All threads will be "
            "disposed and recreated.",
            kLogEvent);
        break;
      }
    }
    if (restoreControl_ && restoreControl_->isRestorePausedByUser()) return;
    for (const auto& worker : ThreadWorker::sharedThreadWorker().restoreThreads()) {
      if (worker->isActive() && now.timeIntervalSince(worker->lastRequestDate()) > kWatchdogLimitSeconds) {
        restartRestore();
        log(kGeneralLogEvent, kSessionBackup,
            "checkIfAppIsAlive method has shown that one of the restore threads is frozen. All threads will be "
            "disposed and recreated.",
            kLogEvent);
        return;
      }
    }
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in checkIfAppIsAlive: %s", e.what()),
        kLogFailure);
  }
}

void MainViewController::restartRestore() {
  if (!restoring() || !restoreControl_) return;
  restoreEmergencyStopped_.store(true);
  restoreControl_->pauseRestore();
  scheduler_.replace(BackupScheduler::Slot::kRestart, Timer::scheduled(std::chrono::seconds(10), false, [this] {
                       if (restoreControl_ && !restoreControl_->isRestoring()) {
                         restoreEmergencyStopped_.store(false);
                         restoreControl_->startRestore();
                       }
                     }));
}

void MainViewController::wrongPass() {
  std::lock_guard lock(wrongPassMutex_);
  auto& settings = LocalSettings::sharedManager();
  if (settings.wrongPassInProgress()) return;
  settings.setWrongPassInProgress(true);
  if (run_.active()) {
    run_.cancelEngines();
    sendBackupEndStatus(DBManager::sharedDBManager().GetTotalNumberOfFailedFiles(true));
    isPaused_.store(true);
  }
  if (restoring() && restoreControl_) restoreControl_->pauseRestore();
  settings.saveParameter("initialized", false);
  if (hooks_) hooks_->relaunchAfterDelay();
}

}  // namespace palvero
