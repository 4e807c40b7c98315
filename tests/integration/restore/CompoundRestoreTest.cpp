// Compound revisions (one part per container member) restored as one zip
// container, checked with Python's zipfile.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <tuple>

#include "engine/CompoundFileOperations.h"
#include "integration/restore/RestoreFixture.h"
#include "platform/Env.h"
#include "platform/FaultyFileSystem.h"

namespace palvero::testing {
namespace {

class CompoundRestoreTest : public RestoreFixture {
 protected:
  // Python's reading of the archive: "name\tsha256" per entry, in order.
  static std::string pythonListing(const std::string& archive) {
    std::string command =
        "python3 -c 'import sys,zipfile,hashlib\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for i in z.infolist(): print(i.filename+\"\\t\"+hashlib.sha256(z.read(i)).hexdigest())' '" +
        archive + "' 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
    return out;
  }

  static std::string sha256Hex(const std::string& content) {
    std::string hex = BlockCutter::sha256StringFromData(bytesFromString(content));
    std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::tolower(c); });
    return hex;
  }

  static std::string scratchRoot() { return std::string(Env::cachesDirectory()) + "/PalveroCaches"; }

  std::vector<std::pair<std::string, std::string>> members_ = {
      {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>"},
      {"_rels/.rels", textContent(900, 1)},
      {"word/document.xml", randomContent(70000, 2)},
  };
};

TEST_F(CompoundRestoreTest, MembersAreJoinedIntoOneArchiveWithTheirNames) {
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09");
  const std::string target = home_ / "out/report.docx";
  ASSERT_TRUE(restore(path, target)) << lastPosted().userInfo.dump();
  std::string expected;
  for (const auto& [name, content] : members_) expected += name + "\t" + sha256Hex(content) + "\n";
  EXPECT_EQ(pythonListing(target), expected);
  EXPECT_EQ(modificationTime(target), Date::fromLocalComponents(2024, 1, 31, 17, 5, 9).timeIntervalSince1970());
  EXPECT_TRUE(filesBelow(scratchRoot()).empty()) << "the scratch folder is removed";
  EXPECT_TRUE(leftovers(home_ / "out").empty());
}

TEST_F(CompoundRestoreTest, AnExistingFileIsKeptBesideTheDatedContainer) {
  CommonExtensions::sharedExtensionsManager().setReplaceFiles(false);
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09");
  writeFile(home_ / "out/report.docx", "the user's own file");
  ASSERT_TRUE(restore(path, home_ / "out/report.docx"));
  EXPECT_EQ(readFile(home_ / "out/report.docx"), "the user's own file");
  EXPECT_NE(pythonListing(home_ / "out/report(20240131 17:05:09).docx").find("word/document.xml\t"), std::string::npos);
}

TEST_F(CompoundRestoreTest, AMissingBlockFailsTheWholeFileAndLeavesNoScratch) {
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09", {"word/document.xml"});
  writeFile(home_ / "out/report.docx", "previous");
  EXPECT_FALSE(restore(path, home_ / "out/report.docx"));
  EXPECT_EQ(lastPosted().name, "RestoreFail");
  EXPECT_EQ(lastPosted().userInfo.value("error", ""), "Missing part of file; Multiple parts file restore failed");
  EXPECT_EQ(readFile(home_ / "out/report.docx"), "previous") << "no broken container under the real name";
  EXPECT_TRUE(filesBelow(scratchRoot()).empty());
  EXPECT_TRUE(leftovers(home_ / "out").empty());
}

// The disk fails at the 1st, 2nd, 3rd, 5th, 8th ... file operation in the
// scratch folder (members and the joined archive) or in the target folder:
// until no call fails, the restore fails and leaves the old file alone; a
// restore that reports success has every member right.
TEST_F(CompoundRestoreTest, ADiskFailingAtAnyStepFailsTheFileAndKeepsTheOldOne) {
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09");
  const std::string target = home_ / "out/report.docx";
  std::string expected;
  for (const auto& [name, content] : members_) expected += name + "\t" + sha256Hex(content) + "\n";
  for (const std::string& where : {scratchRoot(), home_ / "out"}) {
    int failed = 0;
    for (int step = 1, previous = 1;; std::tie(step, previous) = std::pair(step + previous, step)) {
      SCOPED_TRACE(where + ": call " + std::to_string(step));
      writeFile(target, "previous");
      // Older than the revision, so the restore replaces it rather than keep it beside.
      setModificationTime(target, 1000000000);
      FaultyFileSystem faults;
      faults.add(FsFaultRule().under(where).from(step).with(FsFault::kNoSpace));
      bool restored;
      {
        ScopedFileSystem installed(faults);
        restored = restore(path, target);
      }
      EXPECT_TRUE(filesBelow(scratchRoot()).empty());
      EXPECT_TRUE(leftovers(home_ / "out").empty());
      if (restored) {
        EXPECT_EQ(pythonListing(target), expected);
        if (faults.injected() == 0) break;
        continue;
      }
      ++failed;
      EXPECT_EQ(lastPosted().name, "RestoreFail");
      EXPECT_EQ(readFile(target), "previous");
      ASSERT_LT(step, 100000);
    }
    EXPECT_GE(failed, 2) << where;
  }
}

TEST_F(CompoundRestoreTest, MemberNamesThatLeaveTheScratchFolderAreRefused) {
  for (const char* hostile : {"../../escaped.xml", "/etc/escaped.xml", "word//x.xml", "a/./b"}) {
    SCOPED_TRACE(hostile);
    const std::string path = home_ / "docs/evil.docx";
    uploadCompound(path, {{"ok.xml", "fine"}, {hostile, "escaped"}}, "20240131 17:05:09");
    EXPECT_FALSE(restore(path, home_ / "out/evil.docx"));
    EXPECT_NE(lastPosted().userInfo.value("error", "").find("Multiple parts file restore failed"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(home_ / "out/evil.docx"));
    EXPECT_FALSE(std::filesystem::exists(scratchRoot() + "/escaped.xml"));
    EXPECT_FALSE(std::filesystem::exists(std::string(Env::cachesDirectory()) + "/escaped.xml"));
  }
}

TEST_F(CompoundRestoreTest, AStaleScratchFolderLendsNoMembers) {
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09");
  // Left by a restore that was killed: same worker, same file name.
  writeFile(CompoundFileOperations::GetTempPath(path, "r1") + "/stale.xml", "old");
  ASSERT_TRUE(restore(path, home_ / "out/report.docx"));
  EXPECT_EQ(pythonListing(home_ / "out/report.docx").find("stale.xml"), std::string::npos);
}

TEST(CompoundFileNames, OnlyOfficeContainersAreCompound) {
  struct Case {
    const char* name;
    bool compound;
  };
  for (const Case& c : {Case{"report.DocX", true}, Case{"/a/b/sheet.xlsx", true}, Case{"slides.PPTX", true},
                        Case{"report.docx.bak", false}, Case{"report", false}, Case{"docx", false},
                        Case{".docx", false}, Case{"/a.docx/report", false}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompoundFileOperations::IsCompoundFile(c.name), c.compound);
  }
}

}  // namespace
}  // namespace palvero::testing

namespace palvero::testing {
namespace {

class CompoundScratchTest : public CompoundRestoreTest {};

// The members are decrypted pieces of the user's file: while they wait in
// the scratch folder, only the user may read them.
TEST_F(CompoundScratchTest, DecryptedMembersInTheScratchFolderArePrivate) {
  const std::string path = home_ / "docs/report.docx";
  uploadCompound(path, members_, "20240131 17:05:09");
  // The last member's block (the first member is small enough to travel
  // inside the version file) comes late, so the others sit in the scratch
  // folder meanwhile.
  service_.addFault("get_block:delay=1500:1:skip=1");
  std::atomic<bool> done{false};
  std::map<std::string, unsigned> seen;
  std::thread watcher([&] {
    while (!done) {
      std::error_code ec;
      for (auto it = std::filesystem::recursive_directory_iterator(scratchRoot(), ec);
           !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0) seen[it->path().string()] = st.st_mode;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  bool restored = restore(path, home_ / "out/report.docx");
  done = true;
  watcher.join();
  ASSERT_TRUE(restored) << lastPosted().userInfo.dump();
  struct stat root {};
  ASSERT_EQ(::stat(scratchRoot().c_str(), &root), 0);
  EXPECT_EQ(root.st_mode & 07777, 0700u);
  int files = 0;
  for (const auto& [seenPath, mode] : seen) {
    SCOPED_TRACE(seenPath);
    if (S_ISREG(mode)) {
      ++files;
      EXPECT_EQ(mode & 07777, 0600u);
    } else if (S_ISDIR(mode)) {
      EXPECT_EQ(mode & 07777, 0700u);
    }
  }
  EXPECT_GE(files, static_cast<int>(members_.size()) - 1) << "the members written before the late block";
}

}  // namespace
}  // namespace palvero::testing
