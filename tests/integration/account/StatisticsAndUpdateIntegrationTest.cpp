#include <sys/stat.h>

#include <filesystem>

#include "AccountFixture.h"
#include "engine/format/ZipWriter.h"
#include "platform/Env.h"
#include "platform/SystemInfo.h"
#include "state/LogWriter.h"

namespace fs = std::filesystem;

namespace palvero::testing {
namespace {

class StatisticsIntegrationTest : public AccountFixture {
 protected:
  void SetUp() override {
    AccountFixture::SetUp();
    ServiceProcess::Options options;
    options.extraArgs = {"--support-organisation", "Acme IT", "--support-email", "help@acme.test"};
    start(options);
    device_ = enrol();
  }
  ServiceProcess::Credentials device_;
};

TEST_F(StatisticsIntegrationTest, SizesAreCountedPerCategoryFromTheLatestRevisions) {
  upload("/home/ann/a.jpg", 100, "20240131 17:05:09");
  upload("/home/ann/a.jpg", 150, "20240131 17:05:09");
  upload("/home/ann/b.mp3", 200, "20240131 17:05:09");
  upload("/home/ann/c.docx", 300, "20240131 17:05:09");
  upload("/home/ann/d.iso", 400, "20240131 17:05:09");
  upload("/home/ann/e.eml", 50, "20240131 17:05:09");
  upload("/home/ann/f.mkv", 600, "20240131 17:05:09");
  upload("/home/ann/gone.png", 1000, "20240131 17:05:09");
  markDeleted("/home/ann/gone.png");
  auto sizes = server_->getStatisticByCategories();
  ASSERT_TRUE(sizes);
  EXPECT_EQ(sizes->at("pictures"), 150);
  EXPECT_EQ(sizes->at("music"), 200);
  EXPECT_EQ(sizes->at("documents"), 300);
  EXPECT_EQ(sizes->at("other"), 400);
  EXPECT_EQ(sizes->at("email"), 50);
  EXPECT_EQ(sizes->at("video"), 600);
  EXPECT_EQ(sizes->at("total_used"), 1700);
  EXPECT_EQ(sizes->at("total_files_count"), 6);
}

TEST_F(StatisticsIntegrationTest, TheLargestFilesComePagedByCategory) {
  for (int i = 1; i <= 12; ++i) upload("/home/ann/p" + std::to_string(i) + ".png", i * 10, "20240131 17:05:09");
  upload("/home/ann/big.iso", 5000, "20240131 17:05:09");
  auto other = server_->getTop10Files("Other", 0);
  ASSERT_TRUE(other);
  EXPECT_EQ(*other, (Value::array({{{"name", "/home/ann/big.iso"}, {"size", 5000}}})));
  EXPECT_EQ(service_->requests("get_top10")[0]["fields"]["category"], "others");
  auto first = server_->getTop10Files("pictures", 0);
  auto second = server_->getTop10Files("pictures", 1);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->size(), 10u);
  EXPECT_EQ((*first)[0]["name"], "/home/ann/p12.png");
  ASSERT_EQ(second->size(), 2u);
  EXPECT_EQ((*second)[1]["size"], 10);
}

TEST_F(StatisticsIntegrationTest, TheSupportContactIsStored) {
  NotificationLog log(server_.get(), {"GetSupportInfoOK", "GetSupportInfoFail"});
  server_->getSupportInfo();
  ASSERT_TRUE(runMainLoopUntil([&] { return log.size() == 1; }));
  EXPECT_EQ(log.names(), std::vector<std::string>{"GetSupportInfoOK"});
  EXPECT_EQ(LocalSettings::sharedManager().support(), "Acme IT");
  EXPECT_EQ(LocalSettings::sharedManager().supportEmail(), "help@acme.test");
  EXPECT_EQ(kinds(),
            (std::vector<std::string>{"register", "register_device", "get_support_info", "auth", "get_support_info"}));
}

class UpdateIntegrationTest : public AccountFixture {
 protected:
  // Starts a service that offers `version` and the archive of `entries`.
  void startOffering(const std::string& version, const std::vector<std::pair<std::string, std::string>>& entries) {
    Bytes out;
    ZipWriter writer;
    ASSERT_TRUE(writer.openMemory(out));
    for (const auto& [name, content] : entries) ASSERT_TRUE(writer.addEntry(name, bytesFromString(content), Date()));
    ASSERT_TRUE(writer.close());
    archivePath_ = home_ / "offered.zip";
    writeFile(archivePath_, stringFromBytes(out));
    ServiceProcess::Options options;
    options.extraArgs = {"--client-version", version, "--updater", archivePath_};
    start(options);
    device_ = enrol();
    LocalSettings::sharedManager().setApplicationVersion("2.0.0.9");
    notifications_ = std::make_unique<NotificationLog>(
        server_.get(), std::vector<std::string>{"CheckVersionOK", "CheckVersionFail", "DownloadUpdateOK",
                                                "DownloadUpdateFail", "LogsSentOK", "LogsSentFail"});
  }
  std::string support() const { return Env::supportDirectory(); }

  std::string archivePath_;
  ServiceProcess::Credentials device_;
  std::unique_ptr<NotificationLog> notifications_;
};

TEST_F(UpdateIntegrationTest, ANewerVersionIsFoundDownloadedAndPutInPlace) {
  startOffering("2.0.0.10", {{"PalveroUpdater.app", "#!/bin/sh\nexit 0\n"}});
  std::string text;
  EXPECT_TRUE(server_->syncCheckVersion(SystemInfo::kDeviceType, text));
  EXPECT_EQ(text, "2.0.0.10");
  EXPECT_EQ(service_->requests("check_version").back()["fields"]["type"], "31");
  server_->checkVersion(SystemInfo::kDeviceType);
  ASSERT_TRUE(runMainLoopUntil([&] { return notifications_->size() == 1; }));
  server_->downloadUpdate(SystemInfo::kDeviceType);
  ASSERT_TRUE(runMainLoopUntil([&] { return notifications_->size() == 2; }));
  EXPECT_EQ(notifications_->names(), (std::vector<std::string>{"CheckVersionOK", "DownloadUpdateOK"}));
  std::string updater = support() + "/PalveroUpdater.app";
  EXPECT_EQ(readFile(updater), "#!/bin/sh\nexit 0\n");
  struct stat st {};
  ASSERT_EQ(::stat(updater.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(UpdateIntegrationTest, AHostileUpdaterLeavesNothingOutsideItsFolder) {
  startOffering("9.0.0.0", {{"PalveroUpdater.app", "x"}, {"../../x", "escaped"}});
  ASSERT_TRUE(server_->syncAuthorise());
  server_->downloadUpdate(31);
  ASSERT_TRUE(runMainLoopUntil([&] { return service_->requests("download_update").size() == 1; }));
  settleAsyncWork();
  EXPECT_TRUE(notifications_->names().empty());
  EXPECT_FALSE(fs::exists(support() + "/PalveroUpdater.app"));
  EXPECT_FALSE(fs::exists(fs::path(support()).parent_path() / "x"));
  EXPECT_FALSE(fs::exists(fs::path(support()).parent_path().parent_path() / "x"));
  EXPECT_FALSE(fs::exists(support() + "/Updater"));
}

TEST_F(UpdateIntegrationTest, LogsReachTheServiceWholeWithTheSystemAndMessage) {
  startOffering("2.0.0.9", {{"PalveroUpdater.app", "x"}});
  for (int i = 0; i < 200; ++i) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "line " + std::to_string(i), kLogEvent);
  }
  std::string sentLog = readFile(LogWriter::sharedLogger().currentLogFilepath());
  server_->sendLogsWithMessage("Backup stops at 90% & hangs", false);
  ASSERT_TRUE(runMainLoopUntil([&] { return notifications_->size() == 1; }));
  EXPECT_EQ(notifications_->names(), std::vector<std::string>{"LogsSentOK"});
  auto logs = reportsOf("send_logs");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0]["owner"], device_.clientId);
  EXPECT_EQ(logs[0]["fields"]["osVersion"], SystemInfo::operatingSystemText());
  EXPECT_EQ(logs[0]["fields"]["message"], "Backup stops at 90% & hangs");
  EXPECT_EQ(logs[0]["fields"]["filename"],
            fs::path(LogWriter::sharedLogger().currentLogFilepath()).filename().string());
  std::string stored = readFile(service_->dataDir() + "/" + logs[0]["fields"]["stored"].get<std::string>());
  EXPECT_EQ(stored.substr(0, sentLog.size()), sentLog);
  EXPECT_GE(stored.size(), sentLog.size());
}

}  // namespace
}  // namespace palvero::testing
