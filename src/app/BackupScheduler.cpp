#include "app/BackupScheduler.h"

#include <time.h>

#include <cmath>

#include "app/DesktopAlerts.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "base/Value.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::tm localComponents(const Date& date) {
  time_t seconds = static_cast<time_t>(std::floor(date.timeIntervalSince1970()));
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return tm;
}

void log(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

void logNextDate(const Date& next) {
  log(stringWithFormat("Next backup date is: %s", next.format(Date::kSettingsPattern).c_str()), kLogFailure);
}

}  // namespace

BackupScheduler::BackupScheduler(Host host) : host_(std::move(host)) {}

BackupScheduler::~BackupScheduler() { stopAll(); }

bool BackupScheduler::dailyTiming() {
  int32_t timing = LocalSettings::sharedManager().backupTimingType();
  return timing == 2 || timing == LocalSettings::kTimingDaily;
}

bool BackupScheduler::timingTimePassed() {
  auto time = LocalSettings::sharedManager().backupTimingTime();
  return !time || *time <= Date::now();
}

void BackupScheduler::replaceBackupTimer(Timer::Handle timer) {
  std::lock_guard lock(mutex_);
  if (backupTimer_) backupTimer_->invalidate();
  backupTimer_ = std::move(timer);
}

void BackupScheduler::dropBackupTimer() { replaceBackupTimer(nullptr); }

Timer::Handle BackupScheduler::backupTimer() const {
  std::lock_guard lock(mutex_);
  return backupTimer_;
}

void BackupScheduler::armContinuous() {
  replaceBackupTimer(Timer::scheduled(std::chrono::seconds(10), true, [this] { startAutoBackup(); }));
}

void BackupScheduler::addDailyTimerOnce() {
  auto time = LocalSettings::sharedManager().backupTimingTime();
  if (time && *time > Date::now()) {
    replaceBackupTimer(Timer::scheduledAt(*time, [this] { startAutoBackup(); }));
  } else {
    replaceBackupTimer(Timer::scheduled(kDailyRetry, false, [this] { startAutoBackup(); }));
  }
}

void BackupScheduler::setDailyTimer() {
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
  logNextDate(next);
  settings.setBackupTimingTime(next);
  settings.save();
  replaceBackupTimer(Timer::scheduledAt(next, [this] { startAutoBackup(); }));
  host_.sendSettings("Save daily backup time - authorise fail");
}

void BackupScheduler::rearmDaily() {
  if (timingTimePassed()) {
    setDailyTimer();
  } else {
    addDailyTimerOnce();
  }
}

bool BackupScheduler::armAtStart() {
  auto& settings = LocalSettings::sharedManager();
  int32_t timing = settings.backupTimingType();
  if (timing == LocalSettings::kTimingContinuous) armContinuous();
  if (timing == 0 || timing == LocalSettings::kTimingContinuous) {
    isAutoBackup_.store(timing == LocalSettings::kTimingContinuous);
    return false;
  }
  if (!dailyTiming()) return false;
  isAutoBackup_.store(true);
  if (settings.backupTimingTime()) {
    if (timingTimePassed() && settings.backupOnSetTime()) {
      setDailyTimer();
    } else {
      addDailyTimerOnce();
    }
  }
  return true;
}

void BackupScheduler::startAutoBackup() {
  auto& settings = LocalSettings::sharedManager();
  int32_t timing = settings.backupTimingType();
  bool daily = dailyTiming();
  bool onSetTime = settings.backupOnSetTime();
  Facts facts = host_.facts();

  if (facts.asleep || facts.scanning) return;
  if (!facts.statusOK) {
    if (daily) reportRefused(host_.heldBackReason());
    if (facts.storageFull) {
      setDailyTimer();
      return;
    }
    if (daily && !onSetTime) addDailyTimerOnce();
    log("Start auto backup not fired because of statusOK is 0", kLogDetail);
    return;
  }
  if (facts.queued == 0 && !facts.backuping && host_.recount() == 0) {
    if (daily && !onSetTime) addDailyTimerOnce();
    return;
  }
  if (!facts.connected) {
    if (daily) reportRefused("The backup service cannot be reached");
    if (daily && !onSetTime) addDailyTimerOnce();
    return;
  }
  if (!isAutoBackup_.load() && !settings.isInitialized()) return;
  isAutoBackup_.store(false);

  if (facts.restoring) {
    if (daily) {
      reportRefused("A restore is running");
      rearmDaily();
    }
    return;
  }
  if (facts.backuping) {
    if (timing == LocalSettings::kTimingContinuous) {
      dropBackupTimer();
      return;
    }
    if (daily) rearmDaily();
  }
  if (timing == LocalSettings::kTimingContinuous) {
    startContinuousRun(facts);
  } else if (daily) {
    startDailyRun(facts, timing == 2 || onSetTime);
  }
}

void BackupScheduler::startContinuousRun(const Facts& facts) {
  auto started = LocalSettings::sharedManager().dateBackupStarted();
  if (started && Date::now().timeIntervalSince(*started) <= kContinuousMinimumSeconds) {
    log(stringWithFormat("Start auto backup not fired because of time since last backup is less than %d",
                         static_cast<int>(kContinuousMinimumSeconds)),
        kLogDetail);
    return;
  }
  host_.showInProgress();
  if (!host_.loadQueue()) {
    host_.recount();
    return;
  }
  if (facts.storageFull) return;
  dropBackupTimer();
  // A refused start (workers still letting go of a stopped run, no session)
  // ends no run that would arm the timer again.
  if (!host_.startBackup()) armContinuous();
}

void BackupScheduler::startDailyRun(const Facts& facts, bool onlyWhenPassed) {
  host_.showInProgress();
  dropBackupTimer();
  if (onlyWhenPassed) {
    if (timingTimePassed()) setDailyTimer();
  } else {
    rearmDaily();
  }
  if (host_.loadQueue() && !facts.storageFull) host_.startBackup();
}

void BackupScheduler::reportRefused(const std::string& reason) {
  if (refusalReported_.exchange(true)) return;
  log("Scheduled backup not started: " + reason, kLogEvent);
  NotificationCenter::defaultCenter().post(DesktopAlerts::kScheduledBackupNotStarted, this, Value{{"reason", reason}});
}

BackupScheduler::Revived BackupScheduler::reviveBackupTimer() {
  Timer::Handle timer = backupTimer();
  if (timer && timer->isValid()) return Revived::kNone;
  auto& settings = LocalSettings::sharedManager();
  if (settings.backupTimingType() == LocalSettings::kTimingContinuous) {
    armContinuous();
    return Revived::kContinuous;
  }
  if (dailyTiming() && !settings.backupOnSetTime()) {
    addDailyTimerOnce();
    return Revived::kDaily;
  }
  return Revived::kNone;
}

bool BackupScheduler::changeTiming(int entry, bool backuping) {
  if (entry < 0 || entry > 2) return false;
  auto& settings = LocalSettings::sharedManager();
  int32_t timing = entry == 2 ? LocalSettings::kTimingDaily : entry;
  settings.saveParameter("BackupTimingType", timing);
  if (entry != 2) settings.saveParameter("BackupOnSetTime", false);
  host_.sendSettings("Save backup timing - authorise fail");

  if (timing == 0) {
    dropBackupTimer();
  } else if (timing == LocalSettings::kTimingContinuous) {
    if (auto timer = backupTimer()) timer->invalidate();
    if (!backuping) armContinuous();
  } else {
    if (!settings.backupTimingTime()) settings.setBackupTimingTime(Date::now());
    settings.save();
    dropBackupTimer();
    if (timingTimePassed()) {
      setDailyTimer();
    } else {
      addDailyTimerOnce();
      logNextDate(*settings.backupTimingTime());
    }
  }
  return true;
}

void BackupScheduler::backupOnSetTimeChanged(bool checked) {
  LocalSettings::sharedManager().saveParameter("BackupOnSetTime", checked);
  host_.sendSettings("Save daily backup time - authorise fail");
}

void BackupScheduler::dailyTimeChanged(Date picked) {
  dropBackupTimer();
  auto& settings = LocalSettings::sharedManager();
  std::tm today = localComponents(Date::now());
  std::tm time = localComponents(picked);
  Date next =
      Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, time.tm_hour, time.tm_min, 0);
  settings.setBackupTimingTime(next);
  settings.save();
  host_.sendSettings("Save daily backup time - authorise fail");
  if (timingTimePassed()) {
    setDailyTimer();
  } else {
    addDailyTimerOnce();
    logNextDate(next);
  }
}

Timer::Handle& BackupScheduler::slotLocked(Slot slot) {
  switch (slot) {
    case Slot::kRestart:
      return restartTimer_;
    case Slot::kEmergency:
      return emergencyTimer_;
    case Slot::kUpdate:
      break;
  }
  return updateTimer_;
}

void BackupScheduler::replace(Slot slot, Timer::Handle timer) {
  std::lock_guard lock(mutex_);
  Timer::Handle& held = slotLocked(slot);
  if (held) held->invalidate();
  held = std::move(timer);
}

void BackupScheduler::armIfIdle(Slot slot, const std::function<Timer::Handle()>& make) {
  std::lock_guard lock(mutex_);
  Timer::Handle& held = slotLocked(slot);
  if (!held || !held->isValid()) held = make();
}

void BackupScheduler::keepPeriodic(Timer::Handle timer) {
  std::lock_guard lock(mutex_);
  periodicTimers_.push_back(std::move(timer));
}

void BackupScheduler::stopAll() {
  std::lock_guard lock(mutex_);
  for (auto* timer : {&backupTimer_, &updateTimer_, &restartTimer_, &emergencyTimer_}) {
    if (*timer) (*timer)->invalidate();
  }
  for (auto& timer : periodicTimers_) timer->invalidate();
}

}  // namespace palvero
