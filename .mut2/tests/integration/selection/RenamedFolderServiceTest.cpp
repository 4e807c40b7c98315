// The filter's handling of a renamed folder against palvero-service: the old
// path's versions are deleted at once through the real request layer, and a
// delete the service refuses is kept as a row for the periodic deletion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Env.h"
#include "selection/BackupFilter.h"
#include "selection/BackupQueueStore.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "selection/RemoteDeleter.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class RenamedFolderServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("PALVERO_SERVER_URL");
    previousURL_ = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("PALVERO_SERVER_URL", service_.url().c_str(), 1);
    testing::ServiceProcess::useCredentials(service_.newDevice("ann", "secret"));
    resetSelection();
    ASSERT_TRUE(DBManager::sharedDBManager().CreateDatabase());
    service_.clearLog();
  }
  void TearDown() override {
    resetSelection();
    if (previousURL_) {
      setenv("PALVERO_SERVER_URL", previousURL_->c_str(), 1);
    } else {
      unsetenv("PALVERO_SERVER_URL");
    }
  }
  static void resetSelection() {
    BackupQueueStore::setCurrent(nullptr);
    RemoteDeleter::setCurrent(nullptr);
    BackupFilter::resetForTesting();
    FileScanner::resetForTesting();
    CommonExtensions::resetForTesting();
  }
  std::optional<int32_t> status(const std::string& path) {
    for (const auto& row : DBManager::sharedDBManager().selectFilesForDelete()) {
      if (row.path == path) return row.status;
    }
    return std::nullopt;
  }

  testing::TempHome home_;
  testing::ServiceProcess service_;
  std::optional<std::string> previousURL_;
};

TEST_F(RenamedFolderServiceTest, OldPathIsDeletedAtOnceOnTheService) {
  std::string old = home_ / "Projects/alpha beta";
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
      {BackupFile{old + "/a.txt", 2, "2024-01-31 17:05", 1, ""}}, true));
  EXPECT_FALSE(BackupFilter::sharedManager().fileForBackup(old, 0x20800));

  // A fresh client has no session yet: the first try meets 401, the
  // renewed session's try goes through. One deletion reaches the service.
  std::vector<Value> accepted;
  for (const auto& request : service_.requests("delete")) {
    EXPECT_EQ(request["fields"]["path"], old) << request.dump();
    EXPECT_EQ(request["fields"]["immediately"], "1");
    if (request["status"] == 200) accepted.push_back(request);
  }
  ASSERT_EQ(accepted.size(), 1u);
  EXPECT_EQ(accepted[0]["reply"], "ok") << accepted[0].dump();
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 0);
  EXPECT_FALSE(status(old)) << "nothing left to retry";
}

TEST_F(RenamedFolderServiceTest, RefusedDeleteIsLeftForThePeriodicDeletion) {
  std::string old = home_ / "Projects/gamma";
  service_.addFault("delete:500:10");
  EXPECT_FALSE(BackupFilter::sharedManager().fileForBackup(old, 0x20800));
  EXPECT_GE(service_.requests("delete").size(), 1u);
  EXPECT_EQ(status(old), std::optional<int32_t>(kQueueToDelete));
}

}  // namespace
}  // namespace palvero
