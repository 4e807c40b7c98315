// The palvero command against palvero-service: login by both device paths,
// scan and backup, a backup stopped by SIGTERM, changed-files scans, the
// daemon under a service manager, server-side deletion after local
// deletions, status output and exit codes.
// (A run killed with -9 is CrashSweepTest's.)
#include "CliFixture.h"
#include "NotifySocket.h"

namespace palvero::testing {
namespace {

class CliTest : public CliFixture {};

TEST_F(CliTest, LoginAsANewDeviceThenTakeItOverByNameAndById) {
  CliResult first = login({"--new-device", "laptop"});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_NE(first.out.find("on device laptop"), std::string::npos) << first.out;
  std::string device = deviceId();
  ASSERT_FALSE(device.empty());

  // The account now has a device: a login that names none is refused with the list.
  ASSERT_EQ(run({"logout"}).code, 0);
  CliResult choose = login();
  EXPECT_EQ(choose.code, 1);
  EXPECT_NE(choose.err.find("laptop"), std::string::npos) << choose.err;
  EXPECT_EQ(statusJSON().value("loggedIn", true), false);

  for (const std::string& which : {std::string("laptop"), device}) {
    SCOPED_TRACE(which);
    ASSERT_EQ(run({"logout"}).code, 0);
    CliResult again = login({"--device", which});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(deviceId(), device) << "the same device, not a new one";
  }
  // A wrong password leaves the working login alone.
  CliResult wrong = run({"login", "--user", kUser, "--password-stdin", "--device", "laptop"}, "nope\n");
  EXPECT_EQ(wrong.code, 2);
  EXPECT_TRUE(statusJSON().value("loggedIn", false));
  EXPECT_EQ(deviceId(), device);
  run({"logout"});
  CliResult missing = login({"--device", "no-such-device"});
  EXPECT_EQ(missing.code, 1) << missing.err;
}

TEST_F(CliTest, ExitCodesForUsageRefusalFailuresAndAnUnreachableService) {
  EXPECT_EQ(run({"no-such-command"}).code, 1);
  EXPECT_EQ(run({"backup", "--bogus-option"}).code, 1);
  EXPECT_EQ(run({"backup"}).code, 2) << "not logged in";
  EXPECT_EQ(run({"status"}).code, 2) << "not logged in";
  CliResult wrong = run({"login", "--user", kUser, "--password-stdin", "--new-device", "x"}, "wrong\n");
  EXPECT_EQ(wrong.code, 2) << wrong.err;

  ASSERT_EQ(login({"--new-device", "box"}).code, 0);
  auto paths = makeFiles("codes", 4);
  ASSERT_EQ(run({"scan"}).code, 0);
  // A file that cannot be read fails (five tries are needed before it stays failed).
  ::chmod(paths[0].c_str(), 0);
  bool root = ::geteuid() == 0;
  CliResult partial = run({"backup"});
  EXPECT_EQ(partial.code, root ? 0 : 3) << partial.out << partial.err;
  ::chmod(paths[0].c_str(), 0644);

  // A service that does not answer.
  CliResult other = run({"--server", "http://127.0.0.1:1/server.php", "status"});
  EXPECT_EQ(other.code, 4) << other.out << other.err;
  ::setenv("PALVERO_SERVER_URL", "http://127.0.0.1:1/server.php", 1);
  makeFiles("codes-more", 1);
  ASSERT_EQ(run({"scan"}).code, 0);
  EXPECT_EQ(run({"backup"}).code, 4);
}

TEST_F(CliTest, ScanBackupChangedScanStatusAndABackupStoppedBySigterm) {
  ASSERT_EQ(login({"--new-device", "desk"}).code, 0);
  useTenWorkers();
  auto paths = makeFiles("many", 200);
  CliResult scan = run({"scan"});
  ASSERT_EQ(scan.code, 0) << scan.err;
  EXPECT_NE(scan.out.find(": 200 files"), std::string::npos) << scan.out;
  Value before = statusJSON();
  EXPECT_EQ(before.value("pendingFiles", -1), 200);

  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;
  EXPECT_NE(backup.out.find("Backed up 200 files"), std::string::npos) << backup.out;
  std::string device = deviceId();
  for (const auto& path : paths) ASSERT_EQ(versions(device, path).size(), 1u) << path;

  // Changed within the same second as the scan, added, and untouched files.
  ::usleep(20000);
  ASSERT_EQ(run({"scan", "--changed"}).code, 0);
  EXPECT_EQ(statusJSON().value("pendingFiles", -1), 0) << "nothing changed since the last scan";
  writeFile(paths[7], "changed right after the scan");
  writeFile(home_ / "Documents/many/added.txt", "new");
  age(paths[7]);
  age(home_ / "Documents/many/added.txt");
  CliResult changed = run({"scan", "--changed"});
  ASSERT_EQ(changed.code, 0);
  EXPECT_NE(changed.out.find(": 2 files"), std::string::npos) << changed.out;
  CliResult second = run({"backup"});
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_NE(second.out.find("Backed up 2 files"), std::string::npos) << second.out;
  EXPECT_EQ(versions(device, paths[7]).size(), 2u);
  EXPECT_EQ(versions(device, paths[8]).size(), 1u);
  EXPECT_EQ(run({"backup"}).out, "Nothing to back up.\n");

  CliResult text = run({"status"});
  EXPECT_EQ(text.code, 0) << text.err;
  for (const char* line : {"Logged in:    ann", "Server:       ok", "Pending:      0 files", "Failed:       0"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << " in\n" << text.out;
  }
  Value json = statusJSON();
  EXPECT_TRUE(json.value("authorised", false));
  EXPECT_TRUE(json.value("reachable", false));
  EXPECT_EQ(json.value("pendingFiles", -1), 0);
  EXPECT_EQ(json.value("failedFiles", -1), 0);
  EXPECT_TRUE(json["check"].value("statusOK", false)) << json.dump();
  EXPECT_FALSE(json["lastBackup"].is_null());

  // SIGTERM in the middle of a run: the files that finished are written, the
  // rest stays queued, and the next run sends no file twice.
  auto stoppable = makeFiles("term", 150);
  ASSERT_EQ(run({"scan", "--changed"}).code, 0);
  ASSERT_EQ(statusJSON().value("pendingFiles", -1), 150);
  // Slow enough that the rest of the run outlasts the signal's way in on a loaded machine.
  service_.addFault("upload_ver:delay=150:100000");
  service_.clearLog();
  pid_t running = start({"backup"});
  ASSERT_TRUE(waitFor([&] { return service_.requests("upload_ver").size() >= 40; }, std::chrono::seconds(60)));
  ::kill(running, SIGTERM);
  CliResult stopped = finish(running);
  EXPECT_EQ(stopped.code, 130) << stopped.out << stopped.err;
  EXPECT_NE(stopped.out.find("Interrupted; the rest stays queued."), std::string::npos) << stopped.out;
  service_.clearFaults();
  int64_t pending = statusJSON().value("pendingFiles", int64_t{-1});
  size_t uploaded = service_.requests("upload_ver").size();
  EXPECT_GT(pending, 0);
  EXPECT_EQ(static_cast<size_t>(pending) + uploaded, stoppable.size()) << "each file either stored or still queued";
  ASSERT_EQ(run({"backup"}).code, 0);
  for (const auto& path : stoppable) EXPECT_EQ(versions(device, path).size(), 1u) << path;
}

// The daemon under a service manager (NOTIFY_SOCKET, as systemd sets it for
// Type=notify): not logged in it ends with 2 and never reports ready, so
// the unit's RestartPreventExitStatus keeps it from looping; else READY=1
// once its watches are set, STOPPING=1 on SIGTERM, then 0. Files deleted
// while it watches are written at its shutdown, and the next run marks
// them deleted on the service.
TEST_F(CliTest, TheDaemonUnderAServiceManagerAndLocalDeletionsMarkedOnTheService) {
  NotifySocket manager;
  ASSERT_TRUE(manager.ready());
  CliResult early = run({"daemon"});
  EXPECT_EQ(early.code, 2) << early.err;
  EXPECT_EQ(manager.next(std::chrono::milliseconds(200)), "") << "ready when it cannot run";

  ASSERT_EQ(login({"--new-device", "deleter"}).code, 0);
  auto paths = makeFiles("gone", 6);
  ASSERT_EQ(run({"scan"}).code, 0);
  ASSERT_EQ(run({"backup"}).code, 0);
  std::string device = deviceId();

  pid_t daemon = start({"daemon"});
  std::string ready = manager.next(std::chrono::seconds(30));
  ASSERT_NE(ready.find("READY=1"), std::string::npos) << ready;
  EXPECT_NE(ready.find("STATUS="), std::string::npos) << ready;
  CliResult second = run({"daemon"});
  EXPECT_EQ(second.code, 1);
  EXPECT_NE(second.err.find("another Palvero is running"), std::string::npos) << second.err;

  for (int i : {0, 1, 2}) ASSERT_EQ(::unlink(paths[static_cast<size_t>(i)].c_str()), 0);
  ::kill(daemon, SIGTERM);
  EXPECT_EQ(manager.next(std::chrono::seconds(30)), "STOPPING=1");
  CliResult stopped = finish(daemon);
  EXPECT_EQ(stopped.code, 0) << stopped.err;

  EXPECT_EQ(statusJSON().value("filesToDelete", -1), 3) << "written by the daemon's shutdown";
  CliResult backup = run({"backup"});
  EXPECT_EQ(backup.code, 0) << backup.out << backup.err;
  EXPECT_NE(backup.out.find("Marked 3 removed files deleted on the service"), std::string::npos) << backup.out;
  for (size_t i = 0; i < paths.size(); ++i) {
    Value stored = versions(device, paths[i]);
    ASSERT_FALSE(stored.empty()) << paths[i];
    EXPECT_EQ(stored.back().value("toDelete", false), i < 3) << paths[i];
  }
  EXPECT_EQ(statusJSON().value("filesToDelete", -1), 0);
}

}  // namespace
}  // namespace palvero::testing
