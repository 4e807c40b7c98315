// Fixture pieces for the application core: an engine double behind
// BlockEngine whose files finish when a test lets them, a server double
// that records what the core sends, hooks and a view that record what they
// are told, and a fixture with its own home, a fake clock and a fresh main
// run loop driven by the test thread.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainViewController.h"
#include "app/ThreadWorker.h"
#include "base/FakeClock.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "engine/BlockEngine.h"
#include "selection/BackupFilter.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "support/LogLines.h"
#include "support/TempHome.h"

namespace palvero::testing {

// What the engines do with each file, shared by every engine of a test.
class EngineScript {
 public:
  enum class Outcome { kOK, kFail, kSilent };

  void setOutcome(const std::string& path, Outcome outcome) {
    std::lock_guard lock(mutex_);
    outcomes_[path] = outcome;
  }
  // While held, an engine waits before finishing (until released or cancelled).
  void holdAll(bool hold) {
    std::lock_guard lock(mutex_);
    holdAll_ = hold;
    changed_.notify_all();
  }
  void release(const std::string& path) {
    std::lock_guard lock(mutex_);
    released_.insert(path);
    changed_.notify_all();
  }
  // Runs on the engine's thread just before it reports (a file changed mid-backup).
  void setBeforeReport(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    beforeReport_ = std::move(hook);
  }
  // Reports OK even when cancelled (a file that made it just before the stop).
  void setIgnoreCancel(bool ignore) { ignoreCancel_.store(ignore); }

  std::vector<std::pair<std::string, int64_t>> started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  size_t startedCount() const {
    std::lock_guard lock(mutex_);
    return started_.size();
  }
  int timesStarted(const std::string& path) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& [p, worker] : started_) count += p == path;
    return count;
  }
  // Files whose engines are waiting right now.
  size_t waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

  // The engine side.
  Outcome run(const std::string& path, int64_t worker, const std::atomic<bool>& cancel) {
    std::function<void(const std::string&)> hook;
    {
      std::unique_lock lock(mutex_);
      started_.emplace_back(path, worker);
      ++waiting_;
      changed_.wait_for(lock, std::chrono::seconds(20), [&] {
        return cancel.load() || !holdAll_ || released_.count(path) > 0;
      });
      --waiting_;
      hook = beforeReport_;
    }
    if (hook) hook(path);
    if (cancel.load() && !ignoreCancel_.load()) return Outcome::kFail;
    std::lock_guard lock(mutex_);
    auto it = outcomes_.find(path);
    return it == outcomes_.end() ? Outcome::kOK : it->second;
  }
  void wakeAll() { changed_.notify_all(); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Outcome> outcomes_;  // guarded by mutex_
  std::set<std::string> released_;           // guarded by mutex_
  bool holdAll_ = false;                     // guarded by mutex_
  std::vector<std::pair<std::string, int64_t>> started_;  // guarded by mutex_
  size_t waiting_ = 0;                                     // guarded by mutex_
  std::function<void(const std::string&)> beforeReport_;   // guarded by mutex_
  std::atomic<bool> ignoreCancel_{false};
};

class FakeEngine : public BlockEngine {
 public:
  explicit FakeEngine(std::shared_ptr<EngineScript> script) : script_(std::move(script)) {}

  bool backupFileWithArgs(const Value& args, int64_t WithIterator) override {
    std::string path = args.value("filePath", std::string());
    auto outcome = script_->run(path, WithIterator, cancel_);
    if (outcome == EngineScript::Outcome::kSilent) return false;
    bool ok = outcome == EngineScript::Outcome::kOK;
    NotificationCenter::defaultCenter().post(ok ? kBackupFileOK : kBackupFileFail,
                                             static_cast<const BlockEngine*>(this));
    return ok;
  }
  bool restoreFileWithArgs(const Value&, int64_t) override { return false; }
  void setCancel(bool cancel) override {
    cancel_.store(cancel);
    if (cancel) script_->wakeAll();
  }
  bool Cancel() const override { return cancel_.load(); }

 private:
  std::shared_ptr<EngineScript> script_;
  std::atomic<bool> cancel_{false};
};

class FakeServerLink : public ServerLink {
 public:
  const void* notificationSender() const override { return this; }
  bool syncAuthorise() override { return authoriseResult.load(); }
  int32_t syncPing() override { return ping.load(); }
  void sendStatus(const std::string& type, const std::string& description) override {
    std::lock_guard lock(mutex);
    statuses.emplace_back(type, description);
  }
  bool syncCheckVersion(int64_t, std::string& version) override {
    std::lock_guard lock(mutex);
    version = versionText;
    return newVersion;
  }
  bool saveSettings(const std::string& type) override {
    std::lock_guard lock(mutex);
    savedSettings.push_back(type);
    return true;
  }
  void loadSettings(const std::string&) override {}
  void loadExclusions() override {}
  bool syncDeleteVerFile(const std::string& encodedPathList) override {
    std::function<void()> hook;
    {
      std::lock_guard lock(mutex);
      deleteRequests.push_back(encodedPathList);
      hook = onDelete;
      if (failDeletes > 0) {
        --failDeletes;
        return false;
      }
    }
    if (hook) hook();
    return true;
  }
  std::optional<std::map<std::string, Value>> getStatisticByCategories() override { return std::nullopt; }
  void getSupportInfo() override {}
  void sendSerialNumbers() override {}
  void checkVersion(int64_t) override {}
  void downloadUpdate(int64_t) override {}
  void sendLogsWithMessage(const std::string&, bool) override {}

  std::vector<std::pair<std::string, std::string>> statusesOf(const std::string& type) {
    std::lock_guard lock(mutex);
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& status : statuses) {
      if (status.first == type) out.push_back(status);
    }
    return out;
  }

  std::atomic<bool> authoriseResult{true};
  std::atomic<int32_t> ping{2};
  std::mutex mutex;
  bool newVersion = false;                                     // guarded by mutex
  std::string versionText = "2.1.0.0";                         // guarded by mutex
  std::vector<std::pair<std::string, std::string>> statuses;   // guarded by mutex
  std::vector<std::string> savedSettings;                      // guarded by mutex
  std::vector<std::string> deleteRequests;                     // guarded by mutex
  int failDeletes = 0;                                         // guarded by mutex
  std::function<void()> onDelete;                              // guarded by mutex
};

class FakeHooks : public ApplicationHooks {
 public:
  bool isInSleep() const override { return inSleep.load(); }
  void setIsInSleep(bool sleeping) override { inSleep.store(sleeping); }
  void relaunchAfterDelay() override {}

  std::atomic<bool> inSleep{false};
};

class RecordingView : public MainView {
 public:
  void backupRunEnded(const RunSummary& summary) override {
    std::lock_guard lock(mutex);
    runs.push_back(summary);
  }
  size_t runCount() {
    std::lock_guard lock(mutex);
    return runs.size();
  }

  std::mutex mutex;
  std::vector<RunSummary> runs;  // guarded by mutex
};

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // The fake clock runs an hour ahead of the real one, so files written by
    // the test are an hour old and nothing is held back unless a test says so.
    Date realNow = SystemClock().now();
    clock_ = std::make_shared<FakeClock>(realNow.addingTimeInterval(3600));
    clock_->setAutoAdvance(false);
    Clock::setCurrent(clock_);
    loop_ = std::make_shared<StdRunLoop>();
    RunLoop::setMain(loop_);
    loop_->runPending();
    home_ = std::make_unique<TempHome>();
    script_ = std::make_shared<EngineScript>();
    server_ = std::make_shared<FakeServerLink>();
    {
      std::lock_guard lock(view_.mutex);
      view_.runs.clear();
    }
    resetUpperSingletons();
    auto& settings = LocalSettings::sharedManager();
    settings.setIsInitialized(true);
    settings.setNumberOfThreads(3);
    // A client that has scanned its folder: the controller's start runs no
    // first scan unless a test clears this.
    settings.setDateLastScan(Clock::current()->now());
    settings.save();
    DBManager::sharedDBManager().CreateDatabase();
  }

  void TearDown() override {
    script_->holdAll(false);
    controller_.reset();
    resetUpperSingletons();
    home_.reset();
    RunLoop::setMain(nullptr);
    Clock::setCurrent(nullptr);
  }

  static void resetUpperSingletons() {
    ThreadWorker::resetForTesting();
    BackupFilter::resetForTesting();
    FileScanner::resetForTesting();
    CommonExtensions::resetForTesting();
  }

  // A controller with the designed start-up, the periodic timers off.
  MainViewController& makeController(int threads = 3) {
    auto& settings = LocalSettings::sharedManager();
    settings.setNumberOfThreads(threads);
    settings.save();
    MainViewController::Options options;
    options.periodicTimers = false;
    options.checkStatusAtStart = false;
    options.requestSupportInfo = false;
    auto script = script_;
    controller_ = std::make_unique<MainViewController>(
        server_, [script] { return std::make_shared<FakeEngine>(script); }, &view_, &hooks_, options);
    controller_->initialize();
    controller_->setStatusForTesting(true, 2);
    return *controller_;
  }

  // Real files in the home folder, queued as waiting rows.
  std::vector<std::string> queueFiles(int count, const std::string& prefix = "file", int64_t size = 100) {
    std::vector<std::string> paths;
    std::vector<BackupFile> rows;
    for (int i = 0; i < count; ++i) {
      char name[64];
      std::snprintf(name, sizeof(name), "%s%04d.txt", prefix.c_str(), i);
      std::string path = (*home_) / ("docs/" + std::string(name));
      writeFile(path, std::string(static_cast<size_t>(size), 'x'));
      paths.push_back(path);
      rows.push_back(BackupFile{path, kQueueWaiting, "2024-01-01 10:00", size, ""});
    }
    DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(rows, true);
    FilesToBackup::sharedFilesToBackup().load();
    return paths;
  }

  // Sets a file's modification time `secondsAgo` before the fake clock's now.
  void touchAgo(const std::string& path, double secondsAgo) {
    double when = Clock::current()->now().timeIntervalSince1970() - secondsAgo;
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(when);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((when - static_cast<double>(times[0].tv_sec)) * 1e9);
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  // Runs the main loop until `done` holds (real time, at most `timeout`).
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return loop_->runUntil(done, timeout);
  }
  // Moves the fake clock and fires what became due.
  void advance(std::chrono::duration<double> by) {
    clock_->advance(std::chrono::duration_cast<Clock::Duration>(by));
    loop_->runPending();
  }
  bool runEnded() {
    return runUntil([&] { return view_.runCount() > 0 && !controller_->anyWorkerActive(); });
  }
  static int32_t statusOf(const std::string& path) {
    for (int32_t status : {0, 1, 2, 3}) {
      for (const auto& row : DBManager::sharedDBManager().SelectFileFromDatabase(true, status)) {
        if (row.path == path) return status;
      }
    }
    return -1;
  }
  // The last lines of the log, for failure messages.
  static std::string lastLogLines(size_t count = 25) {
    auto lines = loggedTexts();
    std::string text;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) text += lines[i] + "\n";
    return text;
  }
  static bool logged(const std::string& prefix) { return !loggedTextsStartingWith(prefix).empty(); }

  std::shared_ptr<FakeClock> clock_;
  std::shared_ptr<StdRunLoop> loop_;
  std::unique_ptr<TempHome> home_;
  std::shared_ptr<EngineScript> script_ = std::make_shared<EngineScript>();
  std::shared_ptr<FakeServerLink> server_ = std::make_shared<FakeServerLink>();
  FakeHooks hooks_;
  RecordingView view_;
  std::unique_ptr<MainViewController> controller_;
};

}  // namespace palvero::testing
