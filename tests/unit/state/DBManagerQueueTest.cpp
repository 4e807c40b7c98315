#include <regex>

#include "DBTestSupport.h"
#include "base/Clock.h"
#include "base/FakeClock.h"

namespace palvero::testing {
namespace {

using QueueTest = DBTest;

std::vector<std::string> pathsOf(const std::vector<BackupFile>& files) {
  std::vector<std::string> paths;
  for (const auto& f : files) paths.push_back(f.path);
  return paths;
}

TEST_F(QueueTest, RetryCountingFollowsTheFiveTriesRule) {
  const std::string path = "/home/u/report.doc";
  auto& m = db();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file(path)}, true));
  EXPECT_EQ(tries(path), 2);
  EXPECT_EQ(status(path), kQueueFailed);

  for (int i = 0; i < 2; ++i) ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file(path)}, true));
  EXPECT_EQ(tries(path), 4);
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 0);
  EXPECT_EQ(m.GetTotalNumberOfFailedFilesWithoutTries(true), 1);
  ASSERT_TRUE(m.ReturnFailedFilesToBackup());
  EXPECT_TRUE(logged("Database status updated"));
  EXPECT_EQ(status(path), kQueueWaiting);
  EXPECT_EQ(tries(path), 4);

  ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file(path)}, true));
  EXPECT_EQ(tries(path), 5);
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 1);
  ASSERT_TRUE(m.ReturnFailedFilesToBackup());
  EXPECT_EQ(status(path), kQueueFailed);
  EXPECT_EQ(pathsOf(m.selectFailedFiles(true)), std::vector<std::string>{path});
  EXPECT_TRUE(m.SelectFileFromDatabase(true, kQueueWaiting).empty());

  // The user's "try again": waiting, one more try, no longer finally failed.
  ASSERT_TRUE(m.changeFailedFilesStatus(m.selectFailedFiles(true)));
  EXPECT_EQ(status(path), kQueueWaiting);
  EXPECT_EQ(tries(path), 6);
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 0);

  ASSERT_TRUE(m.InsertOrUpdateBackupedFilesToDatabase({file(path, 77)}, true));
  EXPECT_EQ(tries(path), 0);
  EXPECT_EQ(status(path), kQueueDone);
  EXPECT_EQ(m.GetSizeOfBackupedFiles(true), 77);
}

TEST_F(QueueTest, ABatchCountsNewPathsFromZeroAndADuplicatedPathOnce) {
  auto& m = db();
  ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file("/a"), file("/b")}, true));
  ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file("/a"), file("/c"), file("/a", 9)}, true));
  EXPECT_EQ(tries("/a"), 1);
  EXPECT_EQ(tries("/b"), 0);
  EXPECT_EQ(tries("/c"), 0);
  EXPECT_EQ(scalar("SELECT SIZE FROM FILESTOBACKUP WHERE PATH = '/a'"), 9) << "the last record of a path wins";
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTOBACKUP"), 3);
}

TEST_F(QueueTest, RequeueingAFileStartsItsTriesAgain) {
  auto& m = db();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file("/x")}, true));
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 1);
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file("/x")}, true));
  EXPECT_EQ(tries("/x"), 0);
  EXPECT_EQ(status("/x"), kQueueWaiting);
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 0);
}

TEST_F(QueueTest, SelectGivesAtMost400InTableOrder) {
  auto& m = db();
  auto all = files(1000);
  for (size_t start = 0; start < all.size(); start += 400) {
    std::vector<BackupFile> slice(all.begin() + start, all.begin() + std::min(all.size(), start + 400));
    ASSERT_TRUE(m.InsertOrUpdateFileToDatabase(slice, true));
  }
  EXPECT_EQ(m.GetTotalNumberOfFiles(true), 1000);
  EXPECT_EQ(m.GetTotalSizeOfFiles(true), 1000);
  for (size_t round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    auto batch = m.SelectFileFromDatabase(true, kQueueWaiting);
    size_t expected = std::min<size_t>(400, 1000 - round * 400);
    ASSERT_EQ(batch.size(), expected);
    for (size_t i = 0; i < batch.size(); ++i) ASSERT_EQ(batch[i], all[round * 400 + i]);
    ASSERT_TRUE(m.InsertOrUpdateBackupedFilesToDatabase(batch, true));
  }
  EXPECT_TRUE(m.SelectFileFromDatabase(true, kQueueWaiting).empty());
  EXPECT_EQ(m.GetSizeOfBackupedFiles(true), 1000);
  ASSERT_TRUE(m.RemoveFinishedFilesFromDatabase(true));
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTOBACKUP"), 0);
}

TEST_F(QueueTest, RowsOfABatchEnterInPathOrderAndARewrittenRowMovesToTheEnd) {
  auto& m = db();
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file("/c"), file("/a"), file("/b")}, true));
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file("/0z"), file("/0y")}, true));
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file("/a")}, true));
  EXPECT_EQ(pathsOf(m.SelectFileFromDatabase(true, kQueueWaiting)),
            (std::vector<std::string>{"/b", "/c", "/0y", "/0z", "/a"}));
}

TEST_F(QueueTest, EmptyTablesReadZero) {
  auto& m = db();
  for (bool backup : {true, false}) {
    SCOPED_TRACE(backup);
    EXPECT_EQ(m.GetTotalNumberOfFiles(backup), 0);
    EXPECT_EQ(m.GetTotalNumberOfFailedFiles(backup), 0);
    EXPECT_EQ(m.GetTotalNumberOfFailedFilesWithoutTries(backup), 0);
    EXPECT_EQ(m.GetTotalSizeOfFiles(backup), 0);
    EXPECT_EQ(m.GetSizeOfBackupedFiles(backup), 0);
    EXPECT_TRUE(m.SelectFileFromDatabase(backup, kQueueWaiting).empty());
    EXPECT_TRUE(m.selectFailedFiles(backup).empty());
  }
  EXPECT_TRUE(m.selectFilesForDelete().empty());
  EXPECT_TRUE(m.SelectRestoreFilesFromDatabase(kQueueWaiting).empty());
  EXPECT_EQ(logText().find("SQLite problem"), std::string::npos);
}

TEST_F(QueueTest, SizesAreSixtyFourBitAndOnlyWaitingOrDoneRowsAreSummed) {
  auto& m = db();
  const int64_t big = int64_t{5} << 40;
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase(
      {file("/w1", big), file("/w2", 3), file("/scan", 1000, kQueueFullBackupScan), file("/del", 50, kQueueToDelete)},
      true));
  ASSERT_TRUE(m.InsertOrUpdateBackupedFilesToDatabase({file("/done", big)}, true));
  EXPECT_EQ(m.GetTotalSizeOfFiles(true), big + 3);
  EXPECT_EQ(m.GetSizeOfBackupedFiles(true), big);
  EXPECT_EQ(m.GetTotalNumberOfFiles(true), 2) << "status 10 is not waiting";
  EXPECT_EQ(m.SelectFileFromDatabase(true, kQueueWaiting)[0].size, big);
  EXPECT_EQ(scalar("SELECT typeof(SIZE) = 'integer' FROM FILESTOBACKUP WHERE PATH = '/w1'"), 1);
}

TEST_F(QueueTest, FailedFilesListStopsAt1000) {
  auto& m = db();
  auto all = files(1001);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase(all, true));
  EXPECT_EQ(m.GetTotalNumberOfFailedFiles(true), 1001);
  auto failed = m.selectFailedFiles(true);
  ASSERT_EQ(failed.size(), 1000u);
  EXPECT_EQ(failed.front().status, kQueueFailed);
  EXPECT_EQ(failed.front().error, "");
}

TEST_F(QueueTest, DeletedFilesAreQueuedForTheServerAndRemovedAfterwards) {
  auto& m = db();
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file("/keep", 5), file("/gone", 5)}, true));
  ASSERT_TRUE(m.InsertOrUpdateDeletedFilesToDatabase({"/gone", "/never-seen"}, true));
  auto toDelete = m.selectFilesForDelete();
  ASSERT_EQ(pathsOf(toDelete), (std::vector<std::string>{"/gone", "/never-seen"}));
  EXPECT_EQ(toDelete[0].size, 0);
  EXPECT_EQ(tries("/gone"), 1);
  EXPECT_EQ(tries("/never-seen"), 0);
  std::regex queued(R"(\d{4}-\d\d-\d\d \d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(toDelete[1].date, queued)) << toDelete[1].date;
  ASSERT_TRUE(m.RemoveAllFilesToDeleteFromDatabase(true));
  EXPECT_TRUE(m.selectFilesForDelete().empty());
  EXPECT_EQ(m.GetTotalNumberOfFiles(true), 1);
  ASSERT_TRUE(m.RemoveFileFromDatabase({"/keep", "/not-there"}, true));
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTOBACKUP"), 0);
}

// Paths with characters that a formatted statement would break on.
class AwkwardPathTest : public DBTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(AwkwardPathTest, RoundTripsThroughEveryOperation) {
  const std::string path = GetParam();
  auto& m = db();
  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase({file(path, 42), file("/other")}, true));
  auto selected = m.SelectFileFromDatabase(true, kQueueWaiting);
  ASSERT_EQ(selected.size(), 2u);
  EXPECT_EQ(selected[0].path, path < "/other" ? path : "/other");
  EXPECT_TRUE(selected[0].path == path || selected[1].path == path);

  // The bytes on disk, read by an independent tool.
  std::string hex;
  for (unsigned char c : path) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
  EXPECT_EQ(cli("SELECT hex(PATH) FROM FILESTOBACKUP WHERE SIZE = 42;"), hex + "\n");

  ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file(path)}, true));
  ASSERT_TRUE(m.InsertOrUpdateFilesWithErrorsToDatabase({file(path)}, true));
  EXPECT_EQ(tries(path), 2);
  ASSERT_TRUE(m.InsertOrUpdateDeletedFilesToDatabase({path}, true));
  EXPECT_EQ(m.selectFilesForDelete().at(0).path, path);
  ASSERT_TRUE(m.RemoveFileFromDatabase({path}, true));
  EXPECT_EQ(tries(path), -1);
  EXPECT_EQ(tries("/other"), 0);

  ASSERT_TRUE(m.InsertOrUpdateFileToDatabase(Value::array({Value{{"path", path}, {"deviceID", path}}}), false));
  Value restore = m.SelectRestoreFilesFromDatabase(kQueueWaiting);
  ASSERT_EQ(restore.size(), 1u);
  EXPECT_EQ(restore[0]["path"].get<std::string>(), path);
  EXPECT_EQ(restore[0]["deviceID"].get<std::string>(), path);
  EXPECT_EQ(logText().find("SQLite problem"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Paths, AwkwardPathTest,
                         ::testing::Values("/home/u/it's mine.txt", "/home/u/''quoted''", "/home/u/100% done",
                                           "/home/u/a_b", "/home/u/line\nbreak",
                                           "/home/u/\xff\xfe\x80 latin1 \xe9t\xe9",
                                           "/home/u/x'); DELETE FROM FILESTOBACKUP; --",
                                           "/home/u/\xc3\xa9t\xc3\xa9 \xe2\x82\xac"));

struct RenameCase {
  std::string folder;
  std::vector<std::string> removed;
  std::vector<std::string> kept;
};

TEST_F(QueueTest, RenamedFolderRemovesExactlyThePathsWithItsBytesAsPrefix) {
  const std::vector<RenameCase> cases = {
      {"/a/b", {"/a/b", "/a/b/x", "/a/bc/y", "/a/bX/z", "/a/b%/q"}, {"/a/a", "/a/c", "/A/B/x", "/a/", "/b"}},
      {"/a/b%", {"/a/b%/q", "/a/b%"}, {"/a/bX/z", "/a/b", "/a/b/x", "/a/bc%"}},
      {"/a/b_", {"/a/b_/q"}, {"/a/bc/y", "/a/bX", "/a/b"}},
      {"/a/\xff", {"/a/\xff", "/a/\xff\x01", "/a/\xff\xff/x"}, {"/a/\xfe", "/a/", "/b"}},
      {"\xff\xff", {"\xff\xff", "\xff\xff\xff"}, {"\xff", "\xfe\xff", "/a"}},
      {"", {}, {"/a", "b"}},
  };
  auto& m = db();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    ASSERT_TRUE(m.RemoveAllFilesFromDatabase(true));
    std::vector<BackupFile> rows;
    for (const auto& p : c.removed) rows.push_back(file(p));
    for (const auto& p : c.kept) rows.push_back(file(p));
    ASSERT_TRUE(m.InsertOrUpdateFileToDatabase(rows, true));
    ASSERT_TRUE(m.DeleteFilesFromRenamedFolder(c.folder));
    for (const auto& p : c.removed) EXPECT_EQ(tries(p), -1) << "should be gone: " << p;
    for (const auto& p : c.kept) EXPECT_EQ(tries(p), 0) << "should stay: " << p;
  }
}

TEST_F(QueueTest, RestoreRowsKeepDeviceRevisionAndGetADateWhenTheyHaveNone) {
  auto& m = db();
  auto fake = std::make_shared<FakeClock>(Date::fromTimeIntervalSince1970(1706720709));  // 2024-01-31 17:05:09 UTC
  Clock::setCurrent(fake);
  Value entries = Value::array({
      Value{{"path", "/r/one"}, {"size", 10}, {"deviceID", "dev-1"}, {"revision", 3}},
      Value{{"name", "/r/two"}, {"size", "20"}, {"deviceId", "dev-2"}, {"date", "20240101 10:00:00"}},
  });
  bool written = m.InsertOrUpdateFileToDatabase(entries, false);
  Clock::setCurrent(nullptr);
  ASSERT_TRUE(written);
  EXPECT_EQ(m.GetTotalNumberOfFiles(false), 2);
  EXPECT_EQ(m.GetTotalSizeOfFiles(false), 30);
  EXPECT_EQ(cli("SELECT PATH, BACKUPDATE, DEVICEID, REVISION FROM FILESTORESTORE ORDER BY PATH;"),
            "/r/one|2024-01-31 17:05:09 +0000|dev-1|3\n/r/two|20240101 10:00:00|dev-2|-1\n");

  Value pending = m.SelectRestoreFilesFromDatabase(kQueueWaiting);
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0],
            (Value{{"path", "/r/one"}, {"status", 0}, {"size", 10}, {"deviceID", "dev-1"}, {"revision", 3}}));

  // Results carry only path and size: the row keeps what it knew.
  ASSERT_TRUE(
      m.InsertOrUpdateFilesWithErrorsToDatabase(Value::array({Value{{"path", "/r/one"}, {"size", 10}}}), false));
  ASSERT_TRUE(m.InsertOrUpdateBackupedFilesToDatabase(Value::array({Value{{"path", "/r/two"}, {"size", 20}}}), false));
  EXPECT_EQ(cli("SELECT PATH, STATUS, NUMBEROFTRIES, DEVICEID, REVISION FROM FILESTORESTORE ORDER BY PATH;"),
            "/r/one|1|1|dev-1|3\n/r/two|2|0|dev-2|-1\n");
  EXPECT_EQ(m.GetTotalNumberOfFiles(false), 0);
  ASSERT_TRUE(m.RemoveAllFilesFromDatabase(false));
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTORESTORE"), 0);
}

TEST_F(QueueTest, MalformedRestoreRecordsAreRejectedWholeAndReported) {
  auto& m = db();
  const std::vector<Value> bad = {
      Value{{"path", "/x"}},  // not a list
      Value::array({Value{{"path", "/ok"}}, Value{{"size", 1}}}),
      Value::array({Value{{"path", "/ok"}}, 7}),
      Value::array({Value{{"path", "/ok"}, {"size", "12kB"}}}),
      Value::array({Value{{"path", 5}}}),
  };
  for (const auto& records : bad) {
    SCOPED_TRACE(records.dump());
    EXPECT_FALSE(m.InsertOrUpdateFileToDatabase(records, false));
  }
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTORESTORE"), 0);
  EXPECT_NE(logText().find("| Exception in insert or update to database: "), std::string::npos);
}

}  // namespace
}  // namespace palvero::testing
