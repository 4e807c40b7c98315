// BackupRun and BackupScheduler on their own, with the controller replaced by
// recording callbacks: what the run tells (once) when completions race its
// hand-outs or a stop, and what a daily firing decides from what it sees.
#include "AppTestSupport.h"
#include "app/BackupRun.h"
#include "app/BackupScheduler.h"
#include "app/DesktopAlerts.h"
#include "app/ThreadManager.h"

namespace palvero::testing {
namespace {

class BackupRunTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    BackupRun::Callbacks callbacks;
    callbacks.restoring = [] { return false; };
    callbacks.stop = [this] { run_->stop(); };
    callbacks.recount = [] {};
    callbacks.filesToBackupCount = [] { return int64_t{0}; };
    callbacks.sendEndStatus = [](int64_t) {};
    callbacks.failedForGood = [](std::vector<std::string>) {};
    callbacks.ended = [this] { ++ended_; };
    callbacks.finished = [this](const RunSummary& summary) {
      bool active = run_->anyWorkerActive();
      std::lock_guard lock(mutex_);
      finished_.push_back(summary);
      workerActiveWhenFinished_ = workerActiveWhenFinished_ || active;
    };
    run_ = std::make_unique<BackupRun>(std::move(callbacks));
    auto& center = NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(BlockEngine::kBackupFileOK, nullptr,
                                            [this](const Notification&) { run_->fileSucceeded(); }));
    observers_.push_back(
        center.addObserver(BlockEngine::kBackupFileFail, nullptr, [this](const Notification&) { run_->fileFailed(); }));
  }
  void TearDown() override {
    script_->holdAll(false);
    if (run_) run_->cancelEngines();
    ThreadManager::sharedThreadManager().waitForWorkerThreads(std::chrono::seconds(20));
    for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
    run_.reset();
    AppFixture::TearDown();
  }
  void makeWorkers(int count) {
    ThreadWorker::BackupList workers;
    for (int i = 0; i < count; ++i) {
      workers.push_back(std::make_shared<BackupThread>(i, std::make_shared<FakeEngine>(script_)));
    }
    run_->replaceWorkers(std::move(workers));
  }
  void stopWhileBusy(bool madeIt);
  bool idle() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (run_->anyWorkerActive() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ThreadManager::sharedThreadManager().waitForWorkerThreads(std::chrono::seconds(20));
  }

  std::unique_ptr<BackupRun> run_;
  std::vector<NotificationCenter::Token> observers_;
  std::atomic<int> ended_{0};
  std::mutex mutex_;
  std::vector<RunSummary> finished_;       // guarded by mutex_
  bool workerActiveWhenFinished_ = false;  // guarded by mutex_
};

// Engines that finish at once report while begin() still hands out: every
// file goes out once, and the end is told once, after the last worker.
TEST_F(BackupRunTest, CompletionsRacingTheHandOutsEndTheRunOnce) {
  auto paths = queueFiles(60);
  makeWorkers(4);
  ASSERT_TRUE(run_->begin());
  ASSERT_TRUE(idle());
  for (const auto& path : paths) EXPECT_EQ(script_->timesStarted(path), 1) << path;
  EXPECT_EQ(ended_.load(), 1);
  EXPECT_FALSE(run_->active());
  EXPECT_EQ(run_->cursor(), -1);
  std::lock_guard lock(mutex_);
  ASSERT_EQ(finished_.size(), 1u) << lastLogLines();
  EXPECT_TRUE(finished_[0].finished);
  EXPECT_EQ(finished_[0].filesBackedUp, 60);
  EXPECT_FALSE(workerActiveWhenFinished_);
}

// A stop while every worker is busy: whether the engines still make it
// (kept, nothing more handed out) or give up (waiting, no try counted), the
// stop is told once, after the last worker let go.
void BackupRunTest::stopWhileBusy(bool madeIt) {
  auto paths = queueFiles(6);
  script_->holdAll(true);
  script_->setIgnoreCancel(madeIt);
  makeWorkers(3);
  ASSERT_TRUE(run_->begin());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 3; }));
  run_->stop();
  ASSERT_TRUE(idle());
  EXPECT_EQ(script_->startedCount(), 3u) << "nothing handed out after the stop";
  std::set<std::string> started;
  for (const auto& [path, worker] : script_->started()) started.insert(path);
  for (const auto& path : paths) {
    EXPECT_EQ(statusOf(path) == kQueueWaiting, !(madeIt && started.count(path))) << path;
  }
  std::lock_guard lock(mutex_);
  ASSERT_EQ(finished_.size(), 1u) << lastLogLines();
  EXPECT_FALSE(finished_[0].finished);
  EXPECT_EQ(finished_[0].filesBackedUp, madeIt ? 3 : 0);
  EXPECT_EQ(finished_[0].filesFailed, 0);
  EXPECT_FALSE(workerActiveWhenFinished_);
}

TEST_F(BackupRunTest, StopWhileBusyAndTheFilesGiveUp) { stopWhileBusy(false); }
TEST_F(BackupRunTest, StopWhileBusyAndTheFilesStillMakeIt) { stopWhileBusy(true); }

class DailyFiringTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    auto& settings = LocalSettings::sharedManager();
    settings.saveParameter("BackupTimingType", LocalSettings::kTimingDaily);
    settings.saveParameter("BackupOnSetTime", false);
    settings.setBackupTimingTime(Date::now().addingTimeInterval(-3600));
    settings.save();
    facts_.statusOK = facts_.connected = true;
    facts_.queued = 5;
    BackupScheduler::Host host;
    host.facts = [this] { return facts_; };
    host.recount = [this] { return facts_.queued; };
    host.heldBackReason = [] { return std::string("held back"); };
    host.showInProgress = [] {};
    host.loadQueue = [this] { return facts_.queued > 0; };
    host.startBackup = [this] {
      ++starts_;
      return true;
    };
    host.sendSettings = [](const char*) {};
    scheduler_ = std::make_unique<BackupScheduler>(std::move(host));
    token_ = NotificationCenter::defaultCenter().addObserver(DesktopAlerts::kScheduledBackupNotStarted, nullptr,
                                                             [this](const Notification&) { ++refusals_; });
  }
  void TearDown() override {
    NotificationCenter::defaultCenter().removeObserver(token_);
    scheduler_.reset();
    AppFixture::TearDown();
  }

  BackupScheduler::Facts facts_;
  std::unique_ptr<BackupScheduler> scheduler_;
  NotificationCenter::Token token_{};
  int starts_ = 0;
  int refusals_ = 0;
};

// Every refused firing leaves a timer armed (else no daily backup would ever
// run again), and only a real refusal is reported.
TEST_F(DailyFiringTest, RefusedFiringsKeepATimerAndReportOnlyRealRefusals) {
  struct Case {
    const char* name;
    std::function<void(BackupScheduler::Facts&)> change;
    bool started;
    bool reported;
  };
  const Case cases[] = {
      {"all well", [](auto&) {}, true, false},
      {"status held back", [](auto& f) { f.statusOK = false; }, false, true},
      {"service unreachable", [](auto& f) { f.connected = false; }, false, true},
      {"restore running", [](auto& f) { f.restoring = true; }, false, true},
      {"nothing waiting", [](auto& f) { f.queued = 0; }, false, false},
      {"storage full", [](auto& f) { f.storageFull = true; }, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    facts_ = BackupScheduler::Facts{};
    facts_.statusOK = facts_.connected = true;
    facts_.queued = 5;
    c.change(facts_);
    starts_ = refusals_ = 0;
    scheduler_->runStarted();
    scheduler_->dropBackupTimer();
    scheduler_->startAutoBackup();
    EXPECT_EQ(starts_, c.started ? 1 : 0);
    EXPECT_EQ(refusals_, c.reported ? 1 : 0);
    auto timer = scheduler_->backupTimer();
    EXPECT_TRUE(timer && timer->isValid());
  }
}

// The one-minute retries of a refused start are not reported again; the
// first refusal after a run started is.
TEST_F(DailyFiringTest, ARefusalIsReportedOncePerRunNotPerRetry) {
  facts_.statusOK = false;
  scheduler_->startAutoBackup();
  advance(BackupScheduler::kDailyRetry + std::chrono::seconds(1));
  advance(BackupScheduler::kDailyRetry + std::chrono::seconds(1));
  EXPECT_EQ(refusals_, 1);
  facts_.statusOK = true;
  advance(BackupScheduler::kDailyRetry + std::chrono::seconds(1));
  EXPECT_EQ(starts_, 1);
  scheduler_->runStarted();
  facts_.statusOK = false;
  scheduler_->startAutoBackup();
  EXPECT_EQ(refusals_, 2);
}

}  // namespace
}  // namespace palvero::testing
