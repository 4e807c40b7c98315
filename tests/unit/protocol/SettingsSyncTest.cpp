#include <filesystem>

#include "ProtocolTestSupport.h"
#include "engine/format/util/Functions.h"
#include "protocol/ExtensionCatalogue.h"
#include "support/AsyncWork.h"

namespace palvero::testing {
namespace {

// A catalogue that keeps what it is given and records each call.
class RecordingCatalogue : public ExtensionCatalogue {
 public:
  std::string exclusionsToJSON() const override { return R"({"Exclusions":{"items":{"size":(null)}}})"; }
  void checkFoldersForInterceptions() override { calls.push_back("checkFoldersForInterceptions"); }
  std::vector<std::string> adminFolders() const override {
    return {"<Desktop>", "<Documents>", "<Userprofiles>", "<Appdata>", "<Public>", "<userprofile>"};
  }
  std::vector<std::string> foldersToBeExcludedFromBackup() const override { return excluded; }
  std::vector<std::string> foldersToBeIncludedToBackupSeparately() const override { return included; }
  bool saveParameter(const std::string& key, const Value& value) override {
    calls.push_back("saveParameter " + key + " " + value.dump());
    stored[key] = value;
    if (key == "includefolders") excluded = value.get<std::vector<std::string>>();
    if (key == "excludefolders") included = value.get<std::vector<std::string>>();
    return true;
  }
  void setSelectionValues(const std::string& storeKey, const Value& selection) override {
    calls.push_back("setSelectionValues " + storeKey + " " + selection.dump());
    selections[storeKey] = selection;
  }
  bool saveExtensions() override {
    calls.push_back("saveExtensions");
    return true;
  }

  std::vector<std::string> excluded;
  std::vector<std::string> included;
  std::vector<std::string> calls;
  std::map<std::string, Value> stored;
  std::map<std::string, Value> selections;
};

class SettingsSyncTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    catalogue_ = std::make_shared<RecordingCatalogue>();
    ExtensionCatalogue::setCurrent(catalogue_);
    notifications_ = std::make_unique<NotificationLog>(
        server_.get(), std::vector<std::string>{"LoadSettingsOK", "LoadSettingsFail", "LoadExclusionsOK",
                                                "LoadExclusionsFail", "LogsSentOK", "LogsSentFail"});
    // The log upload needs a current log file.
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "settings test", kLogEvent);
  }
  void TearDown() override {
    ExtensionCatalogue::setCurrent(nullptr);
    ProtocolTest::TearDown();
  }

  std::vector<std::string> posted() const { return notifications_->names(); }
  std::string documents() const { return home_.path() + "/Documents"; }

  void loadSettings(const Value& reply, const std::string& type = "backup") {
    transport_->push(::palvero::testing::reply(200, reply.dump()));
    transport_->setFallback([](const SentRequest&) { return ::palvero::testing::reply(200, "ok"); });
    server_->loadSettings(type);
    settleAsyncWork();
  }
  void loadExclusions(const std::string& body) {
    transport_->push(reply(200, body));
    server_->loadExclusions();
    settleAsyncWork();
  }

  std::shared_ptr<RecordingCatalogue> catalogue_;
  std::unique_ptr<NotificationLog> notifications_;
};

// --- saveSettings ---------------------------------------------------------------

TEST_F(SettingsSyncTest, EachTypeSendsItsBodyEncoded) {
  auto& settings = LocalSettings::sharedManager();
  struct Case {
    std::string type;
    std::string body;
  };
  for (const Case& c : {Case{"backup", settings.backupToJSON()}, Case{"clientfull", settings.toJSON(true)},
                        Case{"client", settings.clientToJSON()}, Case{"exclusions", catalogue_->exclusionsToJSON()}}) {
    SCOPED_TRACE(c.type);
    transport_->push(reply(200, "ok", {{"Set-Cookie", "PVSESSID=" + c.type}}));
    catalogue_->calls.clear();
    EXPECT_TRUE(server_->saveSettings(c.type));
    EXPECT_EQ(transport_->sent().back().body,
              "request=save_settings&guid=GUID-1&type=" + c.type + "&data=" + *Functions::UrlEncode(c.body));
    EXPECT_EQ(catalogue_->calls, std::vector<std::string>{"checkFoldersForInterceptions"});
    EXPECT_EQ(server_->cookies().back().value, c.type);
  }
}

TEST_F(SettingsSyncTest, ASaveThatIsNotAcceptedIsLoggedOnceWithoutRetry) {
  for (const auto& answer : {reply(200, "error"), reply(500, "boom"), reply(401, "")}) {
    SCOPED_TRACE(describe(answer));
    size_t before = transport_->count();
    transport_->push(answer);
    EXPECT_FALSE(server_->saveSettings("backup"));
    EXPECT_EQ(transport_->count(), before + 1);
    EXPECT_EQ(logLinesStartingWith("saveSettings FAIL").back(),
              "saveSettings FAIL. Type: backup. Response: " + answer.body +
                  " with status code: " + std::to_string(answer.status));
  }
}

TEST_F(SettingsSyncTest, ExclusionsCannotBeSavedWithoutACatalogue) {
  ExtensionCatalogue::setCurrent(nullptr);
  EXPECT_FALSE(server_->saveSettings("exclusions"));
  EXPECT_FALSE(server_->saveSettings("nonsense"));
  EXPECT_EQ(transport_->count(), 0u);
  EXPECT_EQ(logLinesStartingWith("Exception in method SaveSettings").size(), 2u);
}

// --- loadSettings ---------------------------------------------------------------

TEST_F(SettingsSyncTest, TheServicesPacingIsTakenFromTheReply) {
  loadSettings({{"RequestPause", 0}, {"BackupTimingType", "1"}});
  EXPECT_DOUBLE_EQ(LocalSettings::sharedManager().requestPause(), 0);
  loadSettings({{"RequestPause", "0.25"}});
  EXPECT_DOUBLE_EQ(LocalSettings::sharedManager().requestPause(), 0.25);
  loadSettings({{"BackupTimingType", "1"}});
  EXPECT_DOUBLE_EQ(LocalSettings::sharedManager().requestPause(), 0.25) << "kept while the service says nothing";
}

TEST_F(SettingsSyncTest, ATimeThatIsNoTimeIsLeftOutAndTheRestApplied) {
  LocalSettings::sharedManager().setBackupTimingTime(Date::fromLocalComponents(2024, 1, 1, 8, 0, 0));
  loadSettings({{"BackupTimingTime", "25:99"}, {"BackupTimingType", "1"}});
  EXPECT_EQ(posted(), std::vector<std::string>{"LoadSettingsOK"});
  EXPECT_EQ(LocalSettings::sharedManager().backupTimingType(), 1);
  EXPECT_EQ(LocalSettings::sharedManager().backupTimingTime()->format("HH:mm"), "08:00");
  EXPECT_EQ(logLinesStartingWith("loadSettings FAIL").size(), 1u);
}

TEST_F(SettingsSyncTest, HardwareIdentifiersAreSentOnlyWhenAskedFor) {
  for (const auto& [value, sent] : std::vector<std::pair<Value, bool>>{{true, true}, {"1", true}, {false, false}}) {
    SCOPED_TRACE(value.dump());
    startOver();
    loadSettings({{"TARQDetailsRequired", value}});
    bool asked = transport_->kinds().size() == 2 && transport_->kinds()[1] == "send_serial_numbers";
    EXPECT_EQ(asked, sent);
  }
}

TEST_F(SettingsSyncTest, FailedLoads) {
  struct Case {
    std::string name;
    std::vector<HttpResponse> replies;
    std::vector<std::string> notifications;
    size_t failLines;
  };
  for (const Case& c : {Case{"500", {reply(500, "boom")}, {"LoadSettingsFail"}, 1},
                        Case{"not JSON", {reply(200, "<html>")}, {"LoadSettingsFail"}, 1},
                        Case{"a list", {reply(200, "[]")}, {"LoadSettingsFail"}, 1},
                        Case{"refused renewal", {reply(401, ""), reply(200, "wrongpas")}, {}, 0}}) {
    SCOPED_TRACE(c.name);
    startOver();
    NotificationLog log(server_.get(), {"LoadSettingsOK", "LoadSettingsFail"});
    size_t linesBefore = logLinesStartingWith("loadSettings FAIL").size();
    for (const auto& r : c.replies) transport_->push(r);
    server_->loadSettings("clientfull");
    settleAsyncWork();
    EXPECT_EQ(log.names(), c.notifications);
    EXPECT_EQ(logLinesStartingWith("loadSettings FAIL").size() - linesBefore, c.failLines);
  }
}

// --- loadExclusions -------------------------------------------------------------

TEST_F(SettingsSyncTest, AnUnansweredLoadPostsNothing) {
  for (const auto& answer : {reply(502, "gateway"), transportError(-1009)}) {
    SCOPED_TRACE(describe(answer));
    transport_->push(answer);
    server_->loadExclusions();
    settleAsyncWork();
  }
  EXPECT_TRUE(posted().empty());
  EXPECT_TRUE(catalogue_->calls.empty());
  EXPECT_EQ(logLinesStartingWith("loadExclusions FAIL").size(), 2u);
}

// What the service's catalogue names differently, or not at all, here.
TEST_F(SettingsSyncTest, ExtensionsAreStoredAsListAndSelection) {
  loadExclusions(R"({"Exclusions":{"items":{"extensions":{
      "additional":[".vmc"], "temporary":[".tmp"], "complexFiles":[".app"]},
      "emptyfiles":"1", "emptyextension":false}}})");
  EXPECT_EQ(posted(), std::vector<std::string>{"LoadExclusionsOK"});
  EXPECT_EQ(catalogue_->stored["additional"], ".vmc;");
  EXPECT_EQ(catalogue_->selections.count("additional"), 0u);
  EXPECT_EQ(catalogue_->stored["temporarily"], ".tmp;");
  EXPECT_EQ(catalogue_->selections["temporarily"], (Value{{".TMP", true}}));
  EXPECT_EQ(catalogue_->stored.count("complexFiles"), 0u);
  EXPECT_EQ(catalogue_->stored["emptyfiles"], true);
  EXPECT_EQ(catalogue_->stored["emptyExtension"], false);
  EXPECT_EQ(catalogue_->calls.back(), "saveExtensions");
}

TEST_F(SettingsSyncTest, PlaceholdersResolveAndForeignPathsDropOut) {
  std::filesystem::create_directories(documents());
  std::string body = R"({"Exclusions":{"includefolders":["<Documents>","C:\\Users\\Public","<Appdata>"]}})";
  loadExclusions(body);
  EXPECT_EQ(catalogue_->stored["includefolders"], Value::array({documents()}));
  // Loading the same administrator folders again keeps them.
  loadExclusions(body);
  EXPECT_EQ(catalogue_->stored["includefolders"], Value::array({documents()}));
  EXPECT_EQ(posted(), (std::vector<std::string>{"LoadExclusionsOK", "LoadExclusionsOK"}));
}

TEST_F(SettingsSyncTest, AFolderThatDoesNotExistHereIsNotStored) {
  std::string body = R"({"Exclusions":{"includefolders":["<Documents>"], "excludefolders":["<Desktop>", "/"]}})";
  loadExclusions(body);
  EXPECT_EQ(catalogue_->stored["includefolders"], Value::array());
  EXPECT_EQ(catalogue_->stored["excludefolders"], Value::array({"/"}));
}

TEST_F(SettingsSyncTest, PlaceholdersFollowTheDesktopsUserFolders) {
  writeFile(home_ / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  std::filesystem::create_directories(home_ / "Dokumente");
  std::filesystem::create_directories(home_ / "Documents");
  loadExclusions(R"({"Exclusions":{"includefolders":["<Documents>", "<userprofile>"]}})");
  EXPECT_EQ(catalogue_->stored["includefolders"], Value::array({home_ / "Dokumente", home_.path()}));
}

TEST_F(SettingsSyncTest, CheckAdminFoldersSkipsFoldersTheListsHold) {
  catalogue_->excluded = {documents()};
  catalogue_->included = {home_ / "Desktop"};
  std::vector<std::string> entries = {"<userprofile>", "<Desktop>", "<Documents>", "<Public>"};
  EXPECT_EQ(server_->checkAdminFolders(entries), std::vector<std::string>{home_.path()});
  EXPECT_EQ(server_->checkAdminFolders(entries, "includefolders"),
            (std::vector<std::string>{documents(), home_.path()}));
  EXPECT_EQ(server_->checkAdminFolders(entries, "excludefolders"),
            (std::vector<std::string>{home_ / "Desktop", home_.path()}));
}

TEST_F(SettingsSyncTest, ExclusionsNeedACatalogue) {
  ExtensionCatalogue::setCurrent(nullptr);
  loadExclusions(R"({"Exclusions":{"items":{"size":1}}})");
  EXPECT_EQ(posted(), std::vector<std::string>{"LoadExclusionsFail"});
  EXPECT_EQ(logLinesStartingWith("Exception in LoadExclusions").size(), 1u);
}

}  // namespace
}  // namespace palvero::testing
