// The database on a disk that is really full (a small tmpfs): a queue write
// fails with the engine's reason in the log, the records wait in the
// watcher's buffer, the rows already there stay readable, and once there is
// room the next flush writes them into a database that is still whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Env.h"
#include "selection/BackupQueueStore.h"
#include "selection/WatcherBuffer.h"
#include "state/DBManager.h"
#include "state/SqliteConnection.h"
#include "support/LogLines.h"
#include "support/SmallDisk.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

std::vector<BackupFile> records(const std::string& prefix, int count, size_t nameLength) {
  std::vector<BackupFile> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(BackupFile{prefix + std::to_string(i) + "-" + std::string(nameLength, 'n'), kQueueWaiting,
                             "2024-01-31 10:00", 1000 + i, ""});
  }
  return out;
}

// Writes zeros to `path` until the disk refuses more.
void fillDisk(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string zeros(4096, '\0');
  while (::write(fd, zeros.data(), zeros.size()) > 0) {
  }
  const int error = errno;
  ::close(fd);
  ASSERT_EQ(error, ENOSPC);
}

TEST(DatabaseFullDiskTest, AQueueWriteOnAFullDiskIsReportedKeptAndWrittenLater) {
  SmallDisk disk(640 * 1024);
  if (disk.skipped()) GTEST_SKIP() << SmallDisk::kSkipReason;
  if (disk.parent()) return;
  TempHome home;
  // Only the database lives on the small disk; the log stays where it can be read.
  const std::string database = Env::supportDirectory() + "/" + DBManager::kDatabaseFileName;
  fs::create_directories(fs::path(database).parent_path());
  fs::create_symlink(disk.folder() + "/" + DBManager::kDatabaseFileName, database);
  DatabaseQueueStore store;
  WatcherBuffer buffer;
  for (const BackupFile& record : records("/home/u/before/", 400, 20)) buffer.append(record);
  ASSERT_TRUE(buffer.flushTo(store));
  ASSERT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 400);
  ASSERT_TRUE(fs::exists(disk.folder() + "/" + DBManager::kDatabaseFileName + "-wal"))
      << "the journal must be on the small disk too";

  fillDisk(disk.folder() + "/filler");
  for (const BackupFile& record : records("/home/u/after/", 400, 150)) buffer.append(record);
  EXPECT_FALSE(buffer.flushTo(store));
  EXPECT_EQ(buffer.count(), 400u) << "what was not written waits for the next flush";
  EXPECT_FALSE(loggedTextsStartingWith("SQLite problem in InsertOrUpdateFileToDatabase: 13").empty());
  EXPECT_FALSE(loggedTextsStartingWith("Database error: database or disk is full").empty());
  EXPECT_FALSE(loggedTextsStartingWith("Watcher failed updating database with number of files: 400").empty());
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 400);
  EXPECT_EQ(DBManager::sharedDBManager().SelectFileFromDatabase(true, kQueueWaiting).size(), 400u);

  fs::remove(disk.folder() + "/filler");
  EXPECT_TRUE(buffer.flushTo(store)) << ::testing::PrintToString(loggedTextsStartingWith("Database error"));
  EXPECT_EQ(buffer.count(), 0u);
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 800);
  DBManager::sharedDBManager().closeDatabase();
  auto check = SqliteConnection::open(database);
  auto integrity = check.prepare("PRAGMA integrity_check");
  ASSERT_TRUE(integrity.step());
  EXPECT_EQ(integrity.columnText(0), "ok");
}

}  // namespace
}  // namespace palvero::testing
