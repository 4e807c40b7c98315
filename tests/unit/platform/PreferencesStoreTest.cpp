#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "platform/Env.h"
#include "platform/PreferencesStore.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class PreferencesStoreTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
  std::string path_ = Env::configDirectory() + "/preferences.json";
};

TEST_F(PreferencesStoreTest, TypedValuesSurviveAFreshLoad) {
  {
    PreferencesStore store(path_);
    store.setObject("text", "héllo");
    store.setObject("int", 5000000000LL);
    store.setObject("bool", true);
    store.setObject("dict", Value{{"a", 1}});
    store.setObject("array", Value::array({"x", "y"}));
    ASSERT_TRUE(store.synchronize());
  }
  PreferencesStore store(path_);
  EXPECT_EQ(store.stringForKey("text"), "héllo");
  EXPECT_EQ(store.integerForKey("int"), 5000000000LL);
  EXPECT_TRUE(store.boolForKey("bool"));
  EXPECT_EQ(store.dictionaryForKey("dict"), (Value{{"a", 1}}));
  EXPECT_EQ(store.arrayForKey("array"), Value::array({"x", "y"}));
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PreferencesStoreTest, AbsentAndMistypedKeysReadAsEmpty) {
  PreferencesStore store(path_);
  store.setObject("number", 7);
  store.setObject("text", "12abc");
  EXPECT_FALSE(store.stringForKey("missing"));
  EXPECT_FALSE(store.stringForKey("number"));
  EXPECT_EQ(store.integerForKey("missing"), 0);
  EXPECT_EQ(store.integerForKey("text"), 12);
  EXPECT_FALSE(store.boolForKey("missing"));
  EXPECT_TRUE(store.boolForKey("number"));
  EXPECT_TRUE(store.dictionaryForKey("number").empty());
  EXPECT_TRUE(store.arrayForKey("text").is_array());
}

TEST_F(PreferencesStoreTest, TwoWritersKeepEachOthersKeys) {
  PreferencesStore first(path_);
  PreferencesStore second(path_);
  first.setObject("a", 1);
  second.setObject("b", 2);
  ASSERT_TRUE(first.synchronize());
  ASSERT_TRUE(second.synchronize());
  second.removeObjectForKey("a");  // a removal is a change too
  first.setObject("c", 3);
  ASSERT_TRUE(second.synchronize());
  ASSERT_TRUE(first.synchronize());
  PreferencesStore reader(path_);
  EXPECT_FALSE(reader.objectForKey("a"));
  EXPECT_EQ(reader.integerForKey("b"), 2);
  EXPECT_EQ(reader.integerForKey("c"), 3);
}

TEST_F(PreferencesStoreTest, ConcurrentProcessesNeverTearTheFile) {
  {
    PreferencesStore seed(path_);
    seed.setObject("seed", "kept");
    ASSERT_TRUE(seed.synchronize());
  }
  std::vector<pid_t> children;
  for (int child = 0; child < 3; ++child) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PreferencesStore store(path_);
      for (int i = 0; i < 40; ++i) {
        store.setObject("child" + std::to_string(child), i);
        store.setObject("bulk" + std::to_string(child), std::string(20000, 'a' + child));
        if (!store.synchronize()) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  PreferencesStore reader(path_);
  EXPECT_EQ(reader.stringForKey("seed"), "kept");
  for (int child = 0; child < 3; ++child) EXPECT_EQ(reader.integerForKey("child" + std::to_string(child)), 39);
}

TEST_F(PreferencesStoreTest, KilledWriterLeavesAWholeLoadableFile) {
  {
    PreferencesStore seed(path_);
    seed.setObject("generation", -1);
    ASSERT_TRUE(seed.synchronize());
  }
  std::mt19937 random(12345);
  for (int round = 0; round < 10; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PreferencesStore store(path_);
      for (int i = 0;; ++i) {
        store.setObject("generation", i);
        store.setObject("payload", std::string(200000, static_cast<char>('a' + i % 26)));
        store.synchronize();
      }
    }
    usleep(1000 + random() % 20000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    PreferencesStore reader(path_);
    SCOPED_TRACE(round);
    ASSERT_TRUE(reader.objectForKey("generation"));
    auto payload = reader.stringForKey("payload");
    if (payload) {
      EXPECT_EQ(payload->size(), 200000u);
    }
  }
}

TEST_F(PreferencesStoreTest, CorruptFileLoadsEmpty) {
  testing::writeFile(path_, "{ not json");
  PreferencesStore store(path_);
  EXPECT_FALSE(store.objectForKey("anything"));
  store.setObject("a", 1);
  EXPECT_TRUE(store.synchronize());
  EXPECT_EQ(PreferencesStore(path_).integerForKey("a"), 1);
}

TEST_F(PreferencesStoreTest, RemovePersistentDomainDeletesEverything) {
  PreferencesStore store(path_);
  store.setObject("a", 1);
  ASSERT_TRUE(store.synchronize());
  EXPECT_TRUE(store.removePersistentDomain());
  EXPECT_FALSE(store.objectForKey("a"));
  EXPECT_FALSE(fs::exists(path_));
}

TEST(EnvTest, FoldersFollowTheXdgVariables) {
  testing::TempHome home;
  EXPECT_EQ(Env::homeDirectory(), home.path());
  EXPECT_EQ(Env::supportDirectory(), home.path() + "/.local/share/" + Env::bundleIdentifier());
  EXPECT_EQ(Env::cachesDirectory(), home.path() + "/.cache");
  EXPECT_EQ(Env::configDirectory(), home.path() + "/.config/" + Env::bundleIdentifier());
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(Env::supportDirectory(), home.path() + "/.local/share/" + Env::bundleIdentifier());
}

TEST(EnvTest, ServerAddressAcceptsOriginOrScript) {
  EXPECT_EQ(Env::normalizeServerURL("http://127.0.0.1:8080"), "http://127.0.0.1:8080/server.php");
  EXPECT_EQ(Env::normalizeServerURL("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/server.php");
  EXPECT_EQ(Env::normalizeServerURL("http://127.0.0.1:8080/server.php"), "http://127.0.0.1:8080/server.php");
  setenv("PALVERO_SERVER_URL", "http://127.0.0.1:9", 1);
  EXPECT_EQ(Env::serverURL(), "http://127.0.0.1:9/server.php");
  unsetenv("PALVERO_SERVER_URL");
  EXPECT_NE(Env::serverURL().find("/server.php"), std::string::npos);
}

TEST(EnvTest, OnlyPlainHttpToAnotherComputerIsUnencrypted) {
  for (const char* url : {"http://backup.example.com/server.php", "HTTP://Backup.Example.com", "http://10.0.0.5:80/",
                          "http://127.0.0.1.example.com/", "http://user@host/", "http://[2001:db8::1]:8080/"}) {
    SCOPED_TRACE(url);
    EXPECT_TRUE(Env::isUnencryptedRemoteURL(url));
  }
  for (const char* url : {"https://backup.example.com/server.php", "http://127.0.0.1:8080/server.php",
                          "http://127.45.0.9/", "http://localhost:9/", "http://[::1]:9/server.php",
                          "http://user@127.0.0.1/"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(Env::isUnencryptedRemoteURL(url));
  }
}

}  // namespace
}  // namespace palvero
