// The local disk failing under the engine: a file that cannot be read is
// never stored as a revision, a restore onto a failing disk never reports
// success and never damages the file already there.
#include <filesystem>
#include <tuple>

#include "EngineFixture.h"
#include "platform/FaultyFileSystem.h"

namespace palvero::testing {
namespace {

class DiskFaultTest : public EngineFixture {};

// The n-th read of the file (cutting it into blocks, reading a block to
// send) fails with EIO, for n = 1, 2, 3, 5, 8 ... until no read fails: a
// backup that says it succeeded stored the whole file.
TEST_F(DiskFaultTest, AReadErrorAtAnyPointNeverStoresAWrongRevision) {
  const std::string path = dataPath("source.bin");
  const std::string content = randomContent(700000, 21);
  writeFile(path, content);
  int failed = 0;
  for (int step = 1, previous = 1;; std::tie(step, previous) = std::pair(step + previous, step)) {
    SCOPED_TRACE("read " + std::to_string(step));
    service_.clearLog();
    FaultyFileSystem faults;
    faults.add(FsFaultRule().on(FsOperation::kRead).under("source.bin").from(step).with(FsFault::kIOError));
    bool stored;
    {
      ScopedFileSystem installed(faults);
      stored = backup(path);
    }
    if (!stored) {
      ++failed;
      EXPECT_EQ(lastPosted().name, "BackupFileFail");
      EXPECT_TRUE(answered("upload_ver").empty());
      continue;
    }
    if (faults.injected() == 0) break;
    ASSERT_LT(step, 1000);
  }
  EXPECT_GE(failed, 2) << "a read error while cutting and while sending each fail the file";
  ASSERT_TRUE(restore(path, restoredPath("source.bin")));
  EXPECT_EQ(readFile(restoredPath("source.bin")), content);
}

TEST_F(DiskFaultTest, AFullDiskDuringARestoreFailsItAndKeepsTheOldFile) {
  const std::string path = dataPath("big.bin");
  const std::string content = randomContent(900000, 22);
  writeFile(path, content);
  ASSERT_TRUE(backup(path));
  const std::string target = restoredPath("big.bin");
  writeFile(target, "the user's previous file");
  // Older than the revision, so the restore replaces it rather than keep it beside.
  setModificationTime(target, 1000000000);
  struct Case {
    const char* label;
    FsOperation operation;
    int nth;
  };
  for (const Case& c : {Case{"first write", FsOperation::kWrite, 1}, Case{"later write", FsOperation::kWrite, 3},
                        Case{"flush", FsOperation::kSync, 1}, Case{"rename", FsOperation::kRename, 1}}) {
    SCOPED_TRACE(c.label);
    FaultyFileSystem faults;
    faults.add(FsFaultRule().on(c.operation).under("/restored").from(c.nth).with(FsFault::kNoSpace));
    bool restored;
    {
      ScopedFileSystem installed(faults);
      restored = restore(path, target);
    }
    ASSERT_EQ(faults.injected(), 1);
    EXPECT_FALSE(restored);
    EXPECT_EQ(lastPosted().name, "RestoreFail");
    EXPECT_EQ(readFile(target), "the user's previous file");
    EXPECT_TRUE(leftovers(restoredPath("")).empty());
  }
  ASSERT_TRUE(restore(path, target));
  EXPECT_EQ(readFile(target), content);
}

}  // namespace
}  // namespace palvero::testing
