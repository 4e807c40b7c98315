// The disk failing under the whole-file writer: every failure is reported,
// the previous file survives and no temporary file is left behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/FaultyFileSystem.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

class FileSystemFaultTest : public ::testing::Test {
 protected:
  std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
  }
  TempHome home_;
  FaultyFileSystem faults_;
};

TEST_F(FileSystemFaultTest, RulesFailTheNthMatchingCallsOnTheirPathOnly) {
  std::string a = home_ / "a.txt";
  std::string b = home_ / "b.txt";
  faults_.add(FsFaultRule().on(FsOperation::kOpen).under("a.txt").from(2).times(2).with(FsFault::kNoSpace));
  ScopedFileSystem installed(faults_);
  std::vector<bool> results;
  for (int i = 0; i < 4; ++i) {
    std::string error;
    results.push_back(AtomicFile::write(a, "x", 0600, &error));
    if (!results.back()) {
      EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    }
  }
  EXPECT_EQ(results, (std::vector<bool>{true, false, false, true}));
  EXPECT_TRUE(AtomicFile::write(b, "y", 0600));
  EXPECT_EQ(faults_.injected(), 2);
  EXPECT_GT(faults_.calls(FsOperation::kOpen), faults_.calls(FsOperation::kRename));
}

// Fails the 1st, 2nd, ... file operation of one write until a write gets
// through: before that each one must say it failed and keep the old file.
TEST_F(FileSystemFaultTest, AtomicWriteFailingAtEachStepKeepsThePreviousFile) {
  std::string path = home_ / "settings/prefs.json";
  writeFile(path, "old content");
  struct Case {
    const char* label;
    FsFault fault;
  };
  for (Case c : {Case{"full disk", FsFault::kNoSpace}, Case{"I/O error", FsFault::kIOError}}) {
    int step = 1;
    for (;; ++step) {
      SCOPED_TRACE(std::string(c.label) + " at call " + std::to_string(step));
      faults_.clear();
      faults_.add(FsFaultRule().under("/settings").from(step).with(c.fault));
      std::string error;
      bool written;
      {
        ScopedFileSystem installed(faults_);
        written = AtomicFile::write(path, "new content", 0600, &error);
      }
      if (faults_.injected() == 0) {
        ASSERT_TRUE(written);
        break;
      }
      EXPECT_EQ(namesIn(home_ / "settings"), std::vector<std::string>{"prefs.json"});
      if (written) {
        // Only the folder's flush after the rename may fail without failing the write.
        EXPECT_EQ(readFile(path), "new content");
        writeFile(path, "old content");
        continue;
      }
      EXPECT_EQ(readFile(path), "old content");
      EXPECT_FALSE(error.empty());
    }
    EXPECT_GE(step, 6) << "open, chmod, write, sync, close and rename are each failed once";
    writeFile(path, "old content");
  }
}

TEST_F(FileSystemFaultTest, ShortWritesAreContinuedAndAFullDiskAfterOneIsReported) {
  std::string path = home_ / "file.bin";
  // Bytes that differ, so that a piece written twice shows.
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  faults_.add(FsFaultRule().on(FsOperation::kWrite).times(FsFaultRule::kForever).with(FsFault::kShortWrite));
  {
    ScopedFileSystem installed(faults_);
    ASSERT_TRUE(AtomicFile::write(path, data, 0600));
  }
  EXPECT_EQ(readFile(path), data);
  EXPECT_GT(faults_.calls(FsOperation::kWrite), 10);

  faults_.clear();
  faults_.add(FsFaultRule().on(FsOperation::kWrite).with(FsFault::kShortWrite));
  faults_.add(FsFaultRule().on(FsOperation::kWrite).from(2).with(FsFault::kNoSpace));
  std::string error;
  {
    ScopedFileSystem installed(faults_);
    EXPECT_FALSE(AtomicFile::write(path, "replacement", 0600, &error));
  }
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
  EXPECT_EQ(readFile(path), data);
}

TEST_F(FileSystemFaultTest, AReadErrorFailsTheWholeRead) {
  std::string path = home_ / "file.txt";
  writeFile(path, "content");
  faults_.add(FsFaultRule().on(FsOperation::kRead).under("file.txt").with(FsFault::kIOError));
  ScopedFileSystem installed(faults_);
  std::string out;
  EXPECT_FALSE(AtomicFile::read(path, out));
  EXPECT_TRUE(AtomicFile::read(path, out));
  EXPECT_EQ(out, "content");
}

}  // namespace
}  // namespace palvero::testing
