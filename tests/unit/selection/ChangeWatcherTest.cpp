#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "SelectionTestSupport.h"
#include "base/StdRunLoop.h"
#include "selection/ChangeWatcher.h"
#include "selection/WatcherBuffer.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::backupRow;
using testing::writeFile;

class FakeDelegate : public ChangeWatcherDelegate {
 public:
  bool isBackupRunning() override { return running; }
  void stopBackup() override {
    calls.push_back("stop");
    running = false;
  }
  void restartBackup() override {
    calls.push_back("restart");
    running = true;
  }
  void setScanning(bool scanning) override {
    calls.push_back(scanning ? "scanning" : "idle");
    // The rebuild runs while the window shows the scanning mark.
    if (scanning) sawNeedRescanning = LocalSettings::sharedManager().needRescanning();
  }
  bool saveExclusionsToServer() override {
    calls.push_back("save exclusions");
    return authorised;
  }

  bool running = false;
  bool authorised = true;
  bool sawNeedRescanning = false;
  std::vector<std::string> calls;
};

BackupFile record(const std::string& path, int32_t status, int64_t size = 1) {
  return BackupFile{path, status, "2024-01-31 17:05", size, ""};
}

class ChangeWatcherTest : public ::testing::Test {
 protected:
  ChangeWatcherTest() { RunLoop::setMain(loop_); }
  ~ChangeWatcherTest() override {
    watcher_.reset();
    RunLoop::setMain(nullptr);
  }

  std::string at(const std::string& relative) { return home_ / relative; }

  // Starts watching the home folder with short latency and flush period.
  void startWatching() {
    ASSERT_TRUE(watcher_->startWatching({home_.path()}));
    ASSERT_TRUE(watcher_->waitUntilWatching(10s));
    watcher_->startBufferTimer();
  }
  // Runs the main loop (the flush timer) until `done`, at most 15 s.
  bool runUntil(const std::function<bool()>& done) { return loop_->runUntil(done, 15s); }

  static ChangeWatcher::Options fastOptions() {
    ChangeWatcher::Options options;
    options.latency = 50ms;
    options.flushInterval = 100ms;
    options.rescanOverlap = 0ms;
    return options;
  }

  testing::SelectionHome home_;
  std::shared_ptr<StdRunLoop> loop_ = std::make_shared<StdRunLoop>();
  WatcherBuffer buffer_;
  FakeDelegate delegate_;
  std::unique_ptr<ChangeWatcher> watcher_ =
      std::make_unique<ChangeWatcher>(buffer_, &delegate_, FileEventStream::create(), fastOptions());
};

TEST_F(ChangeWatcherTest, SavedDocumentBecomesAWaitingRow) {
  fs::create_directories(at("Documents"));
  startWatching();
  auto before = Date::now();
  writeFile(at("Documents/report.txt"), "draft 1");
  ASSERT_TRUE(runUntil([&] { return backupRow(at("Documents/report.txt")).has_value(); }));
  auto row = backupRow(at("Documents/report.txt"));
  EXPECT_EQ(row->status, kQueueWaiting);
  EXPECT_EQ(row->size, 7);
  EXPECT_GE(LocalSettings::sharedManager().dateLastScan().value_or(Date()), before.addingTimeInterval(-1));
}

TEST_F(ChangeWatcherTest, DeletedBackedUpFileBecomesARowToDelete) {
  writeFile(at("Documents/old.txt"), "content");
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateBackupedFilesToDatabase(
      {record(at("Documents/old.txt"), 2, 7)}, true));
  startWatching();
  fs::remove(at("Documents/old.txt"));
  ASSERT_TRUE(runUntil([&] {
    auto row = backupRow(at("Documents/old.txt"));
    return row && row->status == kQueueToDelete;
  }));
  EXPECT_EQ(backupRow(at("Documents/old.txt"))->size, 0);
}

TEST_F(ChangeWatcherTest, RenamedFolderMovesItsRowsAndDeletesTheOldPathOnce) {
  writeFile(at("Projects/alpha/a.txt"), "a");
  writeFile(at("Projects/alpha/sub/b.txt"), "b");
  writeFile(at("Projects/alpha2/c.txt"), "c");
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
      {record(at("Projects/alpha/a.txt"), 2), record(at("Projects/alpha/sub/b.txt"), 0),
       record(at("Projects/alpha2/c.txt"), 0)},
      true));
  startWatching();
  fs::rename(at("Projects/alpha"), at("Projects/beta"));
  ASSERT_TRUE(runUntil([&] {
    return backupRow(at("Projects/beta/a.txt")) && backupRow(at("Projects/beta/sub/b.txt")) &&
           !backupRow(at("Projects/alpha/a.txt"));
  }));
  watcher_->waitUntilIdle();
  EXPECT_FALSE(backupRow(at("Projects/alpha/sub/b.txt")));
  EXPECT_TRUE(backupRow(at("Projects/alpha2/c.txt"))) << "the sibling keeps its rows";
  EXPECT_EQ(backupRow(at("Projects/beta/a.txt"))->status, kQueueWaiting);
  EXPECT_EQ(home_.deleter->paths(), (std::vector<std::string>{at("Projects/alpha")}));
}

TEST_F(ChangeWatcherTest, ChangeInAForbiddenFolderProducesNothing) {
  fs::create_directories(at("Library/Caches/com.example"));
  fs::create_directories(at("Documents"));
  startWatching();
  writeFile(at("Library/Caches/com.example/cache.db"), "cache");
  writeFile(at("Library/Caches/x.txt"), "cache");
  fs::remove(at("Library/Caches/x.txt"));
  // Events come in order: once the sentinel is queued, the rest was seen.
  writeFile(at("Documents/sentinel.txt"), "after");
  ASSERT_TRUE(runUntil([&] { return backupRow(at("Documents/sentinel.txt")).has_value(); }));
  watcher_->waitUntilIdle();
  watcher_->flushBuffer();
  EXPECT_EQ(testing::backupRowCount(), 1) << "only the sentinel";
}

TEST_F(ChangeWatcherTest, FullWatchTableFallsBackToPeriodicRescans) {
  fs::create_directories(at("Watched"));
  fs::create_directories(at("Unwatched/deep"));
  auto options = fastOptions();
  options.watchLimitForTesting = 1;  // the home folder only
  options.degradedRescanInterval = 200ms;
  // File times come from the kernel's coarse clock: a file written just as a
  // rescan starts may carry a time a little before it.
  options.rescanOverlap = 1000ms;
  watcher_ = std::make_unique<ChangeWatcher>(buffer_, &delegate_, FileEventStream::create(), options);
  startWatching();
  EXPECT_TRUE(testing::logged("the inotify watch table is full (fs.inotify.max_user_watches = 1"));
  writeFile(at("Unwatched/deep/found-by-rescan.txt"), "x");
  ASSERT_TRUE(runUntil([&] { return backupRow(at("Unwatched/deep/found-by-rescan.txt")).has_value(); }));
}

TEST_F(ChangeWatcherTest, FailedSliceStaysForTheNextFlush) {
  for (int i = 0; i < 950; ++i) buffer_.append(record(at("f" + std::to_string(i)), kQueueWaiting));
  buffer_.append(record(at("f0"), kQueueToDelete, 0));  // a later record of the same path
  home_.store->failWrite(2);
  EXPECT_FALSE(watcher_->flushBuffer());
  EXPECT_EQ(buffer_.count(), 551u);
  EXPECT_TRUE(testing::logged("Watcher failed updating database with number of files: 951;"));
  EXPECT_TRUE(watcher_->flushBuffer());
  EXPECT_EQ(home_.store->sizes(), (std::vector<size_t>{400, 400, 151}));
  EXPECT_EQ(testing::backupRowCount(), 950);
  EXPECT_EQ(backupRow(at("f0"))->status, kQueueToDelete) << "the last record of a path wins";
  home_.store->clear();
  EXPECT_TRUE(watcher_->flushBuffer());
  EXPECT_TRUE(home_.store->writes().empty()) << "an empty buffer writes nothing";
}

TEST_F(ChangeWatcherTest, LostEventsRescanWhatChangedSinceTheLastRescan) {
  writeFile(at("Old/before-start.txt"), "x");
  fs::create_directories(at("Later"));
  std::this_thread::sleep_for(20ms);
  auto watcher = std::make_unique<ChangeWatcher>(buffer_, &delegate_, FileEventStream::create(), fastOptions());
  std::this_thread::sleep_for(20ms);
  writeFile(at("Documents/while-lost.txt"), "x");
  watcher->handleEvent({home_.path(), FileEventFlag::kMustScanSubDirs | FileEventFlag::kKernelDropped});
  EXPECT_TRUE(backupRow(at("Documents/while-lost.txt")));
  EXPECT_FALSE(backupRow(at("Old/before-start.txt")));

  ASSERT_TRUE(DBManager::sharedDBManager().RemoveAllFilesFromDatabase(true));
  std::this_thread::sleep_for(20ms);
  writeFile(at("Later/second-loss.txt"), "x");
  watcher->handleEvent({home_.path(), FileEventFlag::kMustScanSubDirs | FileEventFlag::kUserDropped});
  EXPECT_TRUE(backupRow(at("Later/second-loss.txt")));
  EXPECT_FALSE(backupRow(at("Documents/while-lost.txt"))) << "already taken by the first rescan";
}

TEST_F(ChangeWatcherTest, RemovedFolderIsScannedInDeleteModeOnly) {
  writeFile(at("Docs/Old/a.txt"), "a");
  writeFile(at("Docs/Old/never-queued.iso"), "b");
  writeFile(at("Docs/Keep/c.txt"), "c");
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
      {record(at("Docs/Old/a.txt"), 2), record(at("Docs/Keep/c.txt"), kQueueWaiting)}, true));
  delegate_.running = true;
  watcher_->folderChanges().addRemovedFolder(at("Docs/Old"));
  watcher_->recalculateBackupQueue(false);

  EXPECT_EQ(backupRow(at("Docs/Old/a.txt"))->status, kQueueToDelete);
  EXPECT_EQ(backupRow(at("Docs/Old/never-queued.iso"))->status, kQueueToDelete);
  EXPECT_EQ(backupRow(at("Docs/Keep/c.txt"))->status, kQueueWaiting) << "other folders are not rescanned";
  EXPECT_EQ(home_.store->sizes("files"), std::vector<size_t>{});
  EXPECT_EQ(delegate_.calls, (std::vector<std::string>{"stop", "scanning", "save exclusions", "idle", "restart"}));
  EXPECT_TRUE(delegate_.sawNeedRescanning);
  EXPECT_FALSE(LocalSettings::sharedManager().needRescanning());
  EXPECT_TRUE(watcher_->folderChanges().removedFolders().empty());
  EXPECT_TRUE(testing::logged("Folder removed from backup: " + at("Docs/Old")));
  EXPECT_EQ(FilesToBackup::sharedFilesToBackup().files().size(), 1u) << "the waiting rows become the batch";
}

TEST_F(ChangeWatcherTest, AddedFolderIsScannedIntoTheQueue) {
  writeFile(at("Docs/New/a.txt"), "a");
  watcher_->folderChanges().addAddedFolder(at("Docs/New"));
  watcher_->recalculateBackupQueue(false);
  EXPECT_EQ(backupRow(at("Docs/New/a.txt"))->status, kQueueWaiting);
  EXPECT_EQ(delegate_.calls, (std::vector<std::string>{"scanning", "save exclusions", "idle"})) << "nothing to stop";
  EXPECT_TRUE(testing::logged("Folder addded for backup: " + at("Docs/New")));
  EXPECT_EQ(FilesToBackup::sharedFilesToBackup().files().size(), 1u);
}

TEST_F(ChangeWatcherTest, ChangedRulesRebuildTheQueueFromTheHomeFolder) {
  writeFile(at("Docs/a.txt"), "a");
  writeFile(at("Docs/b.txt"), "b");
  writeFile(at("Docs/disk.iso"), "c");
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
      {record(at("Docs/disk.iso"), kQueueWaiting), record(at("Docs/failed.txt"), kQueueFailed)}, true));
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateDeletedFilesToDatabase({at("Docs/gone.txt")}, true));
  delegate_.authorised = false;
  bool rescanningDuringScan = false;
  home_.store->onWrite = [&] { rescanningDuringScan = LocalSettings::sharedManager().needRescanning(); };
  watcher_->folderChanges().setExclusionsChanged(true);
  watcher_->recalculateBackupQueue(true);

  EXPECT_FALSE(backupRow(at("Docs/disk.iso"))) << "no longer passes the rules";
  EXPECT_FALSE(backupRow(at("Docs/failed.txt")));
  EXPECT_EQ(backupRow(at("Docs/a.txt"))->status, kQueueFullBackupScan);
  EXPECT_EQ(backupRow(at("Docs/b.txt"))->status, kQueueFullBackupScan);
  EXPECT_EQ(backupRow(at("Docs/gone.txt"))->status, kQueueToDelete) << "a pending server deletion survives";
  EXPECT_TRUE(testing::logged("Save exclusions to server - authorise fail"));
  EXPECT_TRUE(rescanningDuringScan);
  EXPECT_FALSE(LocalSettings::sharedManager().needRescanning());
  EXPECT_FALSE(watcher_->folderChanges().exclusionsChanged());

  // Nothing changed since: nothing to do.
  delegate_.calls.clear();
  watcher_->recalculateBackupQueue(false);
  EXPECT_TRUE(delegate_.calls.empty());
}

}  // namespace
}  // namespace palvero
