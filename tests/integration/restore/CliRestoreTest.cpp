// The whole product: the palvero command backs a tree up to palvero-service,
// changes it, backs it up again, and restores it (latest, as at a date, one
// revision, elsewhere).
#include <map>
#include <random>

#include "base/Date.h"
#include "base/StringFormat.h"
#include "engine/format/Compressor.h"
#include "integration/cli/CliFixture.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

using Tree = std::map<std::string, std::string>;  // relative path → content

std::string randomText(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(generator());
  return out;
}

class CliRestoreTest : public CliFixture {
 protected:
  using Run = CliResult;

  void SetUp() override {
    CliFixture::SetUp();
    Run in = login({"--new-device", "desk"});
    ASSERT_EQ(in.code, 0) << in.out << in.err;
  }

  Run palvero(const std::vector<std::string>& args) { return run(args); }

  // Writes each file as a new file renamed into place (so it gets a new
  // creation time, which dates its next revision) and sets its modification
  // time a minute back, so the backup does not wait for it to be quiet.
  void write(const Tree& tree) {
    const auto past = static_cast<time_t>(Date::now().timeIntervalSince1970()) - 60;
    for (const auto& [relative, content] : tree) {
      const std::string path = home_ / relative;
      writeFile(path + ".new", content);
      struct timespec times[2] = {{past, 0}, {past, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, (path + ".new").c_str(), times, 0), 0);
      ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    }
  }

  static void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
  }

  void backUp(bool changedOnly) {
    Run scan = changedOnly ? palvero({"scan", "--changed"}) : palvero({"scan"});
    ASSERT_EQ(scan.code, 0) << scan.out << scan.err;
    Run backup = palvero({"backup"});
    ASSERT_EQ(backup.code, 0) << backup.out << backup.err;
  }

  // Every regular file below `folder`: relative path → content.
  static Tree treeBelow(const std::string& folder) {
    Tree out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_regular_file()) out[fs::relative(it->path(), folder).string()] = readFile(it->path().string());
    }
    return out;
  }

  static void expectSame(const Tree& actual, const Tree& expected) {
    std::string extra;
    for (const auto& [relative, content] : actual) {
      if (!expected.count(relative)) extra += " " + relative;
    }
    EXPECT_EQ(extra, "") << "restored but not expected";
    for (const auto& [relative, content] : expected) {
      auto found = actual.find(relative);
      ASSERT_NE(found, actual.end()) << relative << " is missing";
      EXPECT_TRUE(found->second == content) << relative << " differs";
    }
  }

  // The first tree, then changes: `first` and `latest` are what a restore
  // of either state must give; `between_` is a time (whole seconds) after
  // every first revision and before every change. A revision is dated by
  // its file's change time, so the states are a few seconds apart.
  void backUpTwoStates() {
    first_ = {{"docs/a.txt", randomText(3000, 1)},        {"docs/sub/b.pdf", randomText(300000, 2)},
              {"docs/tiny.txt", "tiny"},                   {"pics/c.jpg", randomText(70000, 3)},
              {"docs/sub/deeper/d.txt", randomText(257, 4)}, {"docs/old.txt", randomText(5000, 5)}};
    write(first_);
    backUp(false);
    sleepSeconds(1.1);
    between_ = Date::now().format("yyyy-MM-dd HH:mm:ss");
    sleepSeconds(1.1);
    Tree changes = {{"docs/a.txt", randomText(4000, 11)}, {"docs/sub/b.pdf", randomText(300001, 12)},
                    {"docs/new.txt", randomText(900, 13)}};
    write(changes);
    backUp(true);
    latest_ = first_;
    for (const auto& [relative, content] : changes) latest_[relative] = content;
  }

  Tree first_;
  Tree latest_;
  std::string between_;
};

TEST_F(CliRestoreTest, AllDataAsAtADateComesBackByteForByte) {
  backUpTwoStates();
  // Between the two backups: the first revisions of the changed files; the
  // file added later has a single revision and comes back at its latest.
  Run dated = palvero({"restore", "--all", "--at", between_, "--to", home_ / "earlier"});
  ASSERT_EQ(dated.code, 0) << dated.out << dated.err;
  EXPECT_NE(dated.out.find("Restored 7 files"), std::string::npos) << dated.out;
  Tree earlier = first_;
  earlier["docs/new.txt"] = latest_.at("docs/new.txt");
  expectSame(treeBelow(home_ / "earlier"), earlier);
  std::vector<std::string> kinds;
  for (const auto& report : service_.reports()) kinds.push_back(report["fields"].value("type", ""));
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "restoreend"), 1) << "sent before the command ends";
}

// "Restore all data" asks for the whole tree under the backup folder in one
// listing, whose names are paths below "/".
TEST_F(CliRestoreTest, AllDataComesFromOneWholeTreeListingWithEveryKindOfName) {
  Tree tree = {{"Mes documents/\xC3\xA9t\xC3\xA9 2024/notes \xC3\xA0 lire.txt", randomText(4000, 21)},
               {"a b/c d/e f.dat", randomText(300000, 22)},
               {"\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\x9E.txt", randomText(10, 23)},
               {"deep/1/2/3/4/5/6/7/file (1) 'x'.txt", randomText(700, 24)},
               {"top.txt", randomText(50, 25)}};
  write(tree);
  backUp(false);
  service_.clearLog();
  Run run = palvero({"restore", "--all", "--to", home_ / "out"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  expectSame(treeBelow(home_ / "out"), tree);
  EXPECT_EQ(service_.requests("get_files_list").size(), 1u);
  EXPECT_TRUE(service_.requests("get_folder_page").empty()) << "no folder-by-folder walk";
  auto asked = service_.requests("get_files_list")[0]["fields"].value("path", std::string());
  EXPECT_EQ(asked, home_.path());
}

// Listed names that are no clean path below the backup folder (outside it,
// "." or ".." components, a leading "/", empty, a NUL) are refused and
// reported, never written anywhere; the rest comes back.
TEST_F(CliRestoreTest, ListedNamesThatAreNoCleanPathBelowTheBackupFolderAreRefused) {
  write({{"docs/good.txt", "good"}});
  backUp(false);
  const std::string home = home_.path().substr(1);
  const std::vector<std::string> hostile = {home + "-outside.txt",      "/" + home + "/docs/x.txt",
                                            "",                          home + "/docs/nul" + std::string(1, '\0'),
                                            home + "/docs/../../up.txt", home + "/docs/./dot.txt",
                                            home + "/docs/.."};
  auto file = [](const std::string& name) {
    return Value{{"file", name},
                 {"size", 4},
                 {"toDelete", false},
                 {"version", Value::array({Value{{"number", 1}, {"size", 4}, {"modified", "20240131 10:00:00"}}})}};
  };
  Value listing = Value::array({file(home + "/docs/good.txt")});
  for (const auto& name : hostile) listing.push_back(file(name));
  std::string json = listing.dump();
  Bytes packed;
  std::string errorText;
  int32_t errorType = 0;
  ASSERT_TRUE(Compressor().CompressPackageStream(Bytes(json.begin(), json.end()), packed, "files.json", "Octet",
                                                 errorText, errorType, "t0"));
  std::string encoded;
  for (uint8_t byte : packed) encoded += stringWithFormat("%%%02X", byte);
  for (const std::vector<std::string>& target :
       {std::vector<std::string>{"--to", home_ / "out"}, std::vector<std::string>{}}) {
    SCOPED_TRACE(target.empty() ? "in place" : "into a folder");
    service_.addFault("get_files_list:body=" + encoded + ":1");
    std::vector<std::string> args = {"restore", "--all"};
    args.insert(args.end(), target.begin(), target.end());
    Run run = palvero(args);
    EXPECT_EQ(run.code, 3) << run.out << run.err;
    size_t refused = 0;
    for (size_t at = 0; (at = run.out.find(": Refused name from the service", at)) != std::string::npos; ++at) {
      ++refused;
    }
    EXPECT_EQ(refused, hostile.size()) << run.out;
    EXPECT_FALSE(fs::exists("/" + hostile[0]));
    EXPECT_FALSE(fs::exists(fs::path(home_.path()).parent_path() / "up.txt"));
    EXPECT_FALSE(fs::exists(home_ / "out/up.txt"));
    EXPECT_FALSE(fs::exists(home_ / "docs/dot.txt"));
  }
  EXPECT_EQ(readFile(home_ / "docs/good.txt"), "good");
  expectSame(treeBelow(home_ / "out"), {{"docs/good.txt", "good"}});
}

TEST_F(CliRestoreTest, ItemsRevisionsAndDevicesAreChosenFromTheListings) {
  backUpTwoStates();
  struct Case {
    const char* label;
    std::vector<std::string> args;
    Tree expected;
  };
  const std::vector<Case> cases = {
      {"one folder", {"restore", home_ / "docs/sub", "--to", home_ / "out1"},
       {{"docs/sub/b.pdf", latest_["docs/sub/b.pdf"]}, {"docs/sub/deeper/d.txt", latest_["docs/sub/deeper/d.txt"]}}},
      {"a single file lands as destination/name", {"restore", home_ / "docs/a.txt", "--to", home_ / "out2"},
       {{"a.txt", latest_["docs/a.txt"]}}},
      {"one revision", {"restore", home_ / "docs/sub/b.pdf", "--revision", "1", "--to", home_ / "out3"},
       {{"b.pdf", first_["docs/sub/b.pdf"]}}},
      {"two files", {"restore", home_ / "docs/a.txt", home_ / "pics/c.jpg", "--to", home_ / "out4"},
       {{"docs/a.txt", latest_["docs/a.txt"]}, {"pics/c.jpg", latest_["pics/c.jpg"]}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Run run = palvero(c.args);
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    expectSame(treeBelow(c.args.back()), c.expected);
  }
}

TEST_F(CliRestoreTest, LsAndVersionsShowWhatTheServiceHolds) {
  backUpTwoStates();
  Run devices = palvero({"ls"});
  ASSERT_EQ(devices.code, 0) << devices.err;
  EXPECT_EQ(devices.out.rfind("device  ", 0), 0u) << devices.out;
  Run folder = palvero({"ls", home_ / "docs"});
  ASSERT_EQ(folder.code, 0) << folder.err;
  EXPECT_NE(folder.out.find("folder  sub/\n"), std::string::npos) << folder.out;
  EXPECT_NE(folder.out.find("  2 rev  "), std::string::npos) << folder.out;
  Run json = palvero({"ls", home_ / "docs", "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  Value entries = Value::parse(json.out);
  std::map<std::string, int64_t> revisions;
  for (const auto& entry : entries) {
    if (entry["type"] == "file") revisions[entry["name"].get<std::string>()] = entry["revisions"].get<int64_t>();
  }
  EXPECT_EQ(revisions["a.txt"], 2);
  EXPECT_EQ(revisions["new.txt"], 1);
  EXPECT_EQ(revisions.count("b.pdf"), 0u) << "files of sub-folders are not listed";
  Run versions = palvero({"versions", home_ / "docs/sub/b.pdf"});
  ASSERT_EQ(versions.code, 0) << versions.err;
  EXPECT_NE(versions.out.find("     1  "), std::string::npos) << versions.out;
  EXPECT_NE(versions.out.find("     2  "), std::string::npos) << versions.out;
  EXPECT_EQ(palvero({"versions", home_ / "docs/none.txt"}).code, 1);
  // Without a session nothing is listed.
  service_.stop();
  EXPECT_EQ(palvero({"ls", home_ / "docs"}).code, 4);
}

TEST_F(CliRestoreTest, RefusalsHaveTheirExitCodes) {
  backUpTwoStates();
  struct Case {
    const char* label;
    std::vector<std::string> args;
    int code;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"nothing chosen", {"restore"}, 1, "give --all"},
      {"a bad date", {"restore", "--all", "--at", "yesterday"}, 1, "yyyy-MM-dd HH:mm"},
      {"a path the service lacks", {"restore", home_ / "docs/nope.txt", "--to", home_ / "x"}, 1, "is not on the service"},
      {"a revision that does not exist", {"restore", home_ / "docs/a.txt", "--revision", "9", "--to", home_ / "x"}, 1,
       "has no revision 9 (it has: 1, 2)"},
      {"a revision of a folder", {"restore", home_ / "docs", "--revision", "1", "--to", home_ / "x"}, 1,
       "exactly one file"},
      {"nothing to resume", {"restore", "--resume"}, 0, "no interrupted restore"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Run run = palvero(c.args);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
  EXPECT_FALSE(fs::exists(home_ / "x/a.txt"));
}

TEST_F(CliRestoreTest, FailedFilesAreListedWithTheirReasonAndExitThree) {
  backUpTwoStates();
  // Every download of a stored block fails: the files above 256 bytes fail,
  // the short ones (held in the version text) still come back.
  service_.addFault("get_block:404:1000");
  Run run = palvero({"restore", home_ / "docs", "--to", home_ / "out"});
  EXPECT_EQ(run.code, 3) << run.out << run.err;
  for (const char* failed : {"docs/a.txt", "docs/sub/b.pdf", "docs/old.txt", "docs/new.txt", "docs/sub/deeper/d.txt"}) {
    EXPECT_NE(run.out.find(home_ / std::string(failed) + ": Missing part of file"), std::string::npos) << failed;
    EXPECT_FALSE(fs::exists(home_ / "out/" + std::string(failed))) << failed;
  }
  EXPECT_EQ(readFile(home_ / "out/docs/tiny.txt"), "tiny");
}

TEST_F(CliRestoreTest, ANewerLocalFileIsNeverReplacedSilently) {
  backUpTwoStates();
  // In place: a.txt edited after its last backup, old.txt untouched since.
  sleepSeconds(1.1);
  writeFile(home_ / "docs/a.txt", "edited after the backup");
  Run run = palvero({"restore", home_ / "docs/a.txt", home_ / "docs/old.txt"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(readFile(home_ / "docs/a.txt"), "edited after the backup");
  std::vector<std::string> beside;
  for (const auto& [relative, content] : treeBelow(home_ / "docs")) {
    if (relative.rfind("a(", 0) == 0) beside.push_back(relative);
  }
  ASSERT_EQ(beside.size(), 1u) << "the revision goes beside the newer file under a dated name";
  EXPECT_TRUE(readFile(home_ / "docs/" + beside[0]) == latest_["docs/a.txt"]);
  EXPECT_TRUE(readFile(home_ / "docs/old.txt") == first_["docs/old.txt"]);
  // And the user is told where it went.
  EXPECT_NE(run.out.find("1 local files kept"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(home_ / "docs/" + beside[0]), std::string::npos) << run.out;
}

// The state at a date, or one chosen revision, is what the user asked for:
// it replaces the local file even when that changed since its last backup.
TEST_F(CliRestoreTest, ADatedOrChosenRevisionReplacesTheLocalFileAsAsked) {
  backUpTwoStates();
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"as at a date", {"restore", home_ / "docs/a.txt", "--at", between_}, first_["docs/a.txt"]},
      {"revision 1", {"restore", home_ / "docs/a.txt", "--revision", "1"}, first_["docs/a.txt"]},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    sleepSeconds(1.1);
    writeFile(home_ / "docs/a.txt", "edited after the backup");
    Run run = palvero(c.args);
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(readFile(home_ / "docs/a.txt") == c.expected);
    EXPECT_EQ(run.out.find("local files kept"), std::string::npos) << run.out;
  }
  for (const auto& [relative, content] : treeBelow(home_ / "docs")) {
    EXPECT_NE(relative.rfind("a(", 0), 0u) << relative << ": nothing was written beside";
  }
}

}  // namespace
}  // namespace palvero::testing
