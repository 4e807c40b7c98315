#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/InotifyEventStream.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace FileEventFlag;
using testing::writeFile;

// Gathers what the stream hands over, from the stream's thread.
class Collector {
 public:
  FileEventStream::EventHandler handler() {
    return [this](const std::vector<FileEvent>& batch) {
      std::unique_lock lock(mutex_);
      events_.insert(events_.end(), batch.begin(), batch.end());
      changed_.notify_all();
      if (blockNext_) {
        blockNext_ = false;
        blocked_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !blocked_; });
      }
    };
  }
  FileEventStream::WarningHandler warnings() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      warnings_.push_back(text);
      changed_.notify_all();
    };
  }
  bool waitFor(const FileEvent& event, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return has(event); });
  }
  bool waitForWarning(const std::string& part, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      return std::any_of(warnings_.begin(), warnings_.end(),
                         [&](const std::string& text) { return text.find(part) != std::string::npos; });
    });
  }
  bool contains(const FileEvent& event) {
    std::lock_guard lock(mutex_);
    return has(event);
  }
  std::vector<FileEvent> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> warningTexts() {
    std::lock_guard lock(mutex_);
    return warnings_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  // The next delivery blocks inside the handler until release().
  void blockNextDelivery() {
    std::lock_guard lock(mutex_);
    blockNext_ = true;
  }
  bool waitUntilBlocked(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return blocked_; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    blocked_ = false;
    changed_.notify_all();
  }

 private:
  bool has(const FileEvent& event) const { return std::find(events_.begin(), events_.end(), event) != events_.end(); }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FileEvent> events_;
  std::vector<std::string> warnings_;
  bool blockNext_ = false;
  bool blocked_ = false;
};

class InotifyEventStreamTest : public ::testing::Test {
 protected:
  void start(FileEventStream::Options options = {}) {
    if (options.paths.empty()) options.paths = {root_};
    options.latency = 20ms;
    ASSERT_TRUE(stream_.start(options, collector_.handler(), collector_.warnings()));
    ASSERT_TRUE(stream_.waitUntilWatching(10s));
  }
  void TearDown() override {
    collector_.release();
    stream_.stop();
  }

  testing::TempHome home_;
  std::string root_ = home_ / "root";
  Collector collector_;
  InotifyEventStream stream_;
};

TEST_F(InotifyEventStreamTest, FileChangesCarryTheFlagsTheFilterReads) {
  fs::create_directories(root_ + "/docs");
  start();
  writeFile(root_ + "/docs/a.txt", "hello");
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs/a.txt", kItemCreated | kItemIsFile}));
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs/a.txt", kItemModified | kItemIsFile}));
  fs::rename(root_ + "/docs/a.txt", root_ + "/docs/b.txt");
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs/a.txt", kItemRenamed | kItemIsFile}));
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs/b.txt", kItemRenamed | kItemIsFile}));
  fs::remove(root_ + "/docs/b.txt");
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs/b.txt", kItemRemoved | kItemIsFile}));
  fs::remove(root_ + "/docs");
  EXPECT_TRUE(collector_.waitFor({root_ + "/docs", kItemRemoved | kItemIsDir}));
}

// A quit right after a change: the gathered events are handed over by the
// stop, not dropped with the latency still running.
TEST_F(InotifyEventStreamTest, StopHandsOverWhatIsGatheredAndQueued) {
  fs::create_directories(root_);
  writeFile(root_ + "/old.txt", "x");
  FileEventStream::Options options;
  options.paths = {root_};
  options.latency = std::chrono::hours(1);
  ASSERT_TRUE(stream_.start(options, collector_.handler(), collector_.warnings()));
  ASSERT_TRUE(stream_.waitUntilWatching(10s));
  writeFile(root_ + "/new.txt", "x");
  fs::remove(root_ + "/old.txt");
  stream_.stop();
  EXPECT_TRUE(collector_.contains({root_ + "/new.txt", kItemCreated | kItemIsFile}));
  EXPECT_TRUE(collector_.contains({root_ + "/old.txt", kItemRemoved | kItemIsFile}));
}

TEST_F(InotifyEventStreamTest, RepeatedWritesOfOneFileArriveOnceABatch) {
  fs::create_directories(root_);
  start();
  {
    std::ofstream out(root_ + "/log.txt");
    for (int i = 0; i < 200; ++i) out << "line " << i << std::endl;  // a write (IN_MODIFY) per line
  }
  ASSERT_TRUE(collector_.waitFor({root_ + "/log.txt", kItemModified | kItemIsFile}));
  // Events come in order: once a later file's arrives, every write's has.
  writeFile(root_ + "/marker.txt", "m");
  ASSERT_TRUE(collector_.waitFor({root_ + "/marker.txt", kItemCreated | kItemIsFile}));
  auto events = collector_.events();
  auto modified = std::count(events.begin(), events.end(), FileEvent{root_ + "/log.txt", kItemModified | kItemIsFile});
  EXPECT_LE(modified, 3) << "writes of one file within the latency are reported once";
}

TEST_F(InotifyEventStreamTest, RenamedFolderIsReportedWithTheFolderFlagAndKeepsItsWatches) {
  writeFile(root_ + "/old/inner/x.txt", "x");
  start();
  fs::rename(root_ + "/old", root_ + "/new");
  EXPECT_TRUE(collector_.waitFor({root_ + "/old", 0x20800}));
  EXPECT_TRUE(collector_.waitFor({root_ + "/new", 0x20800}));
  // The inner folder's watch now reports under the new path.
  writeFile(root_ + "/new/inner/y.txt", "y");
  EXPECT_TRUE(collector_.waitFor({root_ + "/new/inner/y.txt", kItemCreated | kItemIsFile}));
  for (const auto& event : collector_.events()) EXPECT_EQ(event.path.find(root_ + "/old/"), std::string::npos);
}

TEST_F(InotifyEventStreamTest, FolderCreatedAfterStartIsWatchedWithoutAGap) {
  fs::create_directories(root_);
  start();
  // Everything made before the new folder's watch exists is reported by the
  // stream's look into the new folder; everything after by the watch.
  fs::create_directories(root_ + "/new/deeper");
  writeFile(root_ + "/new/deeper/early.txt", "x");
  EXPECT_TRUE(collector_.waitFor({root_ + "/new", kItemCreated | kItemIsDir}));
  // The look into the new folder found this file: its watch was set before.
  EXPECT_TRUE(collector_.waitFor({root_ + "/new/deeper/early.txt", kItemCreated | kItemIsFile}));
  writeFile(root_ + "/new/deeper/late.txt", "x");
  EXPECT_TRUE(collector_.waitFor({root_ + "/new/deeper/late.txt", kItemModified | kItemIsFile}));
}

TEST_F(InotifyEventStreamTest, FolderMovedOutIsForgottenAndFolderMovedInIsWatched) {
  writeFile(root_ + "/leaving/a.txt", "a");
  writeFile(home_ / "outside/arriving/sub/b.txt", "b");
  start();
  fs::rename(root_ + "/leaving", home_ / "outside/left");
  fs::rename(home_ / "outside/arriving", root_ + "/arrived");
  EXPECT_TRUE(collector_.waitFor({root_ + "/leaving", 0x20800}));
  EXPECT_TRUE(collector_.waitFor({root_ + "/arrived", 0x20800}));
  collector_.clear();
  writeFile(home_ / "outside/left/c.txt", "c");
  writeFile(root_ + "/arrived/sub/d.txt", "d");
  EXPECT_TRUE(collector_.waitFor({root_ + "/arrived/sub/d.txt", kItemCreated | kItemIsFile}));
  for (const auto& event : collector_.events()) {
    EXPECT_EQ(event.path.find("c.txt"), std::string::npos) << event.path;
    EXPECT_EQ(event.path.find("/leaving"), std::string::npos) << event.path;
  }
}

TEST_F(InotifyEventStreamTest, IgnoredFoldersReportNothing) {
  fs::create_directories(root_ + "/own/db");
  fs::create_directories(root_ + "/user");
  FileEventStream::Options options;
  options.paths = {root_};
  options.ignoredPaths = {root_ + "/own"};
  start(options);
  writeFile(root_ + "/own/db/palverofiles.db", "x");
  writeFile(root_ + "/own/new/log1.log", "x");
  writeFile(root_ + "/user/doc.txt", "x");
  // Written before it: anything of /own would have come first.
  ASSERT_TRUE(collector_.waitFor({root_ + "/user/doc.txt", kItemModified | kItemIsFile}));
  for (const auto& event : collector_.events()) EXPECT_EQ(event.path.find("/own"), std::string::npos) << event.path;
}

TEST_F(InotifyEventStreamTest, LostEventsAskForARescanOfEveryRoot) {
  fs::create_directories(root_ + "/burst");
  std::string second = home_ / "second";
  fs::create_directories(second);
  FileEventStream::Options options;
  options.paths = {root_, second};
  start(options);
  collector_.blockNextDelivery();
  writeFile(root_ + "/first.txt", "x");
  ASSERT_TRUE(collector_.waitUntilBlocked());
  // While the handler holds the stream up, far more events than the kernel
  // queues (fs.inotify.max_queued_events, 16384 by default) pile up.
  size_t limit = 16384;
  if (std::ifstream in("/proc/sys/fs/inotify/max_queued_events"); in) in >> limit;
  ASSERT_LE(limit, 70000u) << "kernel queue too large to overflow in a test";
  for (size_t i = 0; i < limit + 1000; ++i) writeFile(root_ + "/burst/" + std::to_string(i), "");
  collector_.release();
  EXPECT_TRUE(collector_.waitFor({root_, kMustScanSubDirs | kKernelDropped}, 20s));
  EXPECT_TRUE(collector_.waitFor({second, kMustScanSubDirs | kKernelDropped}));
  EXPECT_TRUE(collector_.waitForWarning("overflowed"));
}

TEST_F(InotifyEventStreamTest, FullWatchTableIsReportedAndFallsBackToPeriodicRescans) {
  for (int i = 0; i < 6; ++i) fs::create_directories(root_ + "/d" + std::to_string(i));
  FileEventStream::Options options;
  options.paths = {root_};
  options.watchLimitForTesting = 3;
  options.degradedRescanInterval = 100ms;
  start(options);
  EXPECT_EQ(stream_.watchCount(), 3u);
  ASSERT_TRUE(collector_.waitForWarning("watch table is full"));
  auto warning = collector_.warningTexts().front();
  EXPECT_NE(warning.find("max_user_watches = 3"), std::string::npos) << warning;
  EXPECT_NE(warning.find("sysctl fs.inotify.max_user_watches="), std::string::npos) << warning;
  EXPECT_TRUE(collector_.waitFor({root_, kMustScanSubDirs | kUserDropped}));
  collector_.clear();
  EXPECT_TRUE(collector_.waitFor({root_, kMustScanSubDirs | kUserDropped})) << "the rescan request repeats";
}

TEST_F(InotifyEventStreamTest, StartWithoutAnyExistingRootFails) {
  FileEventStream::Options options;
  options.paths = {home_ / "missing"};
  EXPECT_FALSE(stream_.start(options, collector_.handler(), collector_.warnings()));
  EXPECT_FALSE(collector_.warningTexts().empty());
}

}  // namespace
}  // namespace palvero
