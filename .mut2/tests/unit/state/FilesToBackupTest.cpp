#include <gtest/gtest.h>

#include "platform/PreferencesStore.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

BackupFile entry(const std::string& path, int32_t status = kQueueWaiting) {
  return BackupFile{path, status, "2024-01-31 17:05", 5, ""};
}

class FilesToBackupTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(FilesToBackupTest, LoadsTheFirstWaitingRowsAndTheBackedUpList) {
  std::vector<BackupFile> rows;
  for (int i = 0; i < 450; ++i) rows.push_back(entry("/h/w" + std::to_string(1000 + i)));
  rows.push_back(entry("/h/failed", kQueueFailed));
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(rows, true));
  PreferencesStore::sharedStore().setObject(
      "backupedFiles", Value::array({entry("/h/done").toValue(), Value("not a record"), Value{{"size", 3}}}));

  auto& batch = FilesToBackup::sharedFilesToBackup();
  EXPECT_EQ(batch.count(), 400u);
  EXPECT_TRUE(batch.containsPath("/h/w1000"));
  EXPECT_FALSE(batch.containsPath("/h/failed"));
  EXPECT_FALSE(batch.containsPath("/h/w100")) << "exact paths only";
  ASSERT_EQ(batch.backupedFiles().size(), 1u) << "malformed entries are skipped";
  EXPECT_EQ(batch.backupedFiles()[0].path, "/h/done");
}

TEST_F(FilesToBackupTest, ListsChangeWholeAndTheIndexFollows) {
  auto& batch = FilesToBackup::sharedFilesToBackup();
  EXPECT_EQ(batch.count(), 0u);
  batch.setFiles({entry("/a"), entry("/b"), entry("/c")});
  EXPECT_TRUE(batch.containsPath("/b"));
  EXPECT_EQ(batch.fileAtIndex(2)->path, "/c");
  EXPECT_FALSE(batch.fileAtIndex(3));
  batch.addBackupedFile(entry("/b"));
  batch.removeFiles(batch.backupedFiles());
  EXPECT_FALSE(batch.containsPath("/b"));
  EXPECT_EQ(batch.count(), 2u);
  batch.setBackupedFiles({});
  EXPECT_TRUE(batch.backupedFiles().empty());
  // A new batch loads from the database, which holds none of these.
  FilesToBackup::resetForTesting();
  EXPECT_EQ(FilesToBackup::sharedFilesToBackup().count(), 0u);
}

}  // namespace
}  // namespace palvero
