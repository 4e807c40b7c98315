// The restore queue's hand-outs with engines the test holds: which entry
// each worker gets, what an outcome does, what stays for a later run.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

// An engine that reports each file only when the test says how it ends.
class GatedEngine final : public BlockEngine {
 public:
  bool backupFileWithArgs(const Value&, int64_t) override { return false; }

  bool restoreFileWithArgs(const Value& args, int64_t) override {
    std::optional<std::string> error;
    {
      std::unique_lock lock(mutex_);
      holding_ = args.value("filePath", std::string());
      targets_.push_back(args.value("targetPath", std::string()));
      changed_.notify_all();
      changed_.wait(lock, [this] { return !verdicts_.empty() || cancel_.load(); });
      if (verdicts_.empty()) {
        error = "Restore manually cancelled";
      } else {
        error = verdicts_.front();
        verdicts_.pop_front();
      }
      holding_.clear();
    }
    auto sender = static_cast<const BlockEngine*>(this);
    if (error->empty()) {
      NotificationCenter::defaultCenter().post(kRestoreOK, sender);
    } else {
      NotificationCenter::defaultCenter().post(kRestoreFail, sender, Value{{"error", *error}});
    }
    return error->empty();
  }

  void setCancel(bool cancel) override {
    std::lock_guard lock(mutex_);
    cancel_.store(cancel);
    changed_.notify_all();
  }
  bool Cancel() const override { return cancel_.load(); }

  // Ends the file in hand: "" restored, else failed with that text.
  void finish(const std::string& error = "") {
    std::lock_guard lock(mutex_);
    verdicts_.push_back(error);
    changed_.notify_all();
  }
  // The file the engine works on now; waits up to 10 s for one.
  std::string holding() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !holding_.empty(); });
    return holding_;
  }
  std::vector<std::string> targets() {
    std::lock_guard lock(mutex_);
    return targets_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> verdicts_;  // guarded by mutex_
  std::string holding_;               // guarded by mutex_
  std::vector<std::string> targets_;  // guarded by mutex_
  std::atomic<bool> cancel_{false};
};

class QueueTest : public RestoreFixture {
 protected:
  // A manager with `count` gated workers, `files` entries in the table and
  // the destination home/out.
  void start(size_t count, size_t files) {
    manager_ = std::make_unique<RestoreManager>(newServer(), CommonExtensions::sharedExtensionsManager());
    manager_->setWorkers(count, [this] {
      engines_.push_back(std::make_shared<GatedEngine>());
      return engines_.back();
    });
    Value entries = Value::array();
    for (size_t i = 0; i < files; ++i) {
      entries.push_back(RestoreEntry{entry(i), -1, "", 100}.toValue());
    }
    ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(entries, false));
    RestoreChoice choice;
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = home_ / "out";
    manager_->setChoice(choice);
    manager_->saveChoice();
    manager_->restoreFromDb();
  }

  std::string entry(size_t i) const { return home_ / stringWithFormat("docs/f%zu.txt", i); }

  std::vector<std::shared_ptr<GatedEngine>> engines_;
};

TEST_F(QueueTest, ThreeWorkersTakeTheFirstThreeAndTheFourthGoesToTheFirstToReport) {
  start(3, 5);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(engines_[i]->holding(), entry(i)) << "worker " << i;
  EXPECT_EQ(manager_->handedOut(), (std::vector<std::string>{entry(0), entry(1), entry(2)}));

  engines_[1]->finish();
  ASSERT_TRUE(loop_->runUntil([&] { return manager_->handedOut().size() == 4; }, std::chrono::seconds(10)));
  EXPECT_EQ(engines_[1]->holding(), entry(3));
  engines_[2]->finish("Missing part of file");
  ASSERT_TRUE(loop_->runUntil([&] { return manager_->handedOut().size() == 5; }, std::chrono::seconds(10)));
  EXPECT_EQ(engines_[2]->holding(), entry(4));

  for (auto i : {0, 1, 2}) engines_[i]->finish();
  ASSERT_TRUE(runToEnd(30));
  EXPECT_EQ(manager_->filesRestored(), 4);
  ASSERT_EQ(manager_->failedFiles().size(), 1u);
  EXPECT_EQ(manager_->failedFiles()[0].path, entry(2));
  EXPECT_EQ(manager_->failedFiles()[0].error, "Missing part of file");
  EXPECT_EQ(engines_[1]->targets(), (std::vector<std::string>{home_ / "out/docs/f1.txt", home_ / "out/docs/f3.txt"}))
      << "the backup folder is replaced by the destination";
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 0);
  EXPECT_FALSE(manager_->restoring());
}

TEST_F(QueueTest, APauseKeepsWhatIsNotRestoredForTheNextRun) {
  start(2, 5);
  ASSERT_EQ(engines_[0]->holding(), entry(0));
  engines_[0]->finish();
  ASSERT_TRUE(loop_->runUntil([&] { return manager_->handedOut().size() == 3; }, std::chrono::seconds(10)));
  manager_->pauseRestore();
  ASSERT_TRUE(manager_->waitUntilIdle(std::chrono::seconds(10)));
  loop_->runPending();
  EXPECT_FALSE(ended_) << "a pause is not the end";
  std::set<std::string> left;
  for (const auto& row : DBManager::sharedDBManager().SelectRestoreFilesFromDatabase(0)) {
    left.insert(RestoreEntry::fromValue(row).path);
  }
  // f0 restored; f1 and f2 were cancelled in hand, f3 and f4 never handed out.
  EXPECT_EQ(left, (std::set<std::string>{entry(1), entry(2), entry(3), entry(4)}));
  EXPECT_TRUE(manager_->failedFiles().empty()) << "a cancelled file is not a failure";
}

TEST_F(QueueTest, WithoutWorkersTheRunStopsAndKeepsItsEntries) {
  start(0, 2);
  ASSERT_TRUE(runToEnd(10));
  EXPECT_TRUE(endInfo_.value("interrupted", false));
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 2);
}

TEST_F(QueueTest, AnEngineWithoutSessionStopsTheRunAndKeepsItsEntry) {
  manager_ = std::make_unique<RestoreManager>(newServer(), CommonExtensions::sharedExtensionsManager());
  // The real engine returns without a verdict when the session cannot be had.
  manager_->setWorkers(1, [this] { return std::shared_ptr<BlockEngine>(newEngine()); });
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
      Value::array({RestoreEntry{entry(0), -1, "", 4}.toValue()}), false));
  RestoreChoice choice;
  choice.restoreToOriginalPath = false;
  choice.restoreDestinationPath = home_ / "out";
  manager_->setChoice(choice);
  manager_->saveChoice();
  ServiceProcess::Credentials wrong = device_;
  wrong.password = "not the password";
  ServiceProcess::useCredentials(wrong);
  manager_->restoreFromDb();
  ASSERT_TRUE(runToEnd(60));
  ServiceProcess::useCredentials(device_);
  EXPECT_TRUE(endInfo_.value("interrupted", false));
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 1) << "kept for the next run";
  EXPECT_TRUE(CommonExtensions::sharedExtensionsManager().restoring());
}

}  // namespace
}  // namespace palvero::testing
