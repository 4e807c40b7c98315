#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "SelectionTestSupport.h"
#include "selection/BatchWriter.h"

namespace palvero {
namespace {

using namespace std::chrono_literals;

// Records batches in the order written; slow, and throws on a chosen batch.
class SlowStore : public BackupQueueStore {
 public:
  bool insertOrUpdateFiles(const std::vector<BackupFile>& records) override {
    std::this_thread::sleep_for(2ms);
    std::lock_guard lock(mutex_);
    if (records.front().path == throwOn) throw std::runtime_error("disk on fire");
    firsts.push_back(records.front().path);
    return records.front().path != refuse;
  }
  bool insertDeletedFiles(const std::vector<std::string>& paths) override {
    std::lock_guard lock(mutex_);
    firsts.push_back("deleted:" + paths.front());
    return true;
  }
  std::vector<BackupFile> selectWaitingFiles() override { return {}; }
  std::vector<BackupFile> selectFilesToDelete() override { return {}; }
  bool deleteFilesWithPrefix(const std::string&) override { return true; }
  bool removeAllFiles() override { return true; }

  std::mutex mutex_;
  std::vector<std::string> firsts;
  std::string throwOn, refuse;
};

std::vector<BackupFile> batch(const std::string& first, size_t size) {
  std::vector<BackupFile> records(size, BackupFile{first, 0, "", 1, ""});
  return records;
}

TEST(BatchWriterTest, BatchesAreWrittenInOrderAndCounted) {
  testing::TempHome home;
  auto store = std::make_shared<SlowStore>();
  store->refuse = "b5";
  store->throwOn = "b7";
  BatchWriter writer(store, 2);
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i) {
    writer.writeFiles(batch("b" + std::to_string(i), 10));
    if (i != 7) expected.push_back("b" + std::to_string(i));
  }
  writer.writeDeleted({"gone"});
  writer.writeFiles({});  // nothing to write
  expected.push_back("deleted:gone");
  EXPECT_EQ(writer.finish(), 10u * 10 + 1) << "a refused and a failed batch count nothing";
  EXPECT_EQ(store->firsts, expected);
  EXPECT_TRUE(testing::logged("FileScanner exception: disk on fire"));
}

TEST(BatchWriterTest, OneBatchIsWrittenWithoutAThreadAndFinishIsIdempotent) {
  testing::TempHome home;
  auto store = std::make_shared<SlowStore>();
  BatchWriter writer(store);
  writer.writeFiles(batch("only", 3));
  EXPECT_TRUE(store->firsts.empty()) << "written when the scan ends";
  EXPECT_EQ(writer.finish(), 3u);
  EXPECT_EQ(writer.finish(), 3u);
  EXPECT_EQ(store->firsts, std::vector<std::string>{"only"});
}

}  // namespace
}  // namespace palvero
