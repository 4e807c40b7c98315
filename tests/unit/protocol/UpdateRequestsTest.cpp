#include <sys/stat.h>

#include <filesystem>

#include "ProtocolTestSupport.h"
#include "engine/format/ZipWriter.h"
#include "platform/SystemInfo.h"
#include "support/AsyncWork.h"

namespace fs = std::filesystem;

namespace palvero::testing {
namespace {

// --- Version comparison -----------------------------------------------------------

TEST(VersionComparisonTest, ComparesFourNumbers) {
  struct Case {
    std::string server;
    std::string local;
    bool newer;
  };
  for (const Case& c :
       {Case{"2.0.0.10", "2.0.0.9", true}, Case{"10.0.0.0", "9.9.9.9", true}, Case{"2.0.0.9", "2.0.0.9", false},
        Case{"2.0.0.8", "2.0.0.9", false}, Case{"2.1.0.0", "2.0.9.99", true}, Case{"2.0", "1.0.0.0", false},
        Case{"3.0.0.0.1", "1.0.0.0", false}, Case{"3.0.0.x", "1.0.0.0", false}, Case{"3..0.0", "1.0.0.0", false},
        Case{"-3.0.0.0", "1.0.0.0", false}, Case{"2.0.0.10\n", "2.0.0.9", true}, Case{"9.0.0.0", "local", false},
        Case{"", "1.0.0.0", false}}) {
    EXPECT_EQ(CommunicationServer::isNewerVersion(c.server, c.local), c.newer) << c.server << " vs " << c.local;
  }
}

class UpdateRequestsTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    LocalSettings::sharedManager().setApplicationVersion("2.0.0.9");
    notifications_ = std::make_unique<NotificationLog>(
        server_.get(), std::vector<std::string>{"CheckVersionOK", "CheckVersionFail", "DownloadUpdateOK",
                                                "DownloadUpdateFail", "LogsSentOK", "LogsSentFail"});
  }
  std::vector<std::string> posted() const { return notifications_->names(); }
  std::string support() const { return Env::supportDirectory(); }

  static std::string archive(const std::vector<std::pair<std::string, std::string>>& entries) {
    Bytes out;
    ZipWriter writer;
    EXPECT_TRUE(writer.openMemory(out));
    for (const auto& [name, content] : entries) {
      Bytes data = bytesFromString(content);
      EXPECT_TRUE(writer.addEntry(name, data, Date::now()));
    }
    EXPECT_TRUE(writer.close());
    return stringFromBytes(out);
  }

  void download(const HttpResponse& answer) {
    transport_->push(answer);
    server_->downloadUpdate(SystemInfo::kDeviceType);
    settleAsyncWork();
  }

  std::unique_ptr<NotificationLog> notifications_;
};

TEST_F(UpdateRequestsTest, TheSynchronousCheckReturnsTheTextEvenWhenItIsNotAVersion) {
  struct Case {
    HttpResponse answer;
    bool newer;
    std::string text;
  };
  for (const Case& c : {Case{reply(200, "2.1"), false, "2.1"}, Case{reply(500, "boom"), false, "Can't check version"},
                        Case{transportError(-1009), false, "Can't check version"}}) {
    SCOPED_TRACE(describe(c.answer));
    transport_->push(c.answer);
    std::string text = "unset";
    EXPECT_EQ(server_->syncCheckVersion(31, text), c.newer);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(transport_->sent().back().body, "request=check_version&guid=GUID-1&type=31");
  }
}

TEST_F(UpdateRequestsTest, TheAsynchronousCheckPostsOnlyANewerVersionOrAFailure) {
  struct Case {
    HttpResponse answer;
    std::vector<std::string> notifications;
  };
  for (const Case& c : {Case{reply(200, "2.0.0.10"), {"CheckVersionOK"}}, Case{reply(200, "2.0.0.9"), {}},
                        Case{reply(200, "10.0"), {}}, Case{reply(503, ""), {"CheckVersionFail"}}}) {
    SCOPED_TRACE(describe(c.answer));
    NotificationLog log(server_.get(), {"CheckVersionOK", "CheckVersionFail"});
    transport_->push(c.answer);
    server_->checkVersion(31);
    settleAsyncWork();
    EXPECT_EQ(log.names(), c.notifications);
  }
  EXPECT_EQ(notifications_->userInfo("CheckVersionOK"), (Value{{"version", "2.0.0.10"}}));
}

TEST_F(UpdateRequestsTest, DownloadsThatPutNothingInPlace) {
  struct Case {
    std::string name;
    HttpResponse answer;
    std::vector<std::string> notifications;
  };
  for (const Case& c : {Case{"empty body", reply(200, ""), {}}, Case{"not an archive", reply(200, "garbage"), {}},
                        Case{"no updater inside", reply(200, archive({{"other", "x"}})), {}},
                        Case{"404", reply(404, "no update"), {"DownloadUpdateFail"}}}) {
    SCOPED_TRACE(c.name);
    NotificationLog log(server_.get(), {"DownloadUpdateOK", "DownloadUpdateFail"});
    download(c.answer);
    EXPECT_EQ(log.names(), c.notifications);
    EXPECT_FALSE(fs::exists(support() + "/PalveroUpdater.app"));
    EXPECT_FALSE(fs::exists(support() + "/updater.zip"));
  }
}

// --- Log upload -----------------------------------------------------------------

class LogUploadTest : public UpdateRequestsTest {
 protected:
  void SetUp() override {
    UpdateRequestsTest::SetUp();
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "something to send", kLogEvent);
  }
};

TEST_F(LogUploadTest, OutcomesAndSilence) {
  struct Case {
    std::string name;
    std::vector<HttpResponse> replies;
    bool silent;
    std::vector<std::string> notifications;
  };
  for (const Case& c :
       {Case{"refused", {reply(200, "no")}, false, {"LogsSentFail"}},
        Case{"silent refusal", {reply(500, "")}, true, {}}, Case{"silent ok", {reply(200, "ok")}, true, {}},
        Case{"silent after renewal", {reply(401, ""), authOk(), reply(200, "ok")}, true, {}},
        Case{"refused renewal", {reply(401, ""), reply(200, "wrongpas")}, false, {}}}) {
    SCOPED_TRACE(c.name);
    NotificationLog log(server_.get(), {"LogsSentOK", "LogsSentFail"});
    for (const auto& r : c.replies) transport_->push(r);
    size_t before = transport_->count();
    server_->sendLogsWithMessage("m", c.silent);
    settleAsyncWork();
    EXPECT_EQ(log.names(), c.notifications);
    EXPECT_EQ(transport_->count() - before, c.replies.size());
  }
}

TEST_F(LogUploadTest, AMissingLogIsSentEmptyButAnUnreadableOneIsAFailure) {
  std::string path = LogWriter::sharedLogger().currentLogFilepath();
  fs::remove(path);
  transport_->push(reply(200, "ok"));
  server_->sendLogsWithMessage("m", false);
  settleAsyncWork();
  EXPECT_EQ(posted(), std::vector<std::string>{"LogsSentOK"});
  ASSERT_EQ(transport_->count(), 1u);
  auto parts = parseMultipart(transport_->sent()[0].body.substr(2), boundaryOf(transport_->sent()[0]));
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[4].content, "");

  fs::create_directories(path);
  server_->sendLogsWithMessage("m", false);
  settleAsyncWork();
  EXPECT_EQ(posted(), (std::vector<std::string>{"LogsSentOK", "LogsSentFail"}));
  EXPECT_EQ(transport_->count(), 1u);
  fs::remove(path);
}

TEST(SystemInfoTest, TheOperatingSystemTextTakesTheKernelNumbers) {
  EXPECT_EQ(SystemInfo::operatingSystemTextForRelease("6.1.0-18-amd64"), "Linux 6.1.0");
  EXPECT_EQ(SystemInfo::operatingSystemTextForRelease("5.15.133.1-microsoft-standard-WSL2"), "Linux 5.15.133");
  EXPECT_EQ(SystemInfo::operatingSystemTextForRelease("6.8"), "Linux 6.8.0");
  EXPECT_EQ(SystemInfo::operatingSystemTextForRelease("weird"), "Linux 0.0.0");
  EXPECT_EQ(SystemInfo::operatingSystemText().rfind("Linux ", 0), 0u);
}

}  // namespace
}  // namespace palvero::testing
