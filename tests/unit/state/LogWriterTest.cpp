#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "platform/Env.h"
#include "platform/FaultyFileSystem.h"
#include "platform/PreferencesStore.h"
#include "state/LogWriter.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class LogWriterTest : public ::testing::Test {
 protected:
  std::string folder() const { return Env::supportDirectory(); }
  std::string file(int n) const { return folder() + "/log" + std::to_string(n) + ".log"; }
  void makeFile(const std::string& path, size_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << std::string(size, 'x');
  }
  testing::TempHome home_;
};

TEST_F(LogWriterTest, FirstEntryOfAFreshHomeGoesToLog0) {
  LogWriter::sharedLogger().logEntry(kSessionStarted, kSessionBackup, "hello", kLogEvent);
  ASSERT_TRUE(fs::exists(file(0)));
  std::string text = testing::readFile(file(0));
  std::regex line(R"(Log0 \| \d+ \| SessionStarted \| \d+/\d+/\d\d, \d+:\d\d:\d\d [AP]M \S+ \| Backup \| hello\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LogWriterTest, UnknownTypesAndLevels) {
  auto& log = LogWriter::sharedLogger();
  log.logEntry(13, 5, "a", kLogDetail);
  log.logEntry(12, -1, "b\nsecond line", kLogFailure);
  std::string text = testing::readFile(file(0));
  EXPECT_NE(text.find("| UnknownType | "), std::string::npos);
  EXPECT_NE(text.find(" | Unknown | a\n"), std::string::npos);
  EXPECT_NE(text.find("| NotSupported | "), std::string::npos);
  EXPECT_NE(text.find(" | Unknown | b\nsecond line\n"), std::string::npos);
}

TEST_F(LogWriterTest, SwitchesPastTheLimitAndReplacesAStaleFile) {
  PreferencesStore::sharedStore().setObject("logNum", 4);
  PreferencesStore::sharedStore().synchronize();
  LogWriter::resetForTesting();
  makeFile(file(4), 5000001);
  makeFile(file(5), 1234);  // stale leftover
  auto& log = LogWriter::sharedLogger();
  log.logEntry(kGeneralLogEvent, kSessionOther, "after switch", kLogEvent);
  EXPECT_EQ(log.logNum(), 5);
  EXPECT_EQ(fs::file_size(file(4)), 5000001u);
  std::string text = testing::readFile(file(5));
  EXPECT_EQ(text.find('x'), std::string::npos);
  EXPECT_NE(text.find("after switch"), std::string::npos);
  EXPECT_EQ(PreferencesStore::sharedStore().integerForKey("logNum"), 5);
}

TEST_F(LogWriterTest, ExactlyTheLimitDoesNotSwitch) {
  makeFile(file(0), 5000000);
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "x", kLogEvent);
  EXPECT_EQ(LogWriter::sharedLogger().logNum(), 0);
}

TEST_F(LogWriterTest, ThreadsCrossingTheLimitTogetherSwitchOnce) {
  makeFile(file(0), 4999990);
  auto& log = LogWriter::sharedLogger();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 50; ++i) log.logEntry(kGeneralLogEvent, kSessionBackup, "thread " + std::to_string(t), 2);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(log.logNum(), 1);
  EXPECT_FALSE(fs::exists(file(2)));
  // Every line is whole: no interleaving.
  std::ifstream in(file(1));
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(Log[01] \| \d+ \| GeneralLogEvent \| .* \| Backup \| thread \d)")))
        << line;
  }
  std::string first = testing::readFile(file(0));
  size_t linesInFirst = static_cast<size_t>(std::count(first.begin(), first.end(), '\n'));
  EXPECT_EQ(lines + linesInFirst, 400u);
}

TEST_F(LogWriterTest, PrunesToFiftyOldestFirstAndLeavesOtherFiles) {
  fs::create_directories(folder());
  auto now = fs::file_time_type::clock::now();
  makeFile(folder() + "/notes.txt", 10);
  makeFile(folder() + "/palverofiles.db", 10);
  fs::last_write_time(folder() + "/notes.txt", now - std::chrono::hours(1000));
  // One past the limit, and several.
  for (int count : {51, 53}) {
    SCOPED_TRACE(count);
    for (int n = 0; n < count; ++n) {
      makeFile(file(n), 10);
      fs::last_write_time(file(n), now - std::chrono::hours(100 - n));
    }
    LogWriter::sharedLogger().cleanLogFiles(folder());
    int logs = 0;
    for (const auto& entry : fs::directory_iterator(folder())) {
      if (entry.path().filename().string().find(".log") != std::string::npos) ++logs;
    }
    EXPECT_EQ(logs, 50);
    for (int n = 0; n < count - 50; ++n) EXPECT_FALSE(fs::exists(file(n))) << n;
    EXPECT_TRUE(fs::exists(file(count - 50)));
  }
  EXPECT_TRUE(fs::exists(folder() + "/notes.txt"));
  EXPECT_TRUE(fs::exists(folder() + "/palverofiles.db"));
}

TEST_F(LogWriterTest, AfterARestartAppendsToTheSameFile) {
  makeFile(file(6), 5000001);
  PreferencesStore::sharedStore().setObject("logNum", 6);
  PreferencesStore::sharedStore().synchronize();
  LogWriter::resetForTesting();
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "first run", kLogEvent);
  ASSERT_EQ(LogWriter::sharedLogger().logNum(), 7);

  testing::TempHome::resetSingletons();  // a new process
  auto& again = LogWriter::sharedLogger();
  EXPECT_EQ(again.logNum(), 7);
  EXPECT_EQ(again.currentLogFilepath(), file(7));
  again.logEntry(kGeneralLogEvent, kSessionOther, "second run", kLogEvent);
  std::string text = testing::readFile(file(7));
  EXPECT_NE(text.find("first run"), std::string::npos);
  EXPECT_NE(text.find("Log7 | "), std::string::npos);
  EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST_F(LogWriterTest, AFailingDiskLosesTheEntryWithoutThrowingAndTheNextOneIsKept) {
  auto& log = LogWriter::sharedLogger();
  log.logEntry(kGeneralLogEvent, kSessionOther, "first", kLogEvent);
  for (FsOperation operation : {FsOperation::kOpen, FsOperation::kWrite}) {
    SCOPED_TRACE(static_cast<int>(operation));
    FaultyFileSystem faults;
    faults.add(FsFaultRule().on(operation).under("/log0.log").times(FsFaultRule::kForever).with(FsFault::kNoSpace));
    {
      ScopedFileSystem installed(faults);
      EXPECT_NO_THROW(log.logEntry(kGeneralLogEvent, kSessionOther, "lost", kLogFailure));
    }
    EXPECT_GT(faults.injected(), 0);
  }
  // A file where the folder should be: nothing can be created inside it.
  fs::remove_all(folder());
  makeFile(folder(), 1);
  EXPECT_NO_THROW(log.logEntry(kGeneralLogEvent, kSessionOther, "lost", kLogFailure));
  fs::remove(folder());
  fs::create_directories(folder());
  log.logEntry(kGeneralLogEvent, kSessionOther, "kept", kLogFailure);
  std::string text = testing::readFile(file(0));
  EXPECT_NE(text.find("kept"), std::string::npos);
  EXPECT_EQ(text.find("lost"), std::string::npos) << text;
}

}  // namespace
}  // namespace palvero
