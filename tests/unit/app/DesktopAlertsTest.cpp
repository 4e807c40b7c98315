// Desktop alerts: a file's fifth failure reaches a notification service on a
// private session bus; storage full holds automatic starts and is told
// once, not at every check; nothing is shown while "showAlerts" is off.
#include <mutex>

#include "AppTestSupport.h"
#include "app/DesktopAlerts.h"
#include "restore/RestoreManager.h"
#ifdef PALVERO_HAVE_SDBUS
#include "support/FakeNotificationServer.h"
#include "support/PrivateBus.h"
#endif

namespace palvero::testing {
namespace {

using Outcome = EngineScript::Outcome;
using Message = DesktopNotifier::Message;

class DesktopAlertsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    LocalSettings::sharedManager().setShowAlerts(true);
  }
  DesktopAlerts::Sender recorder() {
    return [this](const Message& message) {
      std::lock_guard lock(mutex_);
      shown_.push_back(message);
      return true;
    };
  }
  std::vector<Message> shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  void runOnce(MainViewController& controller) {
    {
      std::lock_guard lock(view_.mutex);
      view_.runs.clear();
    }
    ASSERT_TRUE(controller.startBackup());
    ASSERT_TRUE(runEnded()) << lastLogLines();
  }

  std::mutex mutex_;
  std::vector<Message> shown_;  // guarded by mutex_
};

#ifdef PALVERO_HAVE_SDBUS
TEST_F(DesktopAlertsTest, FifthFailureOfAFileReachesTheNotificationServiceOnTheSessionBus) {
  PrivateBus bus(PALVERO_DBUS_DAEMON, "DBUS_SESSION_BUS_ADDRESS");
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  FakeNotificationServer service;
  ASSERT_TRUE(service.owned());
  DesktopAlerts alerts;  // the session bus's notification service
  auto paths = queueFiles(2);
  script_->setOutcome(paths[0], Outcome::kFail);
  auto& controller = makeController(1);
  for (int run = 1; run <= 4; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    runOnce(controller);
    alerts.waitUntilIdle();
    EXPECT_TRUE(service.received().empty()) << "a file that is tried again is no alert yet";
  }
  runOnce(controller);
  ASSERT_TRUE(service.waitFor(1)) << lastLogLines();
  alerts.waitUntilIdle();
  auto got = service.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].summary, "A file could not be backed up");
  EXPECT_NE(got[0].body.find(paths[0]), std::string::npos) << got[0].body;
  EXPECT_EQ(got[0].body.find(paths[1]), std::string::npos) << "the file backed up is not named";
  EXPECT_EQ(got[0].urgency, 2);
  EXPECT_EQ(got[0].appName, "Palvero");
  EXPECT_EQ(got[0].desktopEntry, "com.palvero.desktop");
}
#endif

// The texts of the storage row are StatusFormatterTest's.
TEST_F(DesktopAlertsTest, StorageFullHoldsAutomaticStartsAndIsToldWhenItFillsNotAtEveryCheck) {
  DesktopAlerts alerts(recorder());
  queueFiles(1);
  auto& settings = LocalSettings::sharedManager();
  settings.setLicenseTypeSpace(std::string("10"));
  settings.setBackupTimingType(LocalSettings::kTimingContinuous);
  settings.save();
  auto& controller = makeController(1);
  controller.setTotalUsed(12400000000);
  controller.evaluateCheckStatus();
  controller.evaluateCheckStatus();
  EXPECT_TRUE(controller.storageFull());
  EXPECT_FALSE(controller.checkStatusModel().storage.ok);
  EXPECT_FALSE(controller.statusOK());
  controller.startAutoBackup();
  EXPECT_FALSE(controller.backuping()) << "no automatic start while the storage is full";
  alerts.waitUntilIdle();
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].summary, "Backup storage is full");
  EXPECT_NE(shown()[0].body.find("Used 12.40 GB / 10 GB"), std::string::npos) << shown()[0].body;
  EXPECT_EQ(shown()[0].urgency, DesktopNotifier::Urgency::kCritical);
  // Freed, then full again: told again.
  controller.setTotalUsed(1000);
  controller.evaluateCheckStatus();
  EXPECT_FALSE(controller.storageFull());
  EXPECT_TRUE(controller.checkStatusModel().storage.ok);
  controller.setTotalUsed(12400000000);
  controller.evaluateCheckStatus();
  alerts.waitUntilIdle();
  EXPECT_EQ(shown().size(), 2u);
}

struct TextCase {
  const char* name;
  const char* notification;
  Value userInfo;
  const char* summary;  // "" when nothing is shown
  std::vector<std::string> inBody;
  DesktopNotifier::Urgency urgency;
};

class AlertTextTest : public DesktopAlertsTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(AlertTextTest, PostedNotificationBecomesThisAlert) {
  const TextCase& c = GetParam();
  DesktopAlerts alerts(recorder());
  NotificationCenter::defaultCenter().post(c.notification, nullptr, c.userInfo);
  alerts.waitUntilIdle();
  if (std::string(c.summary).empty()) {
    EXPECT_TRUE(shown().empty());
    return;
  }
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].summary, c.summary);
  for (const auto& part : c.inBody) EXPECT_NE(shown()[0].body.find(part), std::string::npos) << shown()[0].body;
  EXPECT_EQ(shown()[0].urgency, c.urgency);
  EXPECT_FALSE(shown()[0].icon.empty());

  // Switched off: the same notification shows nothing.
  LocalSettings::sharedManager().setShowAlerts(false);
  NotificationCenter::defaultCenter().post(c.notification, nullptr, c.userInfo);
  alerts.waitUntilIdle();
  EXPECT_EQ(shown().size(), 1u);
}

Value manyPaths(int count) {
  Value paths = Value::array();
  for (int i = 0; i < count; ++i) paths.push_back("/home/ann/f" + std::to_string(i));
  return Value{{"paths", paths}};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlertTextTest,
    ::testing::Values(
        TextCase{"SevenFailedFiles", DesktopAlerts::kFilesFailedForGood, manyPaths(7), "7 files could not be backed up",
                 {"/home/ann/f0\n", "/home/ann/f4\n", "and 2 more", "palvero failed --retry"},
                 DesktopNotifier::Urgency::kCritical},
        TextCase{"NoFailedFiles", DesktopAlerts::kFilesFailedForGood, manyPaths(0), "", {},
                 DesktopNotifier::Urgency::kNormal},
        TextCase{"RestoreDone", RestoreManager::kRestoreEnd,
                 Value{{"interrupted", false}, {"failed", 0}, {"restored", 12}}, "Restore finished",
                 {"12 files restored"}, DesktopNotifier::Urgency::kNormal},
        TextCase{"RestoreWithFailures", RestoreManager::kRestoreEnd,
                 Value{{"interrupted", false}, {"failed", 2}, {"restored", 10}}, "Restore finished with failures",
                 {"10 files restored, 2 failed"}, DesktopNotifier::Urgency::kCritical},
        TextCase{"RestorePaused", RestoreManager::kRestoreEnd,
                 Value{{"interrupted", true}, {"failed", 0}, {"restored", 3}}, "", {},
                 DesktopNotifier::Urgency::kNormal},
        TextCase{"ScheduledHeldBack", DesktopAlerts::kScheduledBackupNotStarted,
                 Value{{"reason", "Backups are held back: You have failed files"}},
                 "The scheduled backup did not start", {"You have failed files"}, DesktopNotifier::Urgency::kNormal}),
    [](const ::testing::TestParamInfo<TextCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace palvero::testing
