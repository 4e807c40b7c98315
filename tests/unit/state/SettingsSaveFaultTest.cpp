// The disk failing while the settings are saved: the save says so in the
// log with the reason, the file on disk keeps every key it had, no temporary
// file is left, and the next save writes the change.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Env.h"
#include "platform/FaultyFileSystem.h"
#include "platform/PreferencesStore.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"
#include "support/LogLines.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class SettingsSaveFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings().setClientId(std::string("client-1"));
    settings().setProxyServer(std::string("proxy.example"));
    ASSERT_TRUE(settings().save());
  }
  LocalSettings& settings() { return LocalSettings::sharedManager(); }
  // What a new process would read from disk.
  PreferencesStore onDisk() const { return PreferencesStore(path_); }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path())) {
      if (entry.path().filename().string().find(".tmp.") != std::string::npos) names.push_back(entry.path());
    }
    return names;
  }

  testing::TempHome home_;
  std::string path_ = Env::configDirectory() + "/preferences.json";
};

TEST_F(SettingsSaveFaultTest, AFailedSaveIsLoggedKeepsTheFileAndTheNextSaveWritesTheChange) {
  struct Case {
    const char* label;
    FsOperation operation;
    FsFault fault;
    int error;
    const char* reason;
  };
  const Case cases[] = {
      {"full disk on create", FsOperation::kOpen, FsFault::kNoSpace, 0, "No space left on device"},
      {"full disk on write", FsOperation::kWrite, FsFault::kNoSpace, 0, "No space left on device"},
      {"I/O error on flush", FsOperation::kSync, FsFault::kIOError, 0, "Input/output error"},
      {"failed rename", FsOperation::kRename, FsFault::kError, EXDEV, "Invalid cross-device link"},
  };
  int generation = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string wanted = "proxy-" + std::to_string(++generation) + ".example";
    const std::string before = *onDisk().stringForKey("proxyServer");
    settings().setProxyServer(wanted);
    FaultyFileSystem faults;
    FsFaultRule rule = FsFaultRule().on(c.operation).under("preferences.json.tmp.");
    faults.add(c.fault == FsFault::kError ? rule.withError(c.error) : rule.with(c.fault));
    bool saved;
    {
      ScopedFileSystem installed(faults);
      saved = settings().save();
    }
    ASSERT_EQ(faults.injected(), 1);
    EXPECT_FALSE(saved);
    auto failures = testing::loggedTextsStartingWith("Settings could not be saved: ");
    ASSERT_FALSE(failures.empty());
    EXPECT_NE(failures.back().find(c.reason), std::string::npos) << failures.back();
    EXPECT_EQ(onDisk().stringForKey("proxyServer"), before);
    EXPECT_EQ(onDisk().stringForKey("ClientId"), "client-1");
    EXPECT_TRUE(leftovers().empty());

    ASSERT_TRUE(settings().save());
    EXPECT_EQ(onDisk().stringForKey("proxyServer"), wanted);
    EXPECT_EQ(onDisk().stringForKey("ClientId"), "client-1");
  }
}

// The save starts from the file (another process may have written keys);
// a file that cannot be read then must not be replaced by one holding only
// this save's changes.
TEST_F(SettingsSaveFaultTest, AnUnreadableFileDuringASaveLosesNoKey) {
  PreferencesStore store(path_);
  store.setObject("written-elsewhere", "kept");
  ASSERT_TRUE(store.synchronize());
  store.setObject("changed", 1);
  FaultyFileSystem faults;
  faults.add(FsFaultRule().on(FsOperation::kRead).under("preferences.json").with(FsFault::kIOError));
  {
    ScopedFileSystem installed(faults);
    ASSERT_TRUE(store.synchronize());
  }
  ASSERT_EQ(faults.injected(), 1);
  PreferencesStore reread = onDisk();
  EXPECT_EQ(reread.stringForKey("written-elsewhere"), "kept");
  EXPECT_EQ(reread.stringForKey("ClientId"), "client-1");
  EXPECT_EQ(reread.integerForKey("changed"), 1);
}

}  // namespace
}  // namespace palvero
