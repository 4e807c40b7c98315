#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/Bytes.h"
#include "engine/RestoreTarget.h"
#include "platform/FaultyFileSystem.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

class RestoreTargetUnitTest : public ::testing::Test {
 protected:
  size_t entriesIn(const std::string& folder) {
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
  }
  TempHome home_;
};

TEST_F(RestoreTargetUnitTest, NothingReachesTheTargetUntilCommit) {
  std::string target = home_ / "out/file.txt";
  writeFile(target, "the old file");
  {
    RestoreTarget output;
    std::string error;
    ASSERT_TRUE(output.create(target, error)) << error;
    ASSERT_TRUE(output.append(bytesFromString("new "), error));
    EXPECT_EQ(readFile(target), "the old file");
    EXPECT_EQ(entriesIn(home_ / "out"), 2u);
  }
  EXPECT_EQ(readFile(target), "the old file");
  EXPECT_EQ(entriesIn(home_ / "out"), 1u) << "the abandoned file is removed";
}

TEST_F(RestoreTargetUnitTest, CommitReplacesTheTargetAndStampsItsTimes) {
  std::string target = home_ / "file.txt";
  writeFile(target, "old");
  RestoreTarget output;
  std::string error;
  ASSERT_TRUE(output.create(target, error));
  ASSERT_TRUE(output.append(bytesFromString("new content"), error));
  Date stamp = Date::fromTimeIntervalSince1970(1706717109.0);
  ASSERT_TRUE(output.commit(stamp, error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(readFile(target), "new content");
  EXPECT_EQ(st.st_mtim.tv_sec, 1706717109);
  EXPECT_EQ(st.st_atim.tv_sec, 1706717109);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  for (const auto& entry : std::filesystem::directory_iterator(home_.path())) {
    EXPECT_NE(entry.path().filename().string().rfind(".pvrestore-", 0), 0u) << entry.path();
  }
  EXPECT_TRUE(output.temporaryPath().empty());
}

TEST_F(RestoreTargetUnitTest, AFolderAtTheTargetIsNeverReplaced) {
  std::filesystem::create_directories(home_ / "folder/inside");
  RestoreTarget output;
  std::string error;
  ASSERT_TRUE(output.create(home_ / "folder", error));
  EXPECT_FALSE(output.commit(std::nullopt, error));
  EXPECT_FALSE(error.empty());
  output.discard();
  EXPECT_TRUE(std::filesystem::is_directory(home_ / "folder/inside"));
  EXPECT_EQ(entriesIn(home_ / "folder"), 1u);
}

TEST_F(RestoreTargetUnitTest, AMissingFolderIsReported) {
  RestoreTarget output;
  std::string error;
  EXPECT_FALSE(output.create(home_ / "no/such/folder/file", error));
  EXPECT_NE(error.find("No such file"), std::string::npos);
}

// Each file operation of a restore that replaces a file fails in turn (the
// 1st, the 2nd, ...): until one gets through, the restore reports the
// failure, the user's file keeps its content and no temporary file stays.
TEST_F(RestoreTargetUnitTest, ADiskFailingAtAnyStepLeavesTheOldFileAndNothingElse) {
  std::string target = home_ / "out/big.bin";
  writeFile(target, "kept");
  const Bytes data(200000, 7);
  for (FsFault fault : {FsFault::kNoSpace, FsFault::kIOError}) {
    int step = 1;
    for (;; ++step) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " + std::to_string(step));
      FaultyFileSystem faults;
      faults.add(FsFaultRule().under("/out").from(step).with(fault));
      std::string error;
      bool restored;
      {
        ScopedFileSystem installed(faults);
        RestoreTarget output;
        restored = output.create(target, error, home_.path()) && output.append(data, error) &&
                   output.append(data, error) && output.commit(Date::now(), error);
      }
      EXPECT_EQ(entriesIn(home_ / "out"), 1u);
      if (restored) {
        // Only a step the file does not depend on may fail without failing it.
        EXPECT_EQ(readFile(target).size(), 2 * data.size());
        if (faults.injected() == 0) break;
        writeFile(target, "kept");
        continue;
      }
      EXPECT_EQ(readFile(target), "kept");
      EXPECT_FALSE(error.empty());
    }
    EXPECT_GE(step, 8);
    writeFile(target, "kept");
  }
}

}  // namespace
}  // namespace palvero::testing
