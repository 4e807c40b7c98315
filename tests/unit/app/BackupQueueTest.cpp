// The backup queue with engine doubles: hand-outs, the batch closer, the end
// of a run, pause, stop, failures and their tries, and the bookkeeping of
// many files finishing at once.
#include <algorithm>

#include "AppTestSupport.h"
#include "platform/PreferencesStore.h"

namespace palvero::testing {
namespace {

using Outcome = EngineScript::Outcome;

class BackupQueueTest : public AppFixture {};

struct HandOutCase {
  const char* name;
  int workers;
  int files;
  size_t startedAtOnce;
  int64_t backupItrAfterStart;
};

class HandOutTest : public AppFixture, public ::testing::WithParamInterface<HandOutCase> {};

TEST_P(HandOutTest, FirstFilesAndCursorThenEachFinishTakesTheNext) {
  const HandOutCase& c = GetParam();
  auto paths = queueFiles(c.files);
  auto& controller = makeController(c.workers);
  script_->holdAll(true);

  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == c.startedAtOnce; }));
  auto started = script_->started();
  ASSERT_EQ(started.size(), c.startedAtOnce);
  std::map<std::string, int64_t> workerOf(started.begin(), started.end());
  for (size_t i = 0; i < c.startedAtOnce; ++i) {
    ASSERT_TRUE(workerOf.count(paths[i])) << "file " << i << " started";
    EXPECT_EQ(workerOf[paths[i]], static_cast<int64_t>(i)) << "file " << i << " goes to worker " << i;
  }
  EXPECT_EQ(controller.backupItr(), c.backupItrAfterStart);
  int active = 0;
  for (const auto& worker : ThreadWorker::sharedThreadWorker().backupThreads()) active += worker->isActive();
  EXPECT_EQ(active, static_cast<int>(c.startedAtOnce));

  // The first worker to finish takes the next file of the batch.
  script_->release(paths[0]);
  if (c.files > static_cast<int>(c.startedAtOnce)) {
    ASSERT_TRUE(runUntil([&] { return script_->startedCount() == c.startedAtOnce + 1; }));
    auto next = script_->started().back();
    EXPECT_EQ(next.first, paths[c.startedAtOnce]);
    EXPECT_EQ(next.second, 0) << "worker 0 finished first";
    EXPECT_EQ(controller.backupItr(), c.backupItrAfterStart + 1);
  }
  script_->holdAll(false);
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), static_cast<size_t>(c.files)) << "each file once";
  for (const auto& path : paths) EXPECT_EQ(statusOf(path), -1) << path << " done and removed";
  EXPECT_EQ(controller.backupItr(), -1);
  EXPECT_FALSE(controller.backuping());
  EXPECT_TRUE(logged("Backup ended. FilesToBackup:"));
  ASSERT_EQ(server_->statusesOf("backupend").size(), 1u);
  EXPECT_EQ(server_->statusesOf("backupend")[0].second, "OK");
}

INSTANTIATE_TEST_SUITE_P(Cases, HandOutTest,
                         ::testing::Values(HandOutCase{"ThreeWorkersTwoFiles", 3, 2, 2, 2},
                                           HandOutCase{"ThreeWorkersFiveFiles", 3, 5, 3, 2},
                                           HandOutCase{"OneWorker", 1, 3, 1, 0},
                                           HandOutCase{"TenWorkersOneFile", 10, 1, 1, 1}),
                         [](const ::testing::TestParamInfo<HandOutCase>& param) { return std::string(param.param.name); });

TEST_F(BackupQueueTest, BatchClosesOnlyWhenTheLastWorkerFinishes) {
  auto paths = queueFiles(2);
  auto& controller = makeController(3);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 2; }));
  script_->release(paths[0]);
  ASSERT_TRUE(runUntil([&] { return logged("This thread has ended work, waiting for the remaining threads"); }));
  // The finished file is written at once; the batch is still open.
  EXPECT_EQ(statusOf(paths[0]), kQueueDone);
  EXPECT_EQ(statusOf(paths[1]), kQueueWaiting);
  EXPECT_TRUE(controller.backuping());
  EXPECT_FALSE(logged("Starting next backup queue method") && logged("Backup ended"));
  script_->release(paths[1]);
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_TRUE(logged("Backup ended. FilesToBackup:"));
}

// A clean ending is HandOutTest's; a failed last file ends the run with errors.
TEST_F(BackupQueueTest, AFailedFileEndsTheRunWithErrors) {
  auto paths = queueFiles(1);
  script_->setOutcome(paths[0], Outcome::kFail);
  auto& controller = makeController(1);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_TRUE(logged("Backup ended (with errors). FilesToBackup:"));
  EXPECT_FALSE(logged("Backup ended. FilesToBackup:"));
  auto ends = server_->statusesOf("backupend");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].second, "ERROR: 1 failed files");
  std::lock_guard lock(view_.mutex);
  ASSERT_EQ(view_.runs.size(), 1u);
  EXPECT_TRUE(view_.runs[0].finished);
  EXPECT_EQ(view_.runs[0].filesFailed, 1);
  EXPECT_EQ(view_.runs[0].filesBackedUp, 0);
}

TEST_F(BackupQueueTest, NextBatchComesFromTheDatabaseInBatchesOf400) {
  // 401 waiting rows: a batch of 400 and one of 1, each file once.
  auto paths = queueFiles(401);
  auto& controller = makeController(4);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 401u);
  std::set<std::string> seen;
  for (const auto& [path, worker] : script_->started()) EXPECT_TRUE(seen.insert(path).second) << path;
  EXPECT_TRUE(logged("New files added to the backup queue from database. Total number is 1"));
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 0);
}

TEST_F(BackupQueueTest, FileModifiedFiveSecondsAgoIsHeldBackByTheBatchCloser) {
  auto first = queueFiles(1, "a");
  auto& controller = makeController(1);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1; }));
  // While the first batch runs, a file changed five seconds ago is queued.
  auto second = queueFiles(1, "b");
  touchAgo(second[0], 5);
  script_->holdAll(false);
  ASSERT_TRUE(runUntil([&] { return logged("New files added to the backup queue from database"); }));
  loop_->runPending();
  EXPECT_EQ(script_->startedCount(), 1u) << "not handed out while it may still be written";
  EXPECT_TRUE(controller.anyWorkerActive()) << "the worker keeps it, so the run does not end";
  advance(std::chrono::seconds(4));
  EXPECT_EQ(script_->startedCount(), 1u);
  advance(std::chrono::milliseconds(1200));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->timesStarted(second[0]), 1);
}

TEST_F(BackupQueueTest, StartWithAFileModifiedJustNowReturnsAtOnceAndStartsItTenSecondsLater) {
  auto paths = queueFiles(1);
  touchAgo(paths[0], 0);
  auto& controller = makeController(1);
  auto slept = clock_->totalSlept();
  ASSERT_TRUE(controller.startBackup());
  EXPECT_EQ(clock_->totalSlept(), slept) << "the wait is a timer, not a sleep of the main thread";
  loop_->runPending();
  EXPECT_EQ(script_->startedCount(), 0u);
  advance(std::chrono::seconds(9));
  EXPECT_EQ(script_->startedCount(), 0u);
  advance(std::chrono::milliseconds(1200));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 1u);
}

// Recent files wait, but their workers take the quiet files of the batch
// meanwhile instead of idling; each file goes out once.
class RecentFilesTest : public AppFixture, public ::testing::WithParamInterface<int> {};

TEST_P(RecentFilesTest, WaitWhileTheQuietOnesOfTheBatchGoFirst) {
  auto paths = queueFiles(7);
  // Three recent files, first in the batch.
  touchAgo(paths[0], 2);
  touchAgo(paths[1], 0);
  touchAgo(paths[2], 1);
  auto& controller = makeController(GetParam());
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->startedCount() == 4 && script_->waiting() == 0; })) << lastLogLines();
  loop_->runPending();
  std::set<std::string> started;
  for (const auto& [path, worker] : script_->started()) started.insert(path);
  EXPECT_EQ(started, (std::set<std::string>{paths[3], paths[4], paths[5], paths[6]}));
  EXPECT_TRUE(controller.anyWorkerActive()) << "the recent files keep the run open";
  bool ended = false;
  for (int step = 0; step < 8 && !ended; ++step) {
    advance(std::chrono::seconds(3));
    ended =
        runUntil([&] { return view_.runCount() > 0 && !controller.anyWorkerActive(); }, std::chrono::milliseconds(300));
  }
  ASSERT_TRUE(ended) << lastLogLines();
  for (const auto& path : paths) {
    EXPECT_EQ(script_->timesStarted(path), 1) << path;
    EXPECT_EQ(statusOf(path), -1) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, RecentFilesTest, ::testing::Values(1, 3));

TEST_F(BackupQueueTest, FileWrittenAllTheTimeIsHandedOutAfterSixHoldBacks) {
  auto paths = queueFiles(1);
  auto& controller = makeController(1);
  // Each check finds the file changed again moments ago.
  touchAgo(paths[0], -10.5);
  ASSERT_TRUE(controller.startBackup());
  int holdBacks = 0;
  for (; holdBacks < MainViewController::kMaxHoldBacks + 2 && script_->startedCount() == 0; ++holdBacks) {
    touchAgo(paths[0], -10.5);
    advance(std::chrono::milliseconds(10100));
    runUntil([&] { return script_->startedCount() > 0; }, std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), 1u);
  EXPECT_EQ(holdBacks, MainViewController::kMaxHoldBacks);
}

TEST_F(BackupQueueTest, PauseCancelsEveryEngineKeepsDoneFilesAndCountsNoTry) {
  auto paths = queueFiles(5);
  auto& controller = makeController(3);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 3; }));
  script_->release(paths[0]);
  ASSERT_TRUE(runUntil([&] { return script_->startedCount() == 4 && script_->waiting() == 3; }));

  controller.statusButton();  // pause
  for (const auto& worker : ThreadWorker::sharedThreadWorker().backupThreads()) {
    EXPECT_TRUE(worker->deltaHandler->Cancel());
  }
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(loggedTextsStartingWith("Backup cancelled").size(), 3u);
  EXPECT_TRUE(controller.isPaused());
  EXPECT_EQ(controller.statusModel().buttonImage, StatusModel::ButtonImage::kResume);
  EXPECT_EQ(statusOf(paths[0]), kQueueDone);
  for (size_t i = 1; i < paths.size(); ++i) EXPECT_EQ(statusOf(paths[i]), kQueueWaiting) << paths[i];
  EXPECT_TRUE(DBManager::sharedDBManager().selectFailedFiles(true).empty());
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFailedFilesWithoutTries(true), 0);
  ASSERT_FALSE(server_->statusesOf("backupend").empty());

  // Resume: new workers, the rest of the queue, done files not again.
  script_->holdAll(false);
  controller.statusButton();
  ASSERT_TRUE(runUntil([&] { return view_.runCount() == 2 && !controller.anyWorkerActive(); }));
  EXPECT_EQ(script_->timesStarted(paths[0]), 1);
  for (const auto& path : paths) EXPECT_EQ(statusOf(path), -1);
}

TEST_F(BackupQueueTest, FailuresReturnToWaitingBelowFiveTriesAndStayFailedAtFive) {
  auto paths = queueFiles(1);
  script_->setOutcome(paths[0], Outcome::kFail);
  auto& controller = makeController(1);
  for (int run = 1; run <= 5; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    {
      std::lock_guard lock(view_.mutex);
      view_.runs.clear();
    }
    ASSERT_TRUE(controller.startBackup());
    ASSERT_TRUE(runEnded()) << lastLogLines();
    auto failed = DBManager::sharedDBManager().selectFailedFiles(true);
    if (run < 5) {
      EXPECT_EQ(statusOf(paths[0]), kQueueWaiting);
      EXPECT_TRUE(failed.empty());
    } else {
      EXPECT_EQ(statusOf(paths[0]), kQueueFailed);
      ASSERT_EQ(failed.size(), 1u);
      EXPECT_EQ(failed[0].path, paths[0]);
    }
  }
  // The status check now refuses runs; the two-hourly retry gives it back.
  controller.evaluateCheckStatus();
  EXPECT_FALSE(controller.statusOK());
  EXPECT_EQ(controller.checkStatusModel().failedFiles.text, "You have failed files");
  controller.tryToBackupFailedFiles();
  EXPECT_EQ(statusOf(paths[0]), kQueueWaiting);
  EXPECT_EQ(controller.filesToBackupCount(), 1);
}

TEST_F(BackupQueueTest, ManyFilesAtOnceNeverMixUpDoneAndFailed) {
  auto paths = queueFiles(300);
  std::set<std::string> failing;
  for (size_t i = 0; i < paths.size(); i += 7) {
    failing.insert(paths[i]);
    script_->setOutcome(paths[i], Outcome::kFail);
  }
  auto& controller = makeController(10);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->startedCount(), paths.size());
  for (const auto& path : paths) {
    if (failing.count(path)) {
      EXPECT_EQ(statusOf(path), kQueueWaiting) << path << ": failed once, returned with one try";
    } else {
      EXPECT_EQ(statusOf(path), -1) << path << ": done";
    }
  }
  std::lock_guard lock(view_.mutex);
  ASSERT_EQ(view_.runs.size(), 1u);
  EXPECT_EQ(view_.runs[0].filesFailed, static_cast<int64_t>(failing.size()));
  EXPECT_EQ(view_.runs[0].filesBackedUp, static_cast<int64_t>(paths.size() - failing.size()));
  EXPECT_EQ(view_.runs[0].bytesBackedUp, static_cast<int64_t>((paths.size() - failing.size()) * 100));
}

TEST_F(BackupQueueTest, FileChangedDuringItsBackupGoesBackToWaitingOnce) {
  auto paths = queueFiles(3);
  script_->setBeforeReport([&](const std::string& path) {
    if (path == paths[1]) writeFile(path, "changed while its backup ran");
  });
  auto& controller = makeController(2);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(statusOf(paths[0]), -1);
  EXPECT_EQ(statusOf(paths[1]), kQueueWaiting) << "its change is not lost";
  EXPECT_EQ(statusOf(paths[2]), -1);
  EXPECT_EQ(script_->timesStarted(paths[1]), 1) << "not again in the same run";
  EXPECT_FALSE(FilesToBackup::sharedFilesToBackup().containsPath(paths[0]));
}

TEST_F(BackupQueueTest, EngineWithoutResultStopsTheRunWithoutCountingATry) {
  auto paths = queueFiles(3);
  script_->setOutcome(paths[0], Outcome::kSilent);
  auto& controller = makeController(1);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_FALSE(controller.backuping());
  EXPECT_EQ(script_->startedCount(), 1u);
  for (const auto& path : paths) EXPECT_EQ(statusOf(path), kQueueWaiting);
  std::lock_guard lock(view_.mutex);
  ASSERT_EQ(view_.runs.size(), 1u);
  EXPECT_FALSE(view_.runs[0].finished);
  EXPECT_EQ(view_.runs[0].stopReason, "the session could not be renewed");
}

TEST_F(BackupQueueTest, RefusedStarts) {
  queueFiles(1);
  auto& controller = makeController(1);
  controller.setStatusForTesting(false, 2);
  EXPECT_FALSE(controller.startBackup());
  EXPECT_TRUE(controller.isPaused());
  controller.setStatusForTesting(true, 0);
  EXPECT_FALSE(controller.startBackup());
  controller.setStatusForTesting(true, 2);
  server_->authoriseResult = false;
  EXPECT_FALSE(controller.startBackup());
  EXPECT_TRUE(logged("Start backup - authorise fail"));
  EXPECT_EQ(script_->startedCount(), 0u);
}

TEST_F(BackupQueueTest, EmptyQueueRunEndsAtOnce) {
  auto& controller = makeController(2);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_FALSE(controller.backuping());
  EXPECT_EQ(server_->statusesOf("backupend").size(), 1u);
}

struct SliderCase {
  int position;
  int expectedThreads;
};

class ThreadCountTest : public AppFixture, public ::testing::WithParamInterface<SliderCase> {};

TEST_P(ThreadCountTest, SliderPositionStoresThreadsAndRecreatesBothLists) {
  auto& controller = makeController(3);
  controller.changeNumberOfThreads(GetParam().position);
  EXPECT_EQ(LocalSettings::sharedManager().numberOfThreads(), GetParam().expectedThreads);
  EXPECT_EQ(ThreadWorker::sharedThreadWorker().backupThreads().size(), static_cast<size_t>(GetParam().expectedThreads));
  EXPECT_EQ(ThreadWorker::sharedThreadWorker().restoreThreads().size(),
            static_cast<size_t>(GetParam().expectedThreads));
  PreferencesStore::resetForTesting();
  LocalSettings::resetForTesting();
  EXPECT_EQ(LocalSettings::sharedManager().numberOfThreads(), GetParam().expectedThreads) << "saved";
}

INSTANTIATE_TEST_SUITE_P(Positions, ThreadCountTest,
                         ::testing::Values(SliderCase{1, 1}, SliderCase{2, 2}, SliderCase{3, 4}, SliderCase{4, 5},
                                           SliderCase{5, 10}, SliderCase{0, 3}, SliderCase{6, 3}),
                         [](const ::testing::TestParamInfo<SliderCase>& param) { return "Position" + std::to_string(param.param.position); });

}  // namespace
}  // namespace palvero::testing
