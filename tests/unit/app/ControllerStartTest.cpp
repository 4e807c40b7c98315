// The controller's start and its full-backup path, driven from the
// controller: the first scan of a folder never scanned (not an overdue full
// backup), the time-remaining update rebuilding the queue with nothing lost,
// the continuous timer kept when a start is refused, and the first run's
// restore presets.
#include <functional>

#include "AppTestSupport.h"
#include "app/RestorePresets.h"
#include "selection/ChangeWatcher.h"
#include "selection/WatcherBuffer.h"

namespace palvero::testing {
namespace {

class FakeRestoreControl : public RestoreControl {
 public:
  bool isRestoring() const override { return restoring.load(); }
  bool isRestorePausedByUser() const override { return false; }
  void pauseRestore() override { restoring.store(false); }
  void startRestore() override { ++resumed; }
  void startNewRestore(const RestoreChoice& choice) override {
    std::lock_guard lock(mutex);
    started.push_back(choice);
    restoring.store(true);
  }
  void statusButtonPressed() override {}

  std::atomic<bool> restoring{false};
  std::atomic<int> resumed{0};
  std::mutex mutex;
  std::vector<RestoreChoice> started;  // guarded by mutex
};

class ControllerStartTest : public AppFixture {
 protected:
  // Files in the home folder that are not queued (backed up before).
  std::vector<std::string> writeFiles(int count, const std::string& folder) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      std::string path = (*home_) / (folder + "/kept" + std::to_string(i) + ".txt");
      writeFile(path, std::string(50 + static_cast<size_t>(i), 'k'));
      touchAgo(path, 3600);
      paths.push_back(path);
    }
    return paths;
  }
  std::optional<Date> lastFullBackup() {
    auto stored = CommonExtensions::sharedExtensionsManager().lastFullBackup();
    return stored ? Date::fromValue(*stored) : std::nullopt;
  }
  bool scanning() { return controller_->scanning(); }
};

// --- The thirty-day rule and the first scan --------------------------------

struct StartCase {
  std::string name;
  std::optional<double> lastFullDaysAgo;  // nothing: never stored
  bool scannedBefore;
  bool firstScan;      // the folder is scanned into the queue at start
  bool fullBackupDue;  // "needFullBackup" set
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class FullBackupAtStartTest : public ControllerStartTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(FullBackupAtStartTest, DecidesBetweenNothingTheFirstScanAndAFullBackup) {
  const StartCase& c = GetParam();
  auto files = writeFiles(3, "docs");
  auto& settings = LocalSettings::sharedManager();
  if (!c.scannedBefore) settings.setDateLastScan(std::nullopt);
  settings.save();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  Date now = Clock::current()->now();
  if (c.lastFullDaysAgo) extensions.setLastFullBackup(now.addingTimeInterval(-*c.lastFullDaysAgo * 86400).toValue());
  makeController();
  if (c.firstScan) {
    ASSERT_TRUE(runUntil([&] { return DBManager::sharedDBManager().GetTotalNumberOfFiles(true) == 3 && !scanning(); }))
        << lastLogLines();
    for (const auto& path : files) EXPECT_EQ(statusOf(path), kQueueWaiting) << path;
    EXPECT_TRUE(settings.dateLastScan());
  } else {
    loop_->runPending();
    EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 0);
  }
  EXPECT_EQ(extensions.needFullBackup(), c.fullBackupDue);
  ASSERT_TRUE(lastFullBackup());
  bool stampedNow = std::abs(lastFullBackup()->timeIntervalSince(now)) < 60;
  EXPECT_EQ(stampedNow, !c.lastFullDaysAgo || c.fullBackupDue) << "an unset or overdue date becomes now";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullBackupAtStartTest,
    ::testing::Values(StartCase{"never scanned: the first scan, not a full backup", std::nullopt, false, true, false},
                      StartCase{"scanned by an older build: stamped now", std::nullopt, true, false, false},
                      StartCase{"31 days ago: a full backup is due", 31.0, true, false, true},
                      StartCase{"29 days ago: nothing", 29.0, true, false, false}),
    [](const auto& param) { return "Case" + std::to_string(param.index); });

// --- The full-backup path of the time-remaining update -----------------------

TEST_F(ControllerStartTest, AFullBackupRequeuesEveryFileAndLosesNoneHeldInTheBatch) {
  // Five files wait in the batch (the filter refuses them as queued), three
  // were backed up before; one row waits for its deletion on the server.
  auto waiting = queueFiles(5);
  auto before = writeFiles(3, "docs");
  DBManager::sharedDBManager().InsertOrUpdateDeletedFilesToDatabase({(*home_) / "docs/gone.txt"}, true);
  ASSERT_EQ(FilesToBackup::sharedFilesToBackup().count(), 5u);
  auto& controller = makeController(2);
  WatcherBuffer buffer;
  ChangeWatcher watcher(buffer, &controller);
  controller.setChangeWatcher(&watcher);
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setNeedFullBackup(true);

  controller.updateTimeRemaining();
  ASSERT_TRUE(runUntil([&] { return !extensions.needFullBackup() && !scanning(); })) << lastLogLines();
  watcher.waitUntilIdle();
  loop_->runPending();
  std::vector<std::string> all = waiting;
  all.insert(all.end(), before.begin(), before.end());
  for (const auto& path : all) EXPECT_EQ(statusOf(path), kQueueWaiting) << path;
  EXPECT_EQ(DBManager::sharedDBManager().SelectFileFromDatabase(true, 10).size(), 0u) << "no row no query selects";
  EXPECT_EQ(statusOf((*home_) / "docs/gone.txt"), kQueueToDelete);
  EXPECT_EQ(FilesToBackup::sharedFilesToBackup().count(), all.size());
  {
    std::lock_guard lock(server_->mutex);
    EXPECT_EQ(server_->savedSettings, std::vector<std::string>{"exclusions"}) << "as when the editor closes";
  }

  // The next run backs every one of them up once.
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  for (const auto& path : all) EXPECT_EQ(script_->timesStarted(path), 1) << path;
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 0);
  // Gone before the watcher: its background rebuild may still be leaving it.
  controller_.reset();
}

TEST_F(ControllerStartTest, AFullBackupDueDuringARunFollowsIt) {
  auto waiting = queueFiles(4);
  auto& controller = makeController(2);
  WatcherBuffer buffer;
  ChangeWatcher watcher(buffer, &controller);
  controller.setChangeWatcher(&watcher);
  CommonExtensions::sharedExtensionsManager().setNeedFullBackup(true);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 2; }));
  // During the run nothing is rebuilt.
  controller.updateTimeRemaining();
  EXPECT_TRUE(CommonExtensions::sharedExtensionsManager().needFullBackup());
  script_->holdAll(false);
  ASSERT_TRUE(runEnded()) << lastLogLines();
  controller.updateTimeRemaining();
  ASSERT_TRUE(runUntil([&] { return !scanning() && !CommonExtensions::sharedExtensionsManager().needFullBackup(); }));
  watcher.waitUntilIdle();
  for (const auto& path : waiting) EXPECT_EQ(statusOf(path), kQueueWaiting) << path;
  controller_.reset();
}

// --- Continuous timing -------------------------------------------------------

TEST_F(ControllerStartTest, ContinuousTimingKeepsItsTimerWhenAStartIsRefused) {
  queueFiles(2);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingContinuous);
  settings.save();
  auto& controller = makeController(1);
  server_->authoriseResult.store(false);
  controller.startAutoBackup();
  EXPECT_FALSE(controller.backuping());
  auto timer = controller.backupTimer();
  ASSERT_TRUE(timer && timer->isValid() && timer->repeats()) << "a refused start must leave the scheduler armed";
  server_->authoriseResult.store(true);
  advance(std::chrono::seconds(10));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 2u);
}

TEST_F(ControllerStartTest, NoAutomaticStartWhileTheQueueIsRebuiltOrTheComputerSleeps) {
  queueFiles(2);
  auto& settings = LocalSettings::sharedManager();
  settings.setBackupTimingType(LocalSettings::kTimingContinuous);
  settings.save();
  auto& controller = makeController(1);
  controller.setScanning(true);
  controller.startAutoBackup();
  controller.setScanning(false);
  hooks_.inSleep = true;
  controller.startAutoBackup();
  EXPECT_FALSE(controller.backuping());
  EXPECT_EQ(script_->startedCount(), 0u);
  hooks_.inSleep = false;
  controller.startAutoBackup();
  ASSERT_TRUE(runEnded()) << lastLogLines();
}

// --- The first run's restore ---------------------------------------------------

TEST_F(ControllerStartTest, TheFirstRunsRestoreStartsOnceAndIsNotResumedTwice) {
  RestorePresets::store({{"restoreAllData", true}, {"restoreToOriginalPath", false},
                         {"restoreDestinationPath", "/tmp/restored/"}, {"restoreLatest", true}},
                        Value::object());
  FakeRestoreControl restore;
  MainViewController::Options options;
  options.periodicTimers = false;
  options.checkStatusAtStart = false;
  options.requestSupportInfo = false;
  auto script = script_;
  auto makeOne = [&] {
    auto controller = std::make_unique<MainViewController>(
        server_, [script] { return std::make_shared<FakeEngine>(script); }, &view_, &hooks_, options);
    controller->setRestoreControl(&restore);
    controller->initialize();
    return controller;
  };
  auto first = makeOne();
  {
    std::lock_guard lock(restore.mutex);
    ASSERT_EQ(restore.started.size(), 1u);
    EXPECT_TRUE(restore.started[0].restoreAllData);
    EXPECT_FALSE(restore.started[0].restoreToOriginalPath);
    EXPECT_EQ(restore.started[0].restoreDestinationPath, "/tmp/restored");
  }
  EXPECT_EQ(restore.resumed.load(), 0) << "the new restore is not also continued from the table";
  LocalSettings::resetForTesting();
  EXPECT_TRUE(LocalSettings::sharedManager().presetsForRestore().empty()) << "cleared in the store";
  first.reset();
  restore.restoring.store(false);
  auto second = makeOne();
  std::lock_guard lock(restore.mutex);
  EXPECT_EQ(restore.started.size(), 1u);
}

TEST(RestorePresetsTest, ThePresetsBecomeTheChoiceOrNothing) {
  struct Case {
    std::string name;
    Value presets;
    Value items;
    bool chosen;
    std::function<void(const RestoreChoice&)> check;
  };
  Value folder = {{"/home/ann/docs", Value::array({"folder", "D1"})}};
  Value file = {{"/home/ann/a.txt", Value::array({"file", "D1"})}};
  Value removed = {{"/home/ann/docs/cache", Value::array({"folder", "D1"})}};
  std::vector<Case> cases = {
      {"all data, in place", {{"restoreAllData", true}}, Value::object(), true,
       [](const RestoreChoice& c) {
         EXPECT_TRUE(c.restoreAllData);
         EXPECT_TRUE(c.restoreToOriginalPath);
         EXPECT_TRUE(c.restoreLatest);
       }},
      {"a dated selection", {{"restoreLatest", false}, {"dateValue", 1700000000}}, folder, true,
       [&](const RestoreChoice& c) {
         EXPECT_FALSE(c.restoreLatest);
         EXPECT_DOUBLE_EQ(c.restoreDate, 1700000000);
         EXPECT_EQ(c.filesAndFoldersForRestore, folder);
         EXPECT_TRUE(c.filesAndFoldersRemovedFromRestore.empty());
       }},
      {"a folder without what was unticked in it", {{"filesAndFoldersRemovedFromRestore", removed}}, folder, true,
       [&](const RestoreChoice& c) { EXPECT_EQ(c.filesAndFoldersRemovedFromRestore, removed); }},
      {"one file", {{"restoreSingleFile", true}}, file, true,
       [](const RestoreChoice& c) {
         ASSERT_TRUE(c.singleFileForRestore);
         EXPECT_EQ(c.singleFileForRestore->name, "/home/ann/a.txt");
         EXPECT_EQ(c.singleFileForRestore->deviceId, "D1");
       }},
      {"one file as of a date: through the list, which has its revisions",
       {{"restoreSingleFile", true}, {"restoreLatest", false}, {"dateValue", 1700000000}}, file, true,
       [&](const RestoreChoice& c) {
         EXPECT_FALSE(c.singleFileForRestore);
         EXPECT_EQ(c.filesAndFoldersForRestore, file);
       }},
      {"dated without a date: the latest", {{"restoreLatest", false}}, folder, true,
       [](const RestoreChoice& c) { EXPECT_TRUE(c.restoreLatest); }},
      {"elsewhere without a folder", {{"restoreAllData", true}, {"restoreToOriginalPath", false}}, Value::object(),
       false, nullptr},
      {"a selection of nothing", {{"restoreLatest", true}}, Value::object(), false, nullptr},
      {"no presets", Value::array(), folder, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto choice = RestorePresets::choiceFrom(c.presets, c.items);
    ASSERT_EQ(choice.has_value(), c.chosen);
    if (choice && c.check) c.check(*choice);
  }
}

}  // namespace
}  // namespace palvero::testing
