// The application's life: first run, normal start, version change, updater
// leftovers, sleep and wake, logout, the wrong-password reset and shutdown.
#include <filesystem>

#include "AppTestSupport.h"
#include "app/AppDelegate.h"
#include "platform/Env.h"
#include "platform/LoginItem.h"
#include "platform/Process.h"
#include "platform/PreferencesStore.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

class FakeSleepMonitor : public SleepMonitor {
 public:
  bool start(Handler onSleep, Handler onWake) override {
    sleep = std::move(onSleep);
    wake = std::move(onWake);
    return true;
  }
  void stop() override {}
  const char* sourceName() const override { return "fake"; }
  Handler sleep;
  Handler wake;
};

class AppDelegateTest : public AppFixture {
 protected:
  std::unique_ptr<AppDelegate> makeDelegate() {
    AppDelegate::Options options;
    options.view = &view_;
    auto server = server_;
    options.makeServerLink = [server] { return server; };
    auto script = script_;
    options.engineFactory = [script] { return std::make_shared<FakeEngine>(script); };
    options.controllerOptions.periodicTimers = false;
    options.controllerOptions.checkStatusAtStart = false;
    options.controllerOptions.requestSupportInfo = false;
    options.watchChanges = false;
    options.makeSleepMonitor = [this] {
      auto monitor = std::make_unique<FakeSleepMonitor>();
      sleepMonitor_ = monitor.get();
      return monitor;
    };
    options.terminate = [this] { ++terminations_; };
    options.confirmQuit = [this] { return confirm_; };
    options.relaunch = [this] { ++relaunches_; };
    return std::make_unique<AppDelegate>(std::move(options));
  }
  static void reloadStores() {
    PreferencesStore::resetForTesting();
    LocalSettings::resetForTesting();
    CommonExtensions::resetForTesting();
  }

  FakeSleepMonitor* sleepMonitor_ = nullptr;
  int terminations_ = 0;
  int relaunches_ = 0;
  bool confirm_ = true;
};

TEST_F(AppDelegateTest, FirstRunStoresTheDefaultsAndStartsNoController) {
  LocalSettings::sharedManager().setIsInitialized(false);
  LocalSettings::sharedManager().setBackupTimingType(1);
  LocalSettings::sharedManager().save();
  auto app = makeDelegate();
  EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::LaunchState::kWizard);
  EXPECT_EQ(app->mainViewController(), nullptr);
  EXPECT_TRUE(logged("Wizard started"));
  reloadStores();
  EXPECT_EQ(LocalSettings::sharedManager().backupTimingType(), 0);
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  EXPECT_EQ(extensions.defaultExclusions(), ".DS_Store;");
  EXPECT_EQ(extensions.complexFiles(), ".APP;.IPA;.DMG;.LPDF;");
  for (const char* ext : {".APP", ".IPA", ".DMG", ".LPDF"}) EXPECT_EQ(extensions.complexValues()[ext], true) << ext;
  EXPECT_NE(sleepMonitor_, nullptr) << "sleep and wake are watched on the first-run path too";
}

TEST_F(AppDelegateTest, HandOverWritesTheLoginItemThatStartsMinimisedANormalStartDoesNot) {
  {
    auto app = makeDelegate();
    EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::LaunchState::kMainWindow);
    app->applicationWillTerminate();
  }
  EXPECT_FALSE(LoginItem::isEnabled()) << "only the wizard's hand-over registers it";
  auto app = makeDelegate();
  app->setMainVC(true);
  ASSERT_TRUE(LoginItem::isEnabled());
  std::string entry = readFile(LoginItem::entryPath());
  std::string exec = "Exec=\"" + Process::executablePath() + "\" \"" + AppDelegate::kStartMinimizedFlag + "\"\n";
  EXPECT_NE(entry.find(exec), std::string::npos) << entry;
  app->applicationWillTerminate();
}

TEST_F(AppDelegateTest, NewBuildSendsTheClientSettingsOnceAndRemovesUpdaterLeftovers) {
  LocalSettings::sharedManager().setLocalAppVersion(std::string("2.0.0.0"));
  LocalSettings::sharedManager().save();
  fs::create_directories(Env::supportDirectory() + "/PalveroUpdater.app/Contents");
  fs::create_directories(Env::supportDirectory() + "/Updater");
  {
    auto app = makeDelegate();
    EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::LaunchState::kMainWindow);
    ASSERT_NE(app->mainViewController(), nullptr);
    EXPECT_TRUE(logged("Application is initialized"));
    app->applicationWillTerminate();
  }
  EXPECT_FALSE(fs::exists(Env::supportDirectory() + "/PalveroUpdater.app"));
  EXPECT_FALSE(fs::exists(Env::supportDirectory() + "/Updater"));
  auto clientSends = [&] {
    std::lock_guard lock(server_->mutex);
    return std::count(server_->savedSettings.begin(), server_->savedSettings.end(), "client");
  };
  EXPECT_EQ(clientSends(), 1);
  reloadStores();
  EXPECT_EQ(LocalSettings::sharedManager().localAppVersion(), Env::applicationVersion());
  {
    auto app = makeDelegate();
    app->applicationDidFinishLaunching();
    app->applicationWillTerminate();
  }
  EXPECT_EQ(clientSends(), 1) << "the next start sends nothing";
}

TEST_F(AppDelegateTest, WakePostsEmergencyStopOnTheMainThread) {
  auto app = makeDelegate();
  app->applicationDidFinishLaunching();
  ASSERT_NE(sleepMonitor_, nullptr);
  std::thread([&] { sleepMonitor_->sleep(); }).join();
  loop_->runPending();
  EXPECT_TRUE(app->isInSleep());
  EXPECT_TRUE(logged("receiveSleepNote: "));
  std::thread([&] { sleepMonitor_->wake(); }).join();
  loop_->runPending();
  EXPECT_TRUE(logged("receiveWakeNote: "));
  EXPECT_TRUE(logged("emergencyStop not fired, because backup is not running"));
  EXPECT_FALSE(app->isInSleep()) << "the emergency stop clears the flag";
  app->applicationWillTerminate();
}

TEST_F(AppDelegateTest, LogoutThenCancelKeepsRunningAndNothingIsWrittenBack) {
  auto app = makeDelegate();
  app->applicationDidFinishLaunching();
  std::string database = Env::supportDirectory() + "/palverofiles.db";
  ASSERT_TRUE(fs::exists(database));
  confirm_ = false;
  app->logout();
  EXPECT_EQ(terminations_, 0) << "the user cancelled the quit";
  EXPECT_TRUE(app->loggedOut());
  EXPECT_FALSE(fs::exists(database));
  confirm_ = true;
  app->closeApp();
  EXPECT_EQ(terminations_, 1);
  app->applicationWillTerminate();
  reloadStores();
  EXPECT_FALSE(LocalSettings::sharedManager().isInitialized()) << "the next start shows the first-run path";
}

TEST_F(AppDelegateTest, TwoWrongPasswordNotificationsRelaunchOnce) {
  auto app = makeDelegate();
  app->applicationDidFinishLaunching();
  NotificationCenter::defaultCenter().post("WrongPassword");
  NotificationCenter::defaultCenter().post("WrongPassword");
  EXPECT_EQ(relaunches_, 1);
  reloadStores();
  EXPECT_FALSE(LocalSettings::sharedManager().isInitialized());
  app->applicationWillTerminate();
}

TEST_F(AppDelegateTest, ShutdownWritesTheWatcherRecordsAndTheFailedEntries) {
  auto paths = queueFiles(2);
  script_->setOutcome(paths[0], EngineScript::Outcome::kFail);
  script_->holdAll(true);
  auto app = makeDelegate();
  app->applicationDidFinishLaunching();
  auto* controller = app->mainViewController();
  controller->setStatusForTesting(true, 2);
  ASSERT_TRUE(controller->startBackup());
  script_->release(paths[0]);
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1 && script_->startedCount() == 2; }));
  // A change seen by the watcher moments before the quit.
  std::string changed = (*home_) / "docs/late.txt";
  writeFile(changed, "late");
  app->changeWatcher()->buffer().append(BackupFile{changed, kQueueWaiting, "2024-01-01 10:00", 4, ""});
  app->applicationWillTerminate();
  EXPECT_EQ(statusOf(changed), kQueueWaiting) << "buffered record written";
  EXPECT_EQ(statusOf(paths[0]), kQueueFailed) << "a tried and failed entry counts its try";
  EXPECT_EQ(statusOf(paths[1]), kQueueWaiting) << "the one in flight stays waiting, no try counted";
  EXPECT_TRUE(logged("Application was terminated"));
}

}  // namespace
}  // namespace palvero::testing
