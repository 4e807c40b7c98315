#include <atomic>
#include <thread>

#include "DBTestSupport.h"

namespace palvero::testing {
namespace {

using ConcurrencyTest = DBTest;

TEST_F(ConcurrencyTest, WritersAndReadersTogetherLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kBatches = 20;
  constexpr int kBatch = 400;
  auto& m = db();
  std::atomic<int> writersLeft{kWriters};
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int b = 0; b < kBatches; ++b) {
        auto batch = files(kBatch, "/w" + std::to_string(w) + "/b" + std::to_string(b) + "/", 2);
        if (!m.InsertOrUpdateFileToDatabase(batch, true)) ++errors;
        // Every other batch is also reported back as failed once.
        if (b % 2 == 1 && !m.InsertOrUpdateFilesWithErrorsToDatabase(batch, true)) ++errors;
        if (!m.insertOrUpdateBlocks(std::vector<std::string>{"w" + std::to_string(w) + "b" + std::to_string(b)})) {
          ++errors;
        }
      }
      --writersLeft;
    });
  }
  std::atomic<int64_t> reads{0};
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      int64_t lastFailed = 0;
      while (writersLeft.load() > 0) {
        auto batch = m.SelectFileFromDatabase(true, kQueueWaiting);
        if (batch.size() > 400) ++errors;
        for (const auto& f : batch) {
          if (f.status != kQueueWaiting || f.size != 2) ++errors;
        }
        // Rows only ever go from waiting to failed: a smaller failed count
        // means a write was lost or torn.
        int64_t failed = m.GetTotalNumberOfFailedFilesWithoutTries(true);
        if (failed < lastFailed) ++errors;
        lastFailed = failed;
        if (m.GetTotalSizeOfFiles(true) % 2 != 0) ++errors;
        m.checkBlocks(std::vector<std::string>{"w0b0", "w1b1"});
        ++reads;
      }
    });
  }
  for (auto& t : threads) t.join();

  EXPECT_EQ(errors.load(), 0);
  EXPECT_GT(reads.load(), 0);
  const int64_t total = int64_t{kWriters} * kBatches * kBatch;
  EXPECT_EQ(m.GetTotalNumberOfFiles(true) + m.GetTotalNumberOfFailedFilesWithoutTries(true), total);
  EXPECT_EQ(m.GetTotalNumberOfFailedFilesWithoutTries(true), total / 2);
  EXPECT_EQ(scalar("SELECT Count(*) FROM FILESTOBACKUP"), total);
  EXPECT_EQ(m.getCachedBlocksCount(), kWriters * kBatches);
  EXPECT_EQ(logText().find("SQLite problem"), std::string::npos);
  EXPECT_EQ(logText().find("Cannot open database"), std::string::npos);
}

TEST_F(ConcurrencyTest, TwoInstancesOnOneFileWaitForEachOther) {
  // Another process (or a leftover instance) writing the same file: the busy
  // timeout makes the writes wait instead of failing.
  DBManager other(dbPath());
  ASSERT_TRUE(db().CreateDatabase());
  std::atomic<int> failures{0};
  std::thread a([&] {
    for (int b = 0; b < 30; ++b) {
      if (!db().InsertOrUpdateFileToDatabase(files(400, "/a" + std::to_string(b) + "/"), true)) ++failures;
    }
  });
  std::thread c([&] {
    for (int b = 0; b < 30; ++b) {
      if (!other.InsertOrUpdateFileToDatabase(files(400, "/c" + std::to_string(b) + "/"), true)) ++failures;
      if (!other.insertOrUpdateBlocks(std::vector<std::string>{"c" + std::to_string(b)})) ++failures;
    }
  });
  a.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(db().GetTotalNumberOfFiles(true), 2 * 30 * 400);
  EXPECT_EQ(db().getCachedBlocksCount(), 30) << "the count follows the other connection's writes";
}

}  // namespace
}  // namespace palvero::testing
