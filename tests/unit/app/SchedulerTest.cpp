// The scheduler, the emergency stop and start, the watchdog and the status
// check's rows, on the fake clock.
#include "AppTestSupport.h"
#include "platform/PreferencesStore.h"
#include "protocol/WorkerActivity.h"

namespace palvero::testing {
namespace {

class SchedulerTest : public AppFixture {
 protected:
  // The fake clock set to today's `hour`:`minute` (local time) of its own date.
  void setClockToLocalTime(int hour, int minute) {
    Date now = clock_->now();
    time_t seconds = static_cast<time_t>(now.timeIntervalSince1970());
    std::tm tm{};
    localtime_r(&seconds, &tm);
    clock_->setWallTime(Date::fromLocalComponents(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, hour, minute, 0));
  }
  static std::tm local(const Date& date) {
    time_t seconds = static_cast<time_t>(date.timeIntervalSince1970());
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return tm;
  }
};

TEST_F(SchedulerTest, ContinuousTimingRefusesWithin900SecondsOfTheLastStart) {
  queueFiles(2);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingContinuous);
  settings.save();
  auto& controller = makeController(1);
  for (double ago : {600.0, 899.0, 901.0}) {
    SCOPED_TRACE(ago);
    settings.setDateBackupStarted(Clock::current()->now().addingTimeInterval(-ago));
    controller.startAutoBackup();
    if (ago < 900) {
      EXPECT_FALSE(controller.backuping());
      EXPECT_TRUE(logged("Start auto backup not fired because of time since last backup is less than 900"));
      EXPECT_EQ(script_->startedCount(), 0u);
    } else {
      ASSERT_TRUE(runEnded()) << lastLogLines();
      EXPECT_EQ(script_->startedCount(), 2u);
    }
  }
}

TEST_F(SchedulerTest, ContinuousTimerFiresEveryTenSecondsAndIsReArmedAfterTheRun) {
  queueFiles(1);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingContinuous);
  settings.save();
  auto& controller = makeController(1);
  auto timer = controller.backupTimer();
  ASSERT_TRUE(timer && timer->isValid() && timer->repeats());
  advance(std::chrono::seconds(10));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 1u);
  loop_->runPending();
  auto rearmed = controller.backupTimer();
  ASSERT_TRUE(rearmed && rearmed->isValid() && rearmed->repeats());
  EXPECT_NE(rearmed, timer);
}

TEST_F(SchedulerTest, DailyAt2130SetAt2200ArmsTomorrowAt2130) {
  setClockToLocalTime(22, 0);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingDaily);
  Date now = clock_->now();
  std::tm today = local(now);
  settings.setBackupTimingTime(
      Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, 21, 30, 0));
  settings.save();
  auto& controller = makeController(1);
  controller.setDailyTimer();
  auto stored = LocalSettings::sharedManager().backupTimingTime();
  ASSERT_TRUE(stored);
  std::tm next = local(*stored);
  std::tm tomorrow = local(now.addingTimeInterval(86400));
  EXPECT_EQ(next.tm_hour, 21);
  EXPECT_EQ(next.tm_min, 30);
  EXPECT_EQ(next.tm_mday, tomorrow.tm_mday);
  EXPECT_EQ(next.tm_mon, tomorrow.tm_mon);
  auto timer = controller.backupTimer();
  ASSERT_TRUE(timer && timer->isValid());
  EXPECT_FALSE(timer->repeats());
  EXPECT_NEAR(timer->fireDate().timeIntervalSince(*stored), 0, 1);
  EXPECT_TRUE(logged("Next backup date is: "));
  PreferencesStore::resetForTesting();
  LocalSettings::resetForTesting();
  EXPECT_EQ(LocalSettings::sharedManager().backupTimingTime(), stored) << "stored as BackupTimingTime";
  EXPECT_TRUE(runUntil([&] {
    std::lock_guard lock(server_->mutex);
    return !server_->savedSettings.empty();
  }));
}

TEST_F(SchedulerTest, OfflineDailyStartLeavesAOneShotTimerAndRetriesLater) {
  queueFiles(1);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingDaily);
  settings.setBackupOnSetTime(false);
  settings.setBackupTimingTime(clock_->now().addingTimeInterval(5));
  settings.save();
  auto& controller = makeController(1);
  controller.setStatusForTesting(true, 0);
  advance(std::chrono::seconds(6));  // the daily firing, offline
  EXPECT_EQ(script_->startedCount(), 0u);
  auto timer = controller.backupTimer();
  ASSERT_TRUE(timer && timer->isValid()) << "a later firing tries again";
  EXPECT_FALSE(timer->repeats());
  // Not at once again and again: the retry waits.
  loop_->runPending();
  EXPECT_EQ(controller.backupTimer(), timer);
  controller.setStatusForTesting(true, 2);
  advance(std::chrono::seconds(61));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 1u);
  // The daily date moved on to the next day.
  EXPECT_GT(LocalSettings::sharedManager().backupTimingTime()->timeIntervalSince(clock_->now()), 3600);
}

// A wake during a run stops it; the restart is retried every five seconds
// until startBackup accepts, and the run then finishes every file.
TEST_F(SchedulerTest, WakeDuringARunStopsItAndRetriesTheStartEveryFiveSeconds) {
  auto paths = queueFiles(3);
  auto& controller = makeController(1);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1; }));
  controller.setStatusForTesting(false, 0);  // offline after the wake
  hooks_.inSleep = true;
  NotificationCenter::defaultCenter().post("EmergencyStop");
  EXPECT_TRUE(logged("emergencyStop fired for backup"));
  EXPECT_FALSE(hooks_.inSleep.load());
  script_->holdAll(false);
  ASSERT_TRUE(runUntil([&] { return !controller.anyWorkerActive(); }));
  EXPECT_TRUE(controller.backupEmergencyStopped());
  const std::string retry = "emergencyStart not fired, because startBackup method returned false, will try once again";
  size_t before = loggedTextsStartingWith(retry).size();
  EXPECT_GE(before, 1u);
  for (int i = 1; i <= 4; ++i) {
    advance(std::chrono::milliseconds(4900));
    EXPECT_EQ(loggedTextsStartingWith(retry).size(), before + i - 1) << "not before 5 seconds";
    advance(std::chrono::milliseconds(100));
    EXPECT_EQ(loggedTextsStartingWith(retry).size(), before + i) << "one retry per 5 seconds";
  }
  controller.setStatusForTesting(true, 2);
  advance(std::chrono::seconds(5));
  EXPECT_TRUE(logged("emergencyStart fired"));
  EXPECT_FALSE(controller.backupEmergencyStopped());
  ASSERT_TRUE(runUntil([&] { return view_.runCount() == 2 && !controller.anyWorkerActive(); })) << lastLogLines();
  for (const auto& path : paths) EXPECT_EQ(statusOf(path), -1) << path;
}

TEST_F(SchedulerTest, WatchdogRestartsAWorkerSilentFor361SecondsButNot359) {
  auto paths = queueFiles(2);
  auto& controller = makeController(1);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1; }));
  auto worker = ThreadWorker::sharedThreadWorker().backupThreads().at(0);
  const std::string frozen = "checkIfAppIsAlive method has shown that one of the backup threads is frozen";

  worker->setLastRequestDate(clock_->now().addingTimeInterval(-359));
  controller.checkIfAppIsAlive();
  loop_->runPending();
  EXPECT_FALSE(logged(frozen));
  EXPECT_FALSE(controller.isPaused());

  worker->setLastRequestDate(clock_->now().addingTimeInterval(-361));
  controller.checkIfAppIsAlive();
  loop_->runPending();
  EXPECT_TRUE(logged(frozen));
  EXPECT_TRUE(controller.isPaused()) << "paused at once";
  EXPECT_TRUE(worker->deltaHandler->Cancel());
  script_->holdAll(false);
  ASSERT_TRUE(runUntil([&] { return !controller.anyWorkerActive(); }));
  script_->holdAll(true);
  // Ten seconds later the run resumes with new workers, without a frozen main thread meanwhile.
  advance(std::chrono::seconds(9));
  EXPECT_TRUE(controller.isPaused());
  advance(std::chrono::seconds(1));
  EXPECT_FALSE(controller.isPaused()) << lastLogLines();
  EXPECT_TRUE(controller.backuping());
  EXPECT_NE(ThreadWorker::sharedThreadWorker().backupThreads().at(0), worker) << "workers re-created";
  script_->holdAll(false);
  ASSERT_TRUE(runUntil([&] { return view_.runCount() == 2 && !controller.anyWorkerActive(); })) << lastLogLines();
  for (const auto& path : paths) EXPECT_EQ(statusOf(path), -1);
}

TEST_F(SchedulerTest, StampFromTheRequestLayerKeepsAWorkerAlive) {
  queueFiles(1);
  auto& controller = makeController(1);
  script_->holdAll(true);
  // The request layer stamps from the worker's own thread (after an upload).
  script_->setBeforeReport([](const std::string&) { WorkerActivity::stamp(WorkerActivity::Kind::kBackup); });
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1; }));
  auto worker = ThreadWorker::sharedThreadWorker().backupThreads().at(0);
  worker->setLastRequestDate(clock_->now().addingTimeInterval(-1000));
  // A stamp from a thread that is no worker's changes nothing.
  WorkerActivity::stamp(WorkerActivity::Kind::kBackup);
  EXPECT_LT(worker->lastRequestDate(), clock_->now().addingTimeInterval(-900));
  script_->holdAll(false);
  ASSERT_TRUE(runEnded());
  EXPECT_GE(worker->lastRequestDate(), clock_->now().addingTimeInterval(-1));
}

TEST_F(SchedulerTest, CheckStatusRows) {
  auto& controller = makeController(1);
  server_->ping = 0;
  controller.checkStatusNow();
  auto rows = controller.checkStatusModel();
  EXPECT_EQ(rows.server.text, "Offline");
  EXPECT_STREQ(rows.server.image(), "backup_not_backed_up_icon.png");
  EXPECT_FALSE(rows.statusOK);

  server_->ping = 2;
  {
    std::lock_guard lock(server_->mutex);
    server_->newVersion = true;
    server_->versionText = "2.2.0.0";
  }
  controller.checkStatusNow();
  rows = controller.checkStatusModel();
  EXPECT_EQ(rows.server.text, "OK");
  EXPECT_EQ(rows.version.text, "New version is available 2.2.0.0");
  EXPECT_FALSE(controller.statusOK());

  {
    std::lock_guard lock(server_->mutex);
    server_->newVersion = false;
  }
  LocalSettings::sharedManager().setDateBackupStarted(clock_->now().addingTimeInterval(-2592001));
  controller.checkStatusNow();
  rows = controller.checkStatusModel();
  EXPECT_EQ(rows.version.text, "System is up to date 2.2.0.0");
  EXPECT_EQ(rows.lastBackup.text, "Last backup was more than 30 days");
  EXPECT_FALSE(rows.lastBackup.ok);
  EXPECT_EQ(rows.failedFiles.text, "No failed files");
  EXPECT_FALSE(rows.failedFiles.enabled);
  EXPECT_TRUE(controller.statusOK()) << "an old backup does not forbid runs";
}

}  // namespace
}  // namespace palvero::testing
