// kill -9 of the palvero program at many points: a restore (then --resume
// must bring back every file byte for byte and leave no temporary file), the
// daemon in the middle of a scheduled run, a settings save and a log
// rotation. The points come from a seeded generator whose seed is printed,
// so a failing point can be replayed.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>

#include <fstream>
#include <random>

#include "CliFixture.h"
#include "base/StringFormat.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative path -> content

std::string randomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(generator());
  return out;
}

Tree treeBelow(const std::string& folder) {
  Tree out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) out[fs::relative(it->path(), folder).string()] = readFile(it->path().string());
  }
  return out;
}

// Names of the files that differ between two trees, for a short message.
std::string differences(const Tree& actual, const Tree& expected) {
  std::string out;
  for (const auto& [name, content] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      out += " missing:" + name;
    } else if (it->second != content) {
      out += " differs:" + name;
    }
  }
  for (const auto& [name, content] : actual) {
    if (!expected.count(name)) out += " extra:" + name;
  }
  return out;
}

uint64_t sweepSeed() {
  const char* given = std::getenv("PALVERO_SWEEP_SEED");
  return given && *given ? std::strtoull(given, nullptr, 10) : 20240131;
}

class CrashSweepTest : public CliFixture {
 protected:
  // Writes `tree` below `folder` of the home, an hour old.
  void writeTree(const std::string& folder, const Tree& tree) {
    for (const auto& [relative, content] : tree) {
      std::string path = home_ / (folder + "/" + relative);
      writeFile(path, content);
      age(path);
    }
  }

  // The server requests a restore sends for its listing and its content.
  size_t restoreRequests() {
    size_t count = 0;
    for (const char* kind : {"get_folder_page", "get_files_list", "get_ver", "get_block"}) {
      count += service_.requests(kind).size();
    }
    return count;
  }

  // Rows of the restore table still pending, read from the client's database.
  int pendingRestoreRows() {
    sqlite3* db = nullptr;
    std::string path = supportDir() + "/palverofiles.db";
    int rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 1000);
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM FILESTORESTORE", -1, &statement, nullptr) == SQLITE_OK &&
          sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int(statement, 0);
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
  }

  void expectResumeRestoresEverything(const std::string& destination, const Tree& expected) {
    CliResult resumed = run({"restore", "--resume"});
    EXPECT_EQ(resumed.code, 0) << resumed.out << resumed.err;
    Tree restored = treeBelow(destination);
    EXPECT_TRUE(restored == expected) << "after --resume:" << differences(restored, expected) << "\n" << resumed.out;
    CliResult again = run({"restore", "--resume"});
    EXPECT_NE(again.out.find("no interrupted restore"), std::string::npos) << again.out << again.err;
  }
};

// Twenty restores of a folder, each killed after a seeded number of the
// service's answers (listing pages, version files, blocks), then resumed.
// Files come in three kinds: held in their version text, one block, three
// blocks (so that a kill can land between blocks of one file).
TEST_F(CrashSweepTest, ARestoreKilledAtTwentyPointsResumesToEveryFileByteForByte) {
  ASSERT_EQ(login({"--new-device", "sweeper"}).code, 0);
  ASSERT_EQ(run({"settings", "set", "numberOfThreads", "4"}).code, 0);
  Tree tree;
  for (int i = 0; i < 4; ++i) tree[stringWithFormat("tiny-%d.txt", i)] = randomBytes(100 + i, 10 + i);
  for (int i = 0; i < 5; ++i) tree[stringWithFormat("sub/one-%d.txt", i)] = randomBytes(30000 + i, 20 + i);
  for (int i = 0; i < 3; ++i) tree[stringWithFormat("sub/deeper/three-%d.pdf", i)] = randomBytes(700000 + i, 30 + i);
  writeTree("Documents/sweep", tree);
  ASSERT_EQ(run({"scan"}).code, 0);
  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;

  const std::string source = home_ / "Documents/sweep";
  const std::string destination = home_.path() + "-restored";
  Tree expected;
  for (const auto& [relative, content] : tree) expected["Documents/sweep/" + relative] = content;
  // One whole run first: it must work, and it counts the answers a run
  // takes (listing pages, version files, blocks). The first listing answer
  // comes before the choice is stored; the kill points lie after it.
  service_.clearLog();
  CliResult whole = run({"restore", source, "--to", destination});
  ASSERT_EQ(whole.code, 0) << whole.out << whole.err;
  ASSERT_TRUE(treeBelow(destination) == expected) << differences(treeBelow(destination), expected);
  const size_t total = restoreRequests();
  ASSERT_GT(total, tree.size());
  std::mt19937_64 generator(sweepSeed());
  for (int point = 0; point < 20; ++point) {
    size_t killAfter = 2 + generator() % (total - 3);
    SCOPED_TRACE(stringWithFormat("seed %llu, point %d: killed after %zu answers",
                                  static_cast<unsigned long long>(sweepSeed()), point, killAfter));
    std::error_code ignored;
    fs::remove_all(destination, ignored);
    service_.clearLog();
    for (const char* rule : {"get_folder_page:delay=40:always", "get_ver:delay=25:always", "get_block:delay=60:always"}) {
      service_.addFault(rule);
    }
    pid_t restore = start({"restore", source, "--to", destination});
    bool reached = waitFor([&] { return restoreRequests() >= killAfter; }, std::chrono::seconds(60));
    ::kill(restore, SIGKILL);
    CliResult killed = finish(restore);
    service_.clearFaults();
    ASSERT_TRUE(reached) << "the restore did not get that far:\n" << killed.out << killed.err;
    if (killed.code != 128 + SIGKILL) continue;  // it finished first: nothing to resume
    expectResumeRestoresEverything(destination, expected);
    if (::testing::Test::HasFailure()) return;
  }
}

// A restore whose list is longer than one group of 400 is killed after the
// first group is in the table but before the listing is done: --resume
// must not take the partial table for the whole restore.
TEST_F(CrashSweepTest, ARestoreKilledWhileItsListIsWrittenIsListedAgainOnResume) {
  ASSERT_EQ(login({"--new-device", "lister"}).code, 0);
  useTenWorkers();
  // The listing of "big" (five pages) fills the first group; the folders of
  // "deep" are only known one after another, so their listing goes on after.
  Tree tree;
  for (int i = 0; i < 420; ++i) tree[stringWithFormat("big/%03d.txt", i)] = stringWithFormat("big %d", i);
  std::string deep = "deep";
  for (int level = 0; level < 8; ++level) {
    deep += stringWithFormat("/l%d", level);
    tree[deep + "/x.txt"] = deep;
  }
  writeTree("Documents/many", tree);
  ASSERT_EQ(run({"scan"}).code, 0);
  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;

  const std::string destination = home_.path() + "-restored";
  service_.addFault("get_folder_page:delay=300:always");
  pid_t restore = start({"restore", home_ / "Documents/many", "--to", destination});
  bool firstGroup = waitFor([&] { return pendingRestoreRows() >= 400; }, std::chrono::seconds(60));
  ::kill(restore, SIGKILL);
  CliResult killed = finish(restore);
  service_.clearFaults();
  ASSERT_TRUE(firstGroup) << "the first group was never written:\n" << killed.out << killed.err;
  ASSERT_EQ(killed.code, 128 + SIGKILL);
  ASSERT_LT(pendingRestoreRows(), static_cast<int>(tree.size())) << "killed after the listing ended";

  Tree expected;
  for (const auto& [relative, content] : tree) expected["Documents/many/" + relative] = content;
  expectResumeRestoresEverything(destination, expected);
}

// The daemon is killed while its scheduled run uploads; the next run backs
// every file up, none lost, none marked done without reaching the service,
// and only the files in flight at the kill (one per worker) go twice.
TEST_F(CrashSweepTest, TheDaemonKilledDuringAScheduledRunLosesNoFile) {
  ASSERT_EQ(login({"--new-device", "scheduled"}).code, 0);
  useTenWorkers();
  ASSERT_EQ(run({"settings", "set", "BackupTimingType", "1"}).code, 0);
  // A first start sets the monthly full backup going; it is over before the
  // files are queued.
  pid_t first = start({"daemon"});
  ASSERT_TRUE(waitFor([&] { return preferences().value("lastFullBackup", Value()).is_object() &&
                                   !preferences().value("needFullBackup", true); },
                      std::chrono::seconds(30)));
  ::kill(first, SIGTERM);
  ASSERT_EQ(finish(first).code, 0);
  auto paths = makeFiles("daemon", 120);
  ASSERT_EQ(run({"scan"}).code, 0);
  service_.addFault("upload_ver:delay=20:always");
  pid_t daemon = start({"daemon"});
  bool uploading = waitFor([&] { return service_.requests("upload_ver").size() >= 30; }, std::chrono::seconds(90));
  ::kill(daemon, SIGKILL);
  CliResult killed = finish(daemon);
  service_.clearFaults();
  ASSERT_TRUE(uploading) << "no scheduled run started:\n" << killed.out << killed.err;
  ASSERT_EQ(killed.code, 128 + SIGKILL);
  ASSERT_LT(service_.requests("upload_ver").size(), paths.size()) << "the run ended before the kill";

  // The lock of the killed daemon is gone with it.
  auto starts = [&] {
    std::string log = readFile(supportDir() + "/log0.log");
    size_t count = 0;
    for (size_t at = log.find("Application is initialized"); at != std::string::npos;
         at = log.find("Application is initialized", at + 1)) {
      ++count;
    }
    return count;
  };
  size_t startsBefore = starts();
  pid_t again = start({"daemon"});
  ASSERT_TRUE(waitFor([&] { return starts() > startsBefore; }, std::chrono::seconds(30)));
  ::kill(again, SIGTERM);
  EXPECT_EQ(finish(again).code, 0);

  CliResult finished = run({"backup"});
  ASSERT_EQ(finished.code, 0) << finished.out << finished.err;
  std::string device = deviceId();
  size_t twice = 0;
  for (const auto& path : paths) {
    size_t stored = versions(device, path).size();
    EXPECT_GE(stored, 1u) << path << " lost";
    EXPECT_LE(stored, 2u) << path;
    twice += stored == 2;
  }
  EXPECT_LE(twice, 10u) << "only files in flight at the kill go twice";
  EXPECT_EQ(statusJSON().value("pendingFiles", -1), 0);
  EXPECT_EQ(statusJSON().value("failedFiles", -1), 0);
}

// Settings saves killed at seeded moments: the preferences file is always
// whole, holding the old value or the new one, and the program starts.
TEST_F(CrashSweepTest, ASettingsSaveKilledLeavesTheOldOrTheNewValue) {
  ASSERT_EQ(login({"--new-device", "settler"}).code, 0);
  std::mt19937_64 generator(sweepSeed());
  int before = 1;
  ASSERT_EQ(run({"settings", "set", "numberOfThreads", "1"}).code, 0);
  for (int point = 0; point < 30; ++point) {
    int after = 2 + point % 8;
    auto delay = std::chrono::microseconds(generator() % 40000);
    SCOPED_TRACE(stringWithFormat("seed %llu, point %d: killed after %lld us", static_cast<unsigned long long>(sweepSeed()),
                                  point, static_cast<long long>(delay.count())));
    pid_t save = start({"settings", "set", "numberOfThreads", std::to_string(after)});
    std::this_thread::sleep_for(delay);
    ::kill(save, SIGKILL);
    CliResult killed = finish(save);
    Value stored = preferences();
    ASSERT_TRUE(stored.is_object()) << "torn preferences:\n" << readFile(preferencesPath());
    int64_t threads = stored.value("numberOfThreads", int64_t{-1});
    EXPECT_TRUE(threads == before || threads == after) << threads;
    ASSERT_TRUE(stored.value("initialized", false)) << "the login was lost";
    CliResult get = run({"settings", "get", "numberOfThreads"});
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(get.out, std::to_string(threads) + "\n");
    before = static_cast<int>(threads);
  }
  EXPECT_EQ(run({"status"}).code, 0);
}

// Runs killed while they switch to a new log file: no earlier line of any
// log file is lost or changed, the preferences stay whole, and the next run
// logs on into a file below the limit.
TEST_F(CrashSweepTest, ALogRotationKilledKeepsEveryLineAndLogsOn) {
  ASSERT_EQ(login({"--new-device", "rotator"}).code, 0);
  makeFiles("logged", 20);
  std::mt19937_64 generator(sweepSeed());
  auto currentLog = [&]() -> std::string {
    Value stored = preferences();
    std::string url = stored.value("logFilepath", std::string());
    if (url.rfind("file://", 0) == 0) url.erase(0, 7);
    return url.empty() ? supportDir() + "/log0.log" : url;
  };
  for (int point = 0; point < 12; ++point) {
    auto delay = std::chrono::microseconds(generator() % 60000);
    SCOPED_TRACE(stringWithFormat("seed %llu, point %d: killed after %lld us", static_cast<unsigned long long>(sweepSeed()),
                                  point, static_cast<long long>(delay.count())));
    // Only the current file is kept, filled past the limit so that the next
    // line switches files.
    std::string current = currentLog();
    for (const auto& entry : fs::directory_iterator(supportDir())) {
      if (entry.path().extension() == ".log" && entry.path() != current) fs::remove(entry.path());
    }
    {
      std::ofstream fill(current, std::ios::app | std::ios::binary);
      std::string line(999, 'f');
      line += '\n';
      while (fs::file_size(current) <= 5000000) fill << line << std::flush;
    }
    Tree logsBefore = treeBelow(supportDir());
    pid_t scan = start({"scan"});
    std::this_thread::sleep_for(delay);
    ::kill(scan, SIGKILL);
    finish(scan);
    ASSERT_TRUE(preferences().is_object()) << "torn preferences";
    Tree logsAfter = treeBelow(supportDir());
    for (const auto& [name, content] : logsBefore) {
      if (name.find(".log") == std::string::npos) continue;
      ASSERT_TRUE(logsAfter.count(name)) << name << " removed";
      EXPECT_EQ(logsAfter[name].compare(0, content.size(), content), 0) << name << " changed";
    }
  }
  CliResult scan = run({"scan"});
  EXPECT_EQ(scan.code, 0) << scan.err;
  std::string current = currentLog();
  ASSERT_TRUE(fs::exists(current)) << current;
  EXPECT_LT(fs::file_size(current), 5000000u);
  EXPECT_NE(readFile(current).find("Log"), std::string::npos) << "nothing logged after the kills";
}

}  // namespace
}  // namespace palvero::testing
