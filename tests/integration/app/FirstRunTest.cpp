// The first run against palvero-service, one step at a time as a window
// would drive it: login, the device page, the exclusions page, the restore
// chosen first, and the first scan; and every refusal reported as a value.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "app/FirstRun.h"
#include "app/ProcessStartup.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "protocol/CommunicationServer.h"
#include "protocol/ExtensionCatalogue.h"
#include "protocol/HttpClient.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "support/LogLines.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

using Outcome = FirstRun::Outcome;

class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonExtensions::resetForTesting();
    FileScanner::resetForTesting();
    FilesToBackup::resetForTesting();
    loop_ = std::make_shared<StdRunLoop>();
    ProcessStartup::start(loop_);
    loop_->runPending();
    ServiceProcess::Options options;
    options.extraArgs = {"--max-devices", "3"};
    service_ = std::make_unique<ServiceProcess>(options);
    account_ = service_->addUser("ann", "s3cret more", 3);
  }
  void TearDown() override {
    firstRun_.reset();
    ExtensionCatalogue::setCurrent(nullptr);
    CommonExtensions::resetForTesting();
    RunLoop::setMain(nullptr);
  }

  FirstRun& firstRun() {
    if (!firstRun_) {
      firstRun_ = std::make_unique<FirstRun>(
          CommunicationServer::create(service_->url(), std::make_shared<HttpClient>()));
    }
    return *firstRun_;
  }
  // Runs one step to its report (nothing when none came within a minute).
  std::optional<FirstRun::Report> step(const std::function<void(FirstRun::Completion)>& start) {
    std::optional<FirstRun::Report> report;
    start([&](const FirstRun::Report& r) { report = r; });
    loop_->runUntil([&] { return report.has_value(); }, std::chrono::seconds(60));
    return report;
  }
  std::optional<FirstRun::Report> login(const std::string& password = "s3cret more") {
    return step([&](FirstRun::Completion done) { firstRun().login("ann", password, std::move(done)); });
  }

  TempHome home_;
  std::shared_ptr<StdRunLoop> loop_;
  std::unique_ptr<ServiceProcess> service_;
  Value account_;
  std::unique_ptr<FirstRun> firstRun_;
};

TEST_F(FirstRunTest, AFirstDeviceIsEnrolledAndTheServicesSettingsArriveBeforeTheExclusionsPage) {
  service_->setAdminSettings("ann", "exclusions",
                             R"({"Exclusions":{"items":{"size":7777,"emptyfiles":true}}})");
  service_->setAdminSettings("ann", "backup", R"({"BackupTimingType":"1"})");
  auto report = login();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->outcome, Outcome::kExclusions) << report->message;
  EXPECT_TRUE(firstRun().enrolledByLogin());
  EXPECT_TRUE(firstRun().newDeviceRegistered());
  auto& settings = LocalSettings::sharedManager();
  EXPECT_NE(settings.clientId(), account_["ClientId"]) << "the device's own identity";
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  // "maxSize" 0 is stored first; what the service keeps wins.
  EXPECT_EQ(extensions.maxSize().value_or(Value()), Value(7777));
  EXPECT_TRUE(extensions.emptyfiles());
  EXPECT_EQ(settings.backupTimingType(), 1);
  EXPECT_EQ(loggedTextsStartingWith("User registred").size(), 1u);
  std::vector<std::string> loads;
  for (const auto& entry : service_->requests("load_settings")) loads.push_back(entry["fields"].value("type", ""));
  std::sort(loads.begin(), loads.end());  // sent together
  EXPECT_EQ(loads, (std::vector<std::string>{"backup", "clientfull", "exclusions"}));
  for (const auto& entry : service_->requests("load_settings")) {
    EXPECT_EQ(entry["fields"].value("guid", ""), settings.clientId().value_or("")) << "asked as the device";
  }
}

TEST_F(FirstRunTest, TheDevicePageTakesOverAChosenDeviceOrAddsANewOne) {
  auto desk = service_->enrolDevice("ann", "s3cret more", "desk");
  auto laptop = service_->enrolDevice("ann", "s3cret more", "laptop");
  auto report = login();
  ASSERT_TRUE(report);
  ASSERT_EQ(report->outcome, Outcome::kChooseDevice);
  ASSERT_EQ(report->devices.size(), 2u);
  EXPECT_EQ(loggedTextsStartingWith("User registred").size(), 1u);

  service_->clearLog();
  report = step([&](FirstRun::Completion done) { firstRun().replaceDevice("laptop", std::move(done)); });
  ASSERT_TRUE(report);
  ASSERT_EQ(report->outcome, Outcome::kExclusions) << report->message;
  auto credentials = LocalSettings::sharedManager().credentials();
  EXPECT_EQ(credentials.clientId, laptop.clientId);
  EXPECT_EQ(credentials.password, laptop.password);
  auto registered = service_->requests("register_device");
  ASSERT_EQ(registered.size(), 1u);
  Value record = Value::parse(registered[0]["fields"].value("device", ""));
  EXPECT_EQ(record["DeviceID"], laptop.clientId);
  EXPECT_EQ(record["Name"], "laptop");
  EXPECT_EQ(record["DeviceType"], "31");
  // The hardware identifiers go under the device's identity.
  loop_->runUntil([&] { return !service_->requests("send_serial_numbers").empty(); }, std::chrono::seconds(10));
  auto serials = service_->requests("send_serial_numbers");
  ASSERT_FALSE(serials.empty());
  EXPECT_EQ(serials[0]["fields"].value("guid", ""), laptop.clientId);

  // A second computer of the same account adds itself under a name of its own.
  firstRun_.reset();
  LocalSettings::sharedManager().setCredentials("", "");
  ASSERT_EQ(login()->outcome, Outcome::kChooseDevice);
  report = step([&](FirstRun::Completion done) { firstRun().addNewDevice("Ann's new box & co", std::move(done)); });
  ASSERT_TRUE(report);
  ASSERT_EQ(report->outcome, Outcome::kExclusions) << report->message;
  auto devices = service_->requests("register_device");
  Value added = Value::parse(devices.back()["fields"].value("device", ""));
  EXPECT_EQ(added["Name"], "Ann's new box & co") << "the name arrives whole";
  EXPECT_EQ(added["DeviceID"], "");
  EXPECT_NE(LocalSettings::sharedManager().clientId(), desk.clientId);
  EXPECT_NE(LocalSettings::sharedManager().clientId(), laptop.clientId);
}

TEST_F(FirstRunTest, RefusalsComeBackAsValuesAndLeaveTheStepUsable) {
  struct Case {
    std::string label;
    std::function<std::optional<FirstRun::Report>()> run;
    Outcome outcome;
    std::string says;
  };
  std::vector<Case> cases = {
      {"wrong password", [&] { return login("nope"); }, Outcome::kWrongPassword, "wrong username or password"},
      {"empty password: nothing is sent", [&] {
         service_->clearLog();
         auto r = login("");
         EXPECT_TRUE(service_->requests("register").empty());
         return r;
       },
       Outcome::kWrongPassword, "wrong username or password"},
      {"an unknown device", [&] {
         service_->enrolDevice("ann", "s3cret more", "desk");
         service_->enrolDevice("ann", "s3cret more", "laptop");
         EXPECT_EQ(login()->outcome, Outcome::kChooseDevice);
         return step([&](FirstRun::Completion done) { firstRun().replaceDevice("tablet", std::move(done)); });
       },
       Outcome::kNoSuchDevice, "tablet"},
      {"a full account", [&] {
         service_->enrolDevice("ann", "s3cret more", "third");
         return step([&](FirstRun::Completion done) { firstRun().addNewDevice("fourth", std::move(done)); });
       },
       Outcome::kDeviceRefused, "device limit reached"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto report = c.run();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->outcome, c.outcome);
    EXPECT_NE(report->message.find(c.says), std::string::npos) << report->message;
  }
  EXPECT_EQ(loggedTextsStartingWith("User registration fail").size(), 1u) << "for the refused login only";
  // A step asked for while another runs is refused, not interleaved.
  std::optional<FirstRun::Report> first, second;
  firstRun().login("ann", "s3cret more", [&](const FirstRun::Report& r) { first = r; });
  firstRun().login("ann", "s3cret more", [&](const FirstRun::Report& r) { second = r; });
  loop_->runUntil([&] { return first && second; }, std::chrono::seconds(60));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second->outcome, Outcome::kBusy);
  EXPECT_EQ(first->outcome, Outcome::kChooseDevice);
}

TEST_F(FirstRunTest, TheExclusionsPageRestoreChoiceAndFirstScanLeaveTheWizardsState) {
  FirstRun::storeFirstRunDefaults();
  ASSERT_EQ(login()->outcome, Outcome::kExclusions);
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setEmptyExtension(true);
  std::optional<bool> sent;
  firstRun().sendExclusions([&](bool ok) { sent = ok; });
  loop_->runUntil([&] { return sent.has_value(); }, std::chrono::seconds(30));
  ASSERT_TRUE(sent && *sent);
  Value saved = service_->savedSettings(LocalSettings::sharedManager().clientId().value_or(""), "exclusions");
  EXPECT_EQ(saved["Exclusions"]["items"]["emptyextension"], true) << saved.dump();
  firstRun().setBackupHiddenFiles(true);
  firstRun().leaveExclusions();

  firstRun().chooseRestore({{"restoreAllData", true}}, Value::object());
  EXPECT_EQ(LocalSettings::sharedManager().presetsForRestore(), (Value{{"restoreAllData", true}}));

  writeFile(home_ / "Documents/a.txt", "a");
  writeFile(home_ / ".hidden/b.txt", "b");
  writeFile(home_ / "Desktop/Tool.app/Contents/c.txt", "inside a package");
  auto scanned = FirstRun::finish();
  EXPECT_TRUE(scanned.scanned);
  // Hidden files are on (Palvero's own hidden folders stay out); the package
  // is left out by the first-run defaults.
  EXPECT_EQ(scanned.waitingFiles, 2);
  auto stored = extensions.lastFullBackup();
  ASSERT_TRUE(stored);
  EXPECT_LT(std::abs(Date::fromValue(*stored)->timeIntervalSince(Date::now())), 60);
  EXPECT_FALSE(LocalSettings::sharedManager().needRescanning());
  EXPECT_EQ(loggedTextsStartingWith("First scan initiated succesfully. Files added to database: true").size(), 1u);
  EXPECT_EQ(loggedTextsStartingWith("Wizard started").size(), 1u);
}

}  // namespace
}  // namespace palvero::testing
