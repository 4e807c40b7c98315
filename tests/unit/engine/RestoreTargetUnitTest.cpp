#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "base/Bytes.h"
#include "engine/RestoreTarget.h"
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

TEST_F(RestoreTargetUnitTest, AWriteThatFailsIsReportedAndLeavesNothing) {
  std::string target = home_ / "big.bin";
  writeFile(target, "kept");
  RestoreTarget output;
  std::string error;
  ASSERT_TRUE(output.create(target, error));
  // A file-size limit makes the write fail as a full disk would.
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool appended = output.append(Bytes(4000, 7), error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(appended);
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  output.discard();
  EXPECT_EQ(readFile(target), "kept");
  EXPECT_EQ(entriesIn(home_.path()), 1u);
}

}  // namespace
}  // namespace palvero::testing
