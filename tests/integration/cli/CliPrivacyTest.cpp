// What the palvero command leaves readable by others, and where secrets
// travel: the support folder, database and logs after a real login and
// backup; the proxy password off the command line; plain http to another
// computer.
#include <sys/stat.h>

#include <filesystem>

#include "CliFixture.h"

namespace palvero::testing {
namespace {
namespace fs = std::filesystem;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class CliPrivacyTest : public CliFixture {
 protected:
  // The database and every log file, as found.
  static std::vector<std::string> privateFiles() {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(supportDir())) {
      std::string name = entry.path().filename().string();
      if (name.find(".log") != std::string::npos || name.rfind("palverofiles.db", 0) == 0) {
        out.push_back(entry.path().string());
      }
    }
    return out;
  }
  void expectPrivate() {
    EXPECT_EQ(modeOf(supportDir()), 0700u);
    auto files = privateFiles();
    ASSERT_GE(files.size(), 2u) << "the database and a log";
    for (const auto& file : files) EXPECT_EQ(modeOf(file), 0600u) << file;
  }
};

TEST_F(CliPrivacyTest, PlainHttpElsewhereIsWarnedAboutAndWhatIsStoredIsPrivate) {
  const std::string warning = "plain http to another computer";
  // Not logged in, status sends nothing, so the address need not exist.
  CliResult remote = run({"--server", "http://backup.example.invalid/server.php", "status"});
  EXPECT_NE(remote.err.find(warning), std::string::npos) << remote.err;
  CliResult secure = run({"--server", "https://backup.example.invalid/server.php", "status"});
  EXPECT_EQ(secure.err.find(warning), std::string::npos) << secure.err;
  // The local service is plain http on loopback: no warning.
  CliResult local = login({"--new-device", "desk"});
  ASSERT_EQ(local.code, 0) << local.err;
  EXPECT_EQ(local.err.find(warning), std::string::npos) << local.err;
  EXPECT_EQ(run({"status"}).err.find(warning), std::string::npos);

  makeFiles("docs", 3);
  ASSERT_EQ(run({"scan"}).code, 0);
  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.err;
  expectPrivate();
  // What an older build left open is closed the next time it is used.
  ::chmod(supportDir().c_str(), 0755);
  for (const auto& file : privateFiles()) ::chmod(file.c_str(), 0644);
  writeFile(home_ / "Documents/docs/another.txt", "more");
  ASSERT_EQ(run({"scan"}).code, 0);
  ASSERT_EQ(run({"backup"}).code, 0);
  expectPrivate();
}

TEST_F(CliPrivacyTest, TheProxyPasswordIsReadFromStandardInputOnly) {
  CliResult onCommandLine = run({"settings", "set", "proxyPassword", "visible-in-ps"});
  EXPECT_EQ(onCommandLine.code, 1);
  EXPECT_NE(onCommandLine.err.find("standard input"), std::string::npos) << onCommandLine.err;
  EXPECT_EQ(readFile(preferencesPath()).find("visible-in-ps"), std::string::npos);

  CliResult fromInput = run({"settings", "set", "proxyPassword"}, "from-stdin\n");
  ASSERT_EQ(fromInput.code, 0) << fromInput.err;
  EXPECT_NE(readFile(preferencesPath()).find("\"from-stdin\""), std::string::npos);
  EXPECT_EQ(run({"settings", "get", "proxyPassword"}).out, "********\n");
  EXPECT_EQ(run({"settings", "set", "proxyPassword"}).code, 1) << "no input, nothing set";
  // Other settings still take their value on the command line, and need one.
  EXPECT_EQ(run({"settings", "set", "numberOfThreads", "4"}).code, 0);
  EXPECT_EQ(run({"settings", "set", "numberOfThreads"}).code, 1);
}

}  // namespace
}  // namespace palvero::testing
