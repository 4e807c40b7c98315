// The application's restore side: an unfinished restore found at start is
// reported as running and continues on the process's restore workers; the
// status button pauses and resumes it.
#include "app/RestoreQueueControl.h"
#include "app/ThreadManager.h"
#include "app/ThreadWorker.h"
#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

class RestoreQueueControlTest : public RestoreFixture {
 protected:
  void SetUp() override {
    RestoreFixture::SetUp();
    ThreadWorker::resetForTesting();
    ThreadWorker::RestoreList workers;
    for (int i = 0; i < 2; ++i) workers.push_back(std::make_shared<RestoreThread>(i, newEngine()));
    ThreadWorker::sharedThreadWorker().setRestoreThreads(workers);
  }
  void TearDown() override {
    control_.reset();
    ThreadManager::sharedThreadManager().waitForWorkerThreads(std::chrono::seconds(30));
    ThreadWorker::resetForTesting();
    RestoreFixture::TearDown();
  }

  // A restore of `tree` into home/restored left in the table, as a quit or
  // a kill leaves it.
  std::map<std::string, std::string> leaveUnfinishedRestore() {
    std::map<std::string, std::string> tree = {{"docs/a.txt", textContent(3000, 1)},
                                               {"docs/b.bin", randomContent(70000, 2)}};
    Value entries = Value::array();
    for (const auto& [relative, content] : tree) {
      writeFile(home_ / relative, content);
      EXPECT_TRUE(backup(home_ / relative));
      entries.push_back(RestoreEntry{home_ / relative, -1, "", static_cast<int64_t>(content.size())}.toValue());
    }
    EXPECT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(entries, false));
    RestoreManager planner(newServer(), CommonExtensions::sharedExtensionsManager());
    RestoreChoice choice;
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = home_ / "restored";
    planner.setChoice(choice);
    planner.saveChoice();
    return tree;
  }

  std::unique_ptr<RestoreQueueControl> control_;
};

TEST_F(RestoreQueueControlTest, AnUnfinishedRestoreIsContinuedAtStart) {
  auto tree = leaveUnfinishedRestore();
  control_ = std::make_unique<RestoreQueueControl>(newServer());
  ASSERT_TRUE(control_->isRestoring()) << "the stored flag and the table's rows make a running restore";
  control_->startRestore();
  ASSERT_TRUE(runToEnd());
  for (const auto& [relative, content] : tree) EXPECT_EQ(readFile(home_ / ("restored/" + relative)), content);
  EXPECT_FALSE(control_->isRestoring());
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 0);
}

TEST_F(RestoreQueueControlTest, NothingStoredIsNothingToContinue) {
  control_ = std::make_unique<RestoreQueueControl>(newServer());
  EXPECT_FALSE(control_->isRestoring());
  // A flag left without rows (the table was emptied) is not a restore either.
  CommonExtensions::sharedExtensionsManager().saveParameter("restoring", true);
  EXPECT_FALSE(control_->isRestoring());
}

TEST_F(RestoreQueueControlTest, TheStatusButtonPausesAndResumes) {
  auto tree = leaveUnfinishedRestore();
  service_.addFault("get_block:delay=300:100");  // slow enough to press the button
  control_ = std::make_unique<RestoreQueueControl>(newServer());
  control_->startRestore();
  ASSERT_TRUE(control_->isRestoring());
  control_->statusButtonPressed();
  EXPECT_TRUE(control_->isRestorePausedByUser());
  EXPECT_FALSE(control_->isRestoring());
  ASSERT_TRUE(control_->manager().waitUntilIdle(std::chrono::seconds(30)));
  service_.clearFaults();
  control_->statusButtonPressed();
  EXPECT_FALSE(control_->isRestorePausedByUser());
  ASSERT_TRUE(runToEnd());
  for (const auto& [relative, content] : tree) EXPECT_EQ(readFile(home_ / ("restored/" + relative)), content);
}

}  // namespace
}  // namespace palvero::testing
