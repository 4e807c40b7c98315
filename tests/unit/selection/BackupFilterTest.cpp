#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "SelectionTestSupport.h"
#include "platform/Env.h"
#include "selection/BackupFilter.h"
#include "state/FilesToBackup.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

class BackupFilterTest : public ::testing::Test {
 protected:
  BackupFilter& filter() { return BackupFilter::sharedManager(); }
  CommonExtensions& catalogue() { return CommonExtensions::sharedExtensionsManager(); }
  std::string at(const std::string& relative) { return home_ / relative; }
  // A file of `size` bytes at home/relative.
  std::string file(const std::string& relative, size_t size = 10) {
    writeFile(at(relative), std::string(size, 'x'));
    return at(relative);
  }

  testing::SelectionHome home_;
};

struct Case {
  const char* name;
  std::function<void(CommonExtensions&)> setup;
  const char* path;  // relative to home
  size_t size;
  bool expected;
};

TEST_F(BackupFilterTest, RulesOfOneFile) {
  auto none = [](CommonExtensions&) {};
  const Case cases[] = {
      {"plain document", none, "Documents/report.pdf", 10, true},
      {"hidden folder refused", none, ".config/app/settings.json", 10, false},
      {"hidden file refused", none, "Documents/.notes.txt", 10, false},
      {"hidden folder with hidden files on", [](auto& c) { c.setBackupHiddenFiles(true); }, ".config/app/settings.json",
       10, true},
      {"tilde folder refused", none, "~tmp/a.txt", 10, false},
      {"tilde folder refused with hidden on", [](auto& c) { c.setBackupHiddenFiles(true); }, "~tmp/a.txt", 10, false},
      {".DS_Store refused", [](auto& c) { c.setBackupHiddenFiles(true); }, "Documents/.DS_Store", 10, false},
      {"package file without size or extension test", none, "Desktop/Tool.app/Contents/MacOS/Tool", 0, true},
      {"package listed as compound is refused", [](auto& c) { c.setComplexFiles(".APP;.IPA;.DMG;.LPDF;"); },
       "Desktop/Tool.app/Contents/MacOS/Tool", 10, false},
      {"package marker needs a whole name", [](auto& c) { c.setComplexFiles(".APP;.IPA;"); },
       "Pictures/trip.ipad/com.apple.photo.jpg", 10, true},
      {"no extension refused", none, "src/Makefile", 10, false},
      {"no extension with emptyExtension", [](auto& c) { c.setEmptyExtension(true); }, "src/Makefile", 10, true},
      {"trailing dot is no extension", none, "src/notes.", 10, false},
      {"empty file refused", none, "Documents/empty.txt", 0, false},
      {"empty file with emptyfiles", [](auto& c) { c.setEmptyfiles(true); }, "Documents/empty.txt", 0, true},
      {"above the size limit", [](auto& c) { c.setMaxSize(Value(5 << 20)); }, "Movies/big.mov", 10 << 20, false},
      {"at the size limit", [](auto& c) { c.setMaxSize(Value(5 << 20)); }, "Movies/big.mov", 5 << 20, true},
      {"limit given as text", [](auto& c) { c.setMaxSize(Value("5242880")); }, "Movies/big.mov", 10 << 20, false},
      {"limit 0 is no limit", [](auto& c) { c.setMaxSize(Value(0)); }, "Movies/big.mov", 10 << 20, true},
      {"default exclusion", [](auto& c) { c.setDefaultExclusions(".tmp;"); }, "Documents/x.TMP", 10, false},
      {"disk image category", none, "Downloads/debian.ISO", 10, false},
      {"program category", none, "Downloads/setup.exe", 10, false},
      {"picture category", [](auto& c) { c.setPicture(".JPG;"); }, "Pictures/a.jpg", 10, false},
      {"additional list", none, "VMs/disk.vmdk", 10, false},
      {".c is not inside .vmc;", none, "src/main.c", 10, true},
      {".h is not inside .vhd;", none, "src/main.h", 10, true},
      {".vmc itself", none, "VMs/machine.vmc", 10, false},
      {"multi-dot entry", [](auto& c) { c.setBackup(".tar.gz;"); }, "Backups/home.tar.gz", 10, false},
      {"multi-dot entry needs the whole tail", [](auto& c) { c.setBackup(".tar.gz;"); }, "Backups/log.gz", 10, true},
      {"excluded folder", [&](auto& c) { c.setFoldersToBeExcludedFromBackup({at("Documents/Old")}); },
       "Documents/Old/Other/a.txt", 10, false},
      {"separately included child",
       [&](auto& c) {
         c.setFoldersToBeExcludedFromBackup({at("Documents/Old")});
         c.setFoldersToBeIncludedToBackupSeparately({at("Documents/Old/Keep")});
       },
       "Documents/Old/Keep/a.txt", 10, true},
      {"excluded folder name is a whole component",
       [&](auto& c) { c.setFoldersToBeExcludedFromBackup({at("Documents/Old")}); }, "Documents/Older/a.txt", 10, true},
      {"forbidden folder beats an inclusion",
       [&](auto& c) { c.setFoldersToBeIncludedToBackupSeparately({at("Applications/Tools")}); },
       "Applications/Tools/readme.txt", 10, false},
      {"forbidden exception", none, "Library/Mail/V10/x.emlx", 10, true},
      {"forbidden exception folder itself holds files", none, "Library/Safari/Bookmarks.plist", 10, true},
      {"forbidden without exception", none, "Library/Caches/x.db", 10, false},
      {"exception needs a whole name", none, "Library/MailOld/x.emlx", 10, false},
      {"forbidden name is a whole component", none, "Library2/notes.txt", 10, true},
      {"trash", none, ".Trash/old.txt", 10, false},
      {"name that is not UTF-8", none, "Documents/caf\xE9-\xFF.txt", 10, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::SelectionHome::resetSelection();
    c.setup(catalogue());
    std::string path = file(c.path, c.size);
    EXPECT_EQ(filter().fileForBackup(path), c.expected) << path;
    EXPECT_EQ(filter().fileForBackupIfExclusionsChanged(path), c.expected) << path;
    fs::remove(path);
  }
}

TEST_F(BackupFilterTest, PackageInsideAnExcludedFolderStaysOut) {
  catalogue().setFoldersToBeExcludedFromBackup({at("Old")});
  EXPECT_FALSE(filter().fileForBackup(file("Old/Tool.app/Contents/Info.plist")));
  EXPECT_TRUE(filter().fileForBackup(file("New/Tool.app/Contents/Info.plist")));
}

// With hidden files on, the home's hidden folders are backed up, but never
// Palvero's own: its live database, the log it writes, its keys.
TEST_F(BackupFilterTest, PalverosOwnFoldersAreNeverBackedUp) {
  catalogue().setBackupHiddenFiles(true);
  for (const std::string& own : {Env::supportDirectory() + "/palverofiles.db", Env::supportDirectory() + "/log0.log",
                                 Env::configDirectory() + "/preferences.json",
                                 Env::cachesDirectory() + "/PalveroCaches/b0/part.dat"}) {
    SCOPED_TRACE(own);
    writeFile(own, "own");
    EXPECT_FALSE(filter().fileForBackup(own));
    EXPECT_FALSE(filter().fileForBackupIfExclusionsChanged(own));
  }
  for (const std::string& other : {Env::configDirectory() + "2/settings.json", Env::cachesDirectory() + "/other.dat",
                                   at(".config/app/settings.json")}) {
    SCOPED_TRACE(other);
    writeFile(other, "theirs");
    EXPECT_TRUE(filter().fileForBackup(other));
  }
}

TEST_F(BackupFilterTest, OnlyRegularFilesPass) {
  std::string target = file("Documents/real.txt");
  fs::create_symlink(target, at("Documents/link.txt"));
  ASSERT_EQ(mkfifo(at("Documents/pipe.txt").c_str(), 0644), 0);
  EXPECT_TRUE(filter().fileForBackup(target));
  EXPECT_FALSE(filter().fileForBackup(at("Documents/link.txt")));
  EXPECT_FALSE(filter().fileForBackup(at("Documents/pipe.txt")));
  EXPECT_FALSE(filter().fileForBackup(at("Documents")));
  EXPECT_FALSE(filter().fileForBackup(at("Documents/missing.txt")));
  EXPECT_FALSE(filter().fileForBackupIfExclusionsChanged(at("Documents/pipe.txt")));
}

TEST_F(BackupFilterTest, QueuedFileIsRefusedOnlyByTheBackupTest) {
  std::string path = file("Documents/queued.txt");
  FilesToBackup::sharedFilesToBackup().setFiles({BackupFile{path, kQueueWaiting, "2024-01-31 17:05", 10, ""}});
  EXPECT_FALSE(filter().fileForBackup(path));
  EXPECT_TRUE(filter().fileForBackupIfExclusionsChanged(path));
  FilesToBackup::sharedFilesToBackup().setFiles({});
  EXPECT_TRUE(filter().fileForBackup(path));
}

TEST_F(BackupFilterTest, DeleteTestTakesOnlyVanishedFilesThatWouldHavePassed) {
  struct DeleteCase {
    const char* path;
    bool expected;
  } cases[] = {
      {"Documents/gone.txt", true},     {"Documents/.DS_Store", false},
      {".config/gone.txt", false},      {"Library/Caches/gone.db", false},
      {"Library/Mail/gone.emlx", true}, {"src/Makefile", false},
      {"Downloads/gone.iso", false},    {"Desktop/Tool.app/Contents/x", true},
      {"~tmp/gone.txt", true},  // no "/~" rule when deleting
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string path = at(c.path);
    EXPECT_EQ(filter().fileForDelete(path), c.expected);
    writeFile(path, "still here");
    EXPECT_FALSE(filter().fileForDelete(path)) << "an existing file is never deleted";
  }
  EXPECT_FALSE(filter().fileForDelete(at("Documents"))) << "a folder";
}

TEST_F(BackupFilterTest, FolderRulesForFolders) {
  catalogue().setFoldersToBeExcludedFromBackup({at("Old")});
  catalogue().setFoldersToBeIncludedToBackupSeparately({at("Old/Keep"), at("Old/Keep/Deeper")});
  struct FolderCase {
    const char* path;
    bool isDirectory;
    bool expected;
  } cases[] = {
      {"Old", true, true},    // the excluded folder is not inside itself
      {"Old", false, false},  // as a file path it is
      {"Old/Sub", true, false},
      {"Old/Keep/a", true, true},
      {"Old/Keep/Deeper/b", false, true},
      {"Library", true, true},  // forbidden only below it
      {"Library/Caches", true, false},
      {"Library/Mail", true, true},
      {"Documents", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.isDirectory ? " (folder)" : " (file)"));
    EXPECT_EQ(filter().fileIsExceptiom(at(c.path), "", c.isDirectory, true), c.expected);
  }
  EXPECT_FALSE(filter().fileIsExceptiom(at("Documents/a.txt"), "", false, false)) << "the initial result stands";
  EXPECT_FALSE(filter().checkFolderWithPath(at("Documents")));
}

TEST_F(BackupFilterTest, FolderRenamedAwayLosesItsRowsAndIsDeletedOnTheServer) {
  std::string old = at("Projects/alpha");
  std::string sibling = at("Projects/alpha2/keep.txt");
  auto& db = DBManager::sharedDBManager();
  ASSERT_TRUE(db.InsertOrUpdateFileToDatabase(
      {BackupFile{old + "/a.txt", 0, "2024-01-31 17:05", 1, ""}, BackupFile{old + "/sub/b.txt", 1, "", 1, ""},
       BackupFile{sibling, 0, "2024-01-31 17:05", 1, ""}},
      true));
  EXPECT_FALSE(filter().fileForBackup(old, 0x20800));
  EXPECT_FALSE(testing::backupRow(old + "/a.txt"));
  EXPECT_FALSE(testing::backupRow(old + "/sub/b.txt"));
  EXPECT_TRUE(testing::backupRow(sibling)) << "a sibling whose name begins the same stays";
  EXPECT_EQ(home_.deleter->paths(), (std::vector<std::string>{old}));
  EXPECT_TRUE(testing::logged("BackupFilter: fileForBackup: folder " + old +
                              " has been renamed. Removing files from database and sending delete request"));

  // Any other flags on a vanished path change nothing.
  ASSERT_TRUE(db.InsertOrUpdateFileToDatabase({BackupFile{old + "/c.txt", 0, "", 1, ""}}, true));
  for (uint32_t flags : {0u, 0x800u, 0x20000u, 0x20200u, 0x20900u, 0x10800u}) {
    EXPECT_FALSE(filter().fileForBackup(old, flags));
  }
  EXPECT_TRUE(testing::backupRow(old + "/c.txt"));
  EXPECT_EQ(home_.deleter->paths().size(), 1u);
}

TEST_F(BackupFilterTest, FailedServerDeleteOfARenamedFolderIsQueuedForTheDeletionRun) {
  std::string old = at("Projects/gamma");
  ASSERT_TRUE(
      DBManager::sharedDBManager().InsertOrUpdateFileToDatabase({BackupFile{old + "/a.txt", 2, "", 1, ""}}, true));
  home_.deleter->succeeds = false;
  EXPECT_FALSE(filter().fileForBackup(old, 0x20800));
  EXPECT_FALSE(testing::backupRow(old + "/a.txt"));
  auto row = testing::backupRow(old);
  ASSERT_TRUE(row) << "the folder waits for its deletion on the server";
  EXPECT_EQ(row->status, kQueueToDelete);
  EXPECT_TRUE(testing::logged("delete request for " + old + " failed; queued for deletion"));
}

TEST_F(BackupFilterTest, FolderRenamedHereIsScannedIntoTheQueue) {
  std::string renamed = at("Projects/beta");
  file("Projects/beta/a.txt");
  file("Projects/beta/deep/b.txt");
  file("Projects/beta/deep/skip.iso");
  EXPECT_FALSE(filter().fileForBackup(renamed, 0x20800));
  EXPECT_EQ(testing::backupRow(renamed + "/a.txt")->status, kQueueWaiting);
  EXPECT_EQ(testing::backupRow(renamed + "/deep/b.txt")->status, kQueueWaiting);
  EXPECT_FALSE(testing::backupRow(renamed + "/deep/skip.iso"));
  EXPECT_TRUE(home_.deleter->paths().empty());
  EXPECT_TRUE(testing::logged("previous folder has been renamed to " + renamed + ". Adding 2 files to database"));
  // Without the rename flags a folder is simply refused.
  file("Projects/beta/c.txt");
  EXPECT_FALSE(filter().fileForBackup(renamed, 0x20100));
  EXPECT_FALSE(testing::backupRow(renamed + "/c.txt"));
}

}  // namespace
}  // namespace palvero
