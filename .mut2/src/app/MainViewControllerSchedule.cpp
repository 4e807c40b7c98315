// The scheduler: continuous and daily starts, and the timing controls.
#include <time.h>

#include <cmath>

#include "app/DesktopAlerts.h"
#include "app/MainViewController.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// A refused daily start tries again this long after, not at once: the time
// it was armed for has passed, and the status check needs a moment to change.
constexpr auto kDailyRetry = std::chrono::seconds(60);

std::tm localComponents(const Date& date) {
  time_t seconds = static_cast<time_t>(std::floor(date.timeIntervalSince1970()));
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return tm;
}

}  // namespace

void MainViewController::replaceBackupTimer(Timer::Handle timer) {
  std::lock_guard lock(timersMutex_);
  if (backupTimer_) backupTimer_->invalidate();
  backupTimer_ = std::move(timer);
}

void MainViewController::dropBackupTimer() { replaceBackupTimer(nullptr); }

void MainViewController::armContinuousTimer() {
  replaceBackupTimer(Timer::scheduled(std::chrono::seconds(10), true, [this] { startAutoBackup(); }));
}

bool MainViewController::dailyTiming() const {
  int32_t timing = LocalSettings::sharedManager().backupTimingType();
  return timing == 2 || timing == LocalSettings::kTimingDaily;
}

bool MainViewController::timingTimePassed() const {
  auto time = LocalSettings::sharedManager().backupTimingTime();
  return !time || *time <= Date::now();
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

void MainViewController::addDailyTimerOnce() {
  auto time = LocalSettings::sharedManager().backupTimingTime();
  if (time && *time > Date::now()) {
    replaceBackupTimer(Timer::scheduledAt(*time, [this] { startAutoBackup(); }));
  } else {
    replaceBackupTimer(Timer::scheduled(kDailyRetry, false, [this] { startAutoBackup(); }));
  }
}

void MainViewController::setDailyTimer() {
  auto& settings = LocalSettings::sharedManager();
  Date now = Date::now();
  std::tm today = localComponents(now);
  std::tm wanted = localComponents(settings.backupTimingTime().value_or(now));
  Date next = Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, wanted.tm_hour,
                                        wanted.tm_min, today.tm_sec);
  if (next <= now) {
    // The next calendar day, so that a change of daylight saving time keeps
    // the hour.
    next = Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday + 1, wanted.tm_hour,
                                     wanted.tm_min, today.tm_sec);
  }
  std::string text = next.format(Date::kSettingsPattern);
  log(kGeneralLogEvent, kSessionOther, stringWithFormat("Next backup date is: %s", text.c_str()), kLogFailure);
  settings.setBackupTimingTime(next);
  settings.save();
  replaceBackupTimer(Timer::scheduledAt(next, [this] { startAutoBackup(); }));
  sendBackupSettings("Save daily backup time - authorise fail");
}

void MainViewController::startAutoBackup() {
  auto& settings = LocalSettings::sharedManager();
  int32_t timing = settings.backupTimingType();
  bool daily = dailyTiming();
  bool onSetTime = settings.backupOnSetTime();

  if (hooks_ && hooks_->isInSleep()) return;
  // A rescan is rebuilding the queue under the batch: the next firing tries.
  if (scanning_.load()) return;
  if (!statusOK_.load()) {
    if (daily) reportScheduledStartRefused(heldBackReason());
    if (storageFull_.load()) {
      setDailyTimer();
      return;
    }
    if (daily && !onSetTime) addDailyTimerOnce();
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Start auto backup not fired because of statusOK is %d", static_cast<int>(statusOK_.load())),
        kLogDetail);
    return;
  }
  if (filesToBackupCount_.load() == 0 && !backuping_.load()) {
    recountFilesToBackup();
    if (filesToBackupCount_.load() == 0) {
      if (daily && !onSetTime) addDailyTimerOnce();
      return;
    }
  }
  if (connection_.load() == 0) {
    if (daily) reportScheduledStartRefused("The backup service cannot be reached");
    if (daily && !onSetTime) addDailyTimerOnce();
    return;
  }
  if (!isAutoBackup_.load() && !settings.isInitialized()) return;
  isAutoBackup_.store(false);

  if (restoring()) {
    if (daily) {
      reportScheduledStartRefused("A restore is running");
      rearmDailyTimer();
    }
    return;
  }
  if (backuping_.load()) {
    if (timing == LocalSettings::kTimingContinuous) {
      dropBackupTimer();
      return;
    }
    if (daily) rearmDailyTimer();
  }
  if (timing == LocalSettings::kTimingContinuous) {
    startContinuousRun();
  } else if (daily) {
    startDailyRun(timing == 2 || onSetTime);
  }
}

void MainViewController::rearmDailyTimer() {
  if (timingTimePassed()) {
    setDailyTimer();
  } else {
    addDailyTimerOnce();
  }
}

void MainViewController::startContinuousRun() {
  auto started = LocalSettings::sharedManager().dateBackupStarted();
  if (started && Date::now().timeIntervalSince(*started) <= kContinuousMinimumSeconds) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Start auto backup not fired because of time since last backup is less than %d",
                         static_cast<int>(kContinuousMinimumSeconds)),
        kLogDetail);
    return;
  }
  setUIInProgress();
  if (filesToBackupCount_.load() > 0) reloadBatchFromDatabase();
  if (FilesToBackup::sharedFilesToBackup().count() > 0) {
    if (!storageFull_.load()) {
      dropBackupTimer();
      // A refused start (workers still letting go of a stopped run, no
      // session) ends no run that would arm the timer again.
      if (!startBackup()) armContinuousTimer();
    }
  } else {
    recountFilesToBackup();
  }
}

void MainViewController::startDailyRun(bool onlyWhenPassed) {
  setUIInProgress();
  dropBackupTimer();
  if (onlyWhenPassed) {
    if (timingTimePassed()) setDailyTimer();
  } else {
    rearmDailyTimer();
  }
  if (filesToBackupCount_.load() > 0) reloadBatchFromDatabase();
  if (FilesToBackup::sharedFilesToBackup().count() > 0 && !storageFull_.load()) startBackup();
}

void MainViewController::reportScheduledStartRefused(const std::string& reason) {
  if (scheduledRefusalReported_.exchange(true)) return;
  log(kGeneralLogEvent, kSessionOther, "Scheduled backup not started: " + reason, kLogEvent);
  NotificationCenter::defaultCenter().post(DesktopAlerts::kScheduledBackupNotStarted, this, Value{{"reason", reason}});
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
  auto& settings = LocalSettings::sharedManager();
  int32_t timing = entry == 2 ? LocalSettings::kTimingDaily : entry;
  if (entry < 0 || entry > 2) return;
  settings.saveParameter("BackupTimingType", timing);
  if (entry != 2) settings.saveParameter("BackupOnSetTime", false);
  sendBackupSettings("Save backup timing - authorise fail");

  if (timing == 0) {
    dropBackupTimer();
    {
      std::lock_guard lock(stateMutex_);
      bool idleNothingLeft = !backuping_.load() && filesToBackupCount_.load() < 1;
      bool runNothingLeft = backuping_.load() && filesToBackupCount_.load() <= totalFilesItr_.load();
      if (!backuping_.load() || runNothingLeft) {
        status_.buttonImage = StatusModel::ButtonImage::kResume;
        status_.buttonEnabled = !(idleNothingLeft || runNothingLeft);
      } else {
        status_.buttonImage = StatusModel::ButtonImage::kPause;
      }
    }
    isPaused_.store(statusModel().buttonImage == StatusModel::ButtonImage::kResume);
  } else if (timing == LocalSettings::kTimingContinuous) {
    if (auto timer = backupTimer()) timer->invalidate();
    if (!backuping_.load()) armContinuousTimer();
  } else {
    if (!settings.backupTimingTime()) settings.setBackupTimingTime(Date::now());
    settings.save();
    dropBackupTimer();
    if (timingTimePassed()) {
      setDailyTimer();
    } else {
      addDailyTimerOnce();
      log(kGeneralLogEvent, kSessionOther,
          stringWithFormat("Next backup date is: %s",
                           settings.backupTimingTime()->format(Date::kSettingsPattern).c_str()),
          kLogFailure);
    }
    std::lock_guard lock(stateMutex_);
    status_.buttonEnabled = false;
  }
  publishStatus();
}

void MainViewController::backupSetOnlyOnTimeCheckboxClicked(bool checked) {
  LocalSettings::sharedManager().saveParameter("BackupOnSetTime", checked);
  sendBackupSettings("Save daily backup time - authorise fail");
}

void MainViewController::dailyBackupDateChanged(Date picked) {
  dropBackupTimer();
  auto& settings = LocalSettings::sharedManager();
  std::tm today = localComponents(Date::now());
  std::tm time = localComponents(picked);
  Date next =
      Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, time.tm_hour, time.tm_min, 0);
  settings.setBackupTimingTime(next);
  settings.save();
  sendBackupSettings("Save daily backup time - authorise fail");
  if (timingTimePassed()) {
    setDailyTimer();
  } else {
    addDailyTimerOnce();
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Next backup date is: %s", next.format(Date::kSettingsPattern).c_str()), kLogFailure);
  }
}

}  // namespace palvero
