#include <filesystem>

#include "AccountFixture.h"

namespace palvero::testing {
namespace {

class SettingsIntegrationTest : public AccountFixture {
 protected:
  void SetUp() override {
    AccountFixture::SetUp();
    start();
    device_ = enrol();
    ASSERT_TRUE(server_->syncAuthorise());
    notifications_ = std::make_unique<NotificationLog>(
        server_.get(), std::vector<std::string>{"LoadSettingsOK", "LoadSettingsFail", "LoadExclusionsOK",
                                                "LoadExclusionsFail", "LogsSentOK", "LogsSentFail"});
  }
  // Runs one asynchronous load until its notification and the work it started are done.
  std::vector<std::string> await(size_t count) {
    runMainLoopUntil([&] { return notifications_->size() >= count; });
    settleAsyncWork();
    return notifications_->names();
  }
  CommonExtensions& extensions() { return CommonExtensions::sharedExtensionsManager(); }

  ServiceProcess::Credentials device_;
  std::unique_ptr<NotificationLog> notifications_;
};

TEST_F(SettingsIntegrationTest, TheDailyTimeRoundTripsAsTodayAtThatTime) {
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingDaily);
  settings.setBackupTimingTime(Date::fromLocalComponents(2023, 5, 6, 21, 30, 0));
  ASSERT_TRUE(server_->saveSettings("backup"));
  Value saved = service_->savedSettings(device_.clientId, "backup");
  EXPECT_EQ(saved["BackupTimingTime"], "21:30:00");
  EXPECT_EQ(saved["BackupTimingType"], "3");

  settings.setBackupTimingType(LocalSettings::kTimingManual);
  settings.setBackupTimingTime(std::nullopt);
  server_->loadSettings("backup");
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadSettingsOK"});
  std::string today = Date::now().format("yyyyMMdd");
  ASSERT_TRUE(settings.backupTimingTime());
  EXPECT_EQ(settings.backupTimingTime()->format(Date::kSettingsPattern), today + " 21:30:00");
  EXPECT_EQ(settings.backupTimingType(), LocalSettings::kTimingDaily);
}

TEST_F(SettingsIntegrationTest, AnOrderForLogsSendsThemSilently) {
  service_->setAdminSettings("ann", "backup", R"({"OrderLogs": false, "BackupTimingType": "1"})");
  server_->loadSettings("backup");
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadSettingsOK"});
  ASSERT_TRUE(runMainLoopUntil([&] { return !reportsOf("send_logs").empty(); }));
  auto logs = reportsOf("send_logs");
  EXPECT_EQ(logs[0]["owner"], device_.clientId);
  EXPECT_EQ(logs[0]["fields"]["message"], "Logs requested from service");
  settleAsyncWork();
  EXPECT_EQ(notifications_->names(), std::vector<std::string>{"LoadSettingsOK"});
  EXPECT_EQ(LocalSettings::sharedManager().backupTimingType(), 1);
}

TEST_F(SettingsIntegrationTest, ServerOrdersReachTheCatalogueAndTheHardwareIdsAreSent) {
  service_->setAdminSettings("ann", "clientfull",
                             R"({"NeedFullBackup": "true", "BackupHiddenFiles": true, "TARQDetailsRequired": 1})");
  server_->loadSettings("clientfull");
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadSettingsOK"});
  EXPECT_TRUE(extensions().needFullBackup());
  EXPECT_TRUE(extensions().backupHiddenFiles());
  ASSERT_TRUE(runMainLoopUntil([&] { return !reportsOf("send_serial_numbers").empty(); }));
  EXPECT_EQ(reportsOf("send_serial_numbers")[0]["owner"], device_.clientId);
  EXPECT_EQ(LocalSettings::sharedManager().username(), "ann");
}

TEST_F(SettingsIntegrationTest, NoStoredExclusionsChangeNothing) {
  std::string before = extensions().exclusionsToJSON();
  server_->loadExclusions();
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadExclusionsFail"});
  EXPECT_EQ(extensions().exclusionsToJSON(), before);
}

TEST_F(SettingsIntegrationTest, AdministratorPlaceholdersAndExtensionsAreApplied) {
  std::filesystem::create_directories(home_ / "Documents");
  service_->setAdminSettings("ann", "exclusions", R"({"Exclusions": {
      "includefolders": ["<Documents>", "C:\\Users\\Public"],
      "items": {"externalhdid": true, "externalhd": true, "size": 52428800,
                "extensions": {"picture": [".jpg", ".png"], "video": []}}}})");
  server_->loadExclusions();
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadExclusionsOK"});
  EXPECT_EQ(extensions().foldersToBeExcludedFromBackup(), std::vector<std::string>{home_ / "Documents"});
  EXPECT_EQ(extensions().picture(), ".jpg;.png;");
  EXPECT_EQ(extensions().pictureValues(), (Value{{".JPG", true}, {".PNG", true}}));
  EXPECT_FALSE(extensions().video());
  EXPECT_TRUE(extensions().externalhd());
  EXPECT_FALSE(extensions().externalhdid());
  EXPECT_EQ(extensions().selection()->maxSizeBytes(), 52428800);

  // Saved and read again after a restart of the catalogue.
  CommonExtensions::resetForTesting();
  EXPECT_EQ(extensions().picture(), ".jpg;.png;");
  EXPECT_EQ(extensions().foldersToBeExcludedFromBackup(), std::vector<std::string>{home_ / "Documents"});
}

TEST_F(SettingsIntegrationTest, SavedExclusionsComeBackWithTheAdministratorsOnTop) {
  std::filesystem::create_directories(home_ / "Desktop");
  std::filesystem::create_directories(home_ / "Music");
  extensions().setFoldersToBeExcludedFromBackup({home_ / "Music"});
  extensions().setPicture(".gif;");
  extensions().setPictureValues({{".GIF", true}});
  extensions().setEmptyfiles(true);
  ASSERT_TRUE(server_->saveSettings("exclusions"));
  Value saved = service_->savedSettings(device_.clientId, "exclusions");
  EXPECT_TRUE(saved["Exclusions"]["items"]["size"].is_null());
  service_->setAdminSettings("ann", "exclusions", R"({"Exclusions": {"excludefolders": ["<Desktop>"]}})");

  extensions().setFoldersToBeExcludedFromBackup({});
  extensions().setPicture(std::nullopt);
  extensions().setPictureValues(Value::object());
  extensions().setEmptyfiles(false);
  server_->loadExclusions();
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadExclusionsOK"});
  EXPECT_EQ(extensions().foldersToBeExcludedFromBackup(), std::vector<std::string>{home_ / "Music"});
  EXPECT_EQ(extensions().foldersToBeIncludedToBackupSeparately(), std::vector<std::string>{home_ / "Desktop"});
  EXPECT_EQ(extensions().picture(), ".gif;");
  EXPECT_EQ(extensions().pictureValues(), (Value{{".GIF", true}}));
  EXPECT_TRUE(extensions().emptyfiles());
}

TEST_F(SettingsIntegrationTest, AnExpiredSessionIsRenewedForALoad) {
  service_->expireSessions();
  service_->clearLog();
  server_->loadSettings("backup");
  EXPECT_EQ(await(1), std::vector<std::string>{"LoadSettingsOK"});
  EXPECT_EQ(kinds(), (std::vector<std::string>{"load_settings", "auth", "load_settings"}));
}

}  // namespace
}  // namespace palvero::testing
