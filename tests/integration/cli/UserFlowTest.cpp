// The flows a new user runs, with the palvero command against
// palvero-service: login, scan and the daemon backing everything up; a full
// backup ordered by the service that loses nothing; exclusions that travel
// both ways; a daemon that says when backups are manual; settings changed
// while the daemon runs.
#include <signal.h>

#include "CliFixture.h"
#include "base/Date.h"

namespace palvero::testing {
namespace {

class UserFlowTest : public CliFixture {
 protected:
  static void editPreferences(const std::function<void(Value&)>& edit) {
    Value all = preferences();
    edit(all);
    writeFile(preferencesPath(), all.dump());
  }
  std::string logPath() { return supportDir() + "/log0.log"; }
  // Every path has `revisions` revisions on the service (at most `timeout`).
  bool revisionsReach(const std::string& device, const std::vector<std::string>& paths, size_t revisions,
                      std::chrono::seconds timeout) {
    return waitFor(
        [&] {
          for (const auto& path : paths) {
            if (versions(device, path).size() < revisions) return false;
          }
          return true;
        },
        timeout);
  }
  CliResult stop(pid_t daemon) {
    ::kill(daemon, SIGTERM);
    return finish(daemon);
  }
};

TEST_F(UserFlowTest, LoginScanAndTheDaemonBackUpEverythingAndAFullBackupLosesNothing) {
  ASSERT_EQ(login({"--new-device", "box"}).code, 0);
  // The first run's defaults (AppDelegateTest checks them) are stored by the login too.
  Value stored = preferences();
  EXPECT_EQ(stored.value("complexFiles", ""), ".APP;.IPA;.DMG;.LPDF;");
  EXPECT_FALSE(stored.contains("lastFullBackup")) << "set by the first scan";
  ASSERT_EQ(run({"settings", "set", "BackupTimingType", "1"}).code, 0);

  auto paths = makeFiles("flow", 12);
  std::string package = home_ / "Desktop/Tool.app/Contents/Resources/data.txt";
  writeFile(package, "inside a package");
  age(package);
  CliResult scan = run({"scan"});
  ASSERT_EQ(scan.code, 0) << scan.err;
  EXPECT_NE(scan.out.find(": 12 files"), std::string::npos) << scan.out << "the package stays out";
  EXPECT_TRUE(preferences().contains("lastFullBackup"));
  std::string device = deviceId();

  pid_t daemon = start({"daemon"});
  ASSERT_TRUE(revisionsReach(device, paths, 1, std::chrono::seconds(90))) << readFile(logPath());
  EXPECT_TRUE(versions(device, package).empty());
  CliResult stopped = stop(daemon);
  EXPECT_EQ(stopped.code, 0) << stopped.err;
  EXPECT_EQ(statusJSON().value("pendingFiles", -1), 0);

  // The service orders a full backup; the last run was just now, so the
  // continuous rule (900 s) is moved out of the way.
  service_.setAdminSettings(kUser, "clientfull", R"({"NeedFullBackup":"1"})");
  editPreferences([](Value& all) {
    all["dateBackupStarted"] = Date::now().addingTimeInterval(-3600).format(Date::kSettingsPattern);
  });
  daemon = start({"daemon"});
  bool twice = revisionsReach(device, paths, 2, std::chrono::seconds(120));
  service_.setAdminSettings(kUser, "clientfull", "");
  stopped = stop(daemon);
  ASSERT_TRUE(twice) << readFile(logPath());
  EXPECT_EQ(stopped.code, 0) << stopped.err;
  for (const auto& path : paths) EXPECT_EQ(versions(device, path).size(), 2u) << path;
  Value status = statusJSON();
  EXPECT_EQ(status.value("pendingFiles", -1), 0) << status.dump();
  EXPECT_EQ(status.value("failedRetrying", -1) + status.value("failedFiles", -1), 0) << status.dump();
  EXPECT_EQ(preferences().value("needFullBackup", true), false);
  EXPECT_EQ(readFile(logPath()).find("already queued"), std::string::npos);
}

TEST_F(UserFlowTest, ExclusionsTravelToTheServiceAndBack) {
  ASSERT_EQ(login({"--new-device", "box"}).code, 0);
  std::string device = deviceId();
  CliResult set = run({"settings", "set", "emptyfiles", "true"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.err, "") << "the service was told";
  Value saved = service_.savedSettings(device, "exclusions");
  EXPECT_EQ(saved["Exclusions"]["items"]["emptyfiles"], true) << saved.dump();

  // Changed on the service side: the daemon's refresh at its start brings it.
  service_.setAdminSettings(kUser, "exclusions", R"({"Exclusions":{"items":{"size":123456789,"emptyfiles":false}}})");
  pid_t daemon = start({"daemon"});
  bool arrived = waitFor([&] { return preferences().value("maxSize", Value()) == Value(123456789); },
                         std::chrono::seconds(30));
  CliResult stopped = stop(daemon);
  ASSERT_TRUE(arrived) << readFile(logPath());
  EXPECT_EQ(stopped.code, 0) << stopped.err;
  EXPECT_NE(stopped.err.find("backups are manual"), std::string::npos) << "the timing the login left";
  EXPECT_EQ(run({"settings", "get", "maxSize"}).out, "123456789\n");
  EXPECT_EQ(preferences().value("emptyfiles", true), false);
  EXPECT_EQ(readFile(logPath()).find("no extension catalogue"), std::string::npos);
}

// With the daemon running (as the user service keeps it), "settings set"
// hands the change over and the daemon acts on it: continuous backups start
// without a restart, an exclusion reaches the service, and nothing is
// undone when the daemon saves its settings on the way out.
TEST_F(UserFlowTest, SettingsChangedWhileTheDaemonRunsAreAppliedByIt) {
  ASSERT_EQ(login({"--new-device", "box"}).code, 0);
  std::string device = deviceId();
  auto paths = makeFiles("later", 4);
  ASSERT_EQ(run({"scan"}).code, 0);
  pid_t daemon = start({"daemon"});
  ASSERT_TRUE(waitFor([&] { return readFile(logPath()).find("Application is initialized") != std::string::npos; },
                      std::chrono::seconds(30)));

  CliResult timing = run({"settings", "set", "BackupTimingType", "1"});
  EXPECT_EQ(timing.code, 0) << timing.err;
  EXPECT_NE(timing.out.find("applied by the running daemon"), std::string::npos) << timing.out;
  EXPECT_TRUE(revisionsReach(device, paths, 1, std::chrono::seconds(90))) << "continuous backups did not start";
  ASSERT_EQ(run({"settings", "set", "emptyfiles", "true"}).code, 0);
  EXPECT_TRUE(waitFor(
      [&] { return service_.savedSettings(device, "exclusions")["Exclusions"]["items"]["emptyfiles"] == true; },
      std::chrono::seconds(30)));
  CliResult bad = run({"settings", "set", "BackupTimingType", "7"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("expected 0 (manual)"), std::string::npos) << bad.err;

  // A daemon that does not look (stopped) is waited for, then said so; it
  // takes the change once it runs again.
  ::kill(daemon, SIGSTOP);
  CliResult waiting = run({"settings", "set", "BandwidthLimit", "30"});
  ::kill(daemon, SIGCONT);
  EXPECT_EQ(waiting.code, 1);
  EXPECT_NE(waiting.err.find("has not taken BandwidthLimit yet"), std::string::npos) << waiting.err;
  EXPECT_TRUE(waitFor([&] { return preferences().value("BandwidthLimit", 0) == 30; }, std::chrono::seconds(10)));

  CliResult stopped = stop(daemon);
  EXPECT_EQ(stopped.code, 0) << stopped.err;
  Value stored = preferences();
  EXPECT_EQ(stored.value("BackupTimingType", 0), 1);
  EXPECT_EQ(stored.value("emptyfiles", false), true);
  EXPECT_EQ(stored.value("BandwidthLimit", 0), 30);
}

}  // namespace
}  // namespace palvero::testing
