#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "SelectionTestSupport.h"
#include "base/FileURL.h"
#include "selection/FileScanner.h"
#include "support/Unprivileged.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::writeFile;

class FileScannerTest : public ::testing::Test {
 protected:
  FileScanner& scanner() { return FileScanner::sharedFileScanner(); }
  std::string at(const std::string& relative) { return home_ / relative; }

  testing::SelectionHome home_;
};

TEST_F(FileScannerTest, ThousandAndOneFilesAreWrittenInBatchesOf400) {
  for (int i = 0; i < 1001; ++i)
    writeFile(at("Docs/" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt"), "x");
  writeFile(at("Docs/.hidden.txt"), "x");  // refused by the filter: not counted
  writeFile(at("Docs/image.iso"), "x");
  auto rows = scanner().firstScanFilesAtPath(at("Docs"), true, false, false);
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->size(), 400u) << "the first waiting rows";
  EXPECT_EQ(home_.store->sizes(), (std::vector<size_t>{400, 400, 201}));
  EXPECT_EQ(testing::backupRowCount("STATUS = 0"), 1001);
  EXPECT_EQ(testing::backupRow(at("Docs/3/f3.txt"))->size, 1);
  EXPECT_TRUE(testing::logged("FileScanner started. Path: " + at("Docs") + ", firstscan: YES"));
  EXPECT_TRUE(
      testing::logged("FileScanner finished. Path: " + at("Docs") + ", firstscan: YES. Total number of files: 400"));
}

TEST_F(FileScannerTest, DeleteModeWritesEveryFileAsStatus3) {
  writeFile(at("Gone/a.txt"), "abc");
  writeFile(at("Gone/.hidden"), "abc");  // the filter would refuse these two
  writeFile(at("Gone/sub/disk.iso"), "abc");
  fs::create_directories(at("Gone/empty-folder"));
  ASSERT_EQ(mkfifo(at("Gone/pipe").c_str(), 0644), 0);
  fs::create_symlink(at("Gone/a.txt"), at("Gone/link"));
  DBManager::sharedDBManager().InsertOrUpdateFileToDatabase({BackupFile{at("Gone/a.txt"), 0, "", 3, ""}}, true);
  auto rows = scanner().firstScanFilesAtPath(at("Gone"), false, true, false);
  ASSERT_TRUE(rows);
  EXPECT_EQ(home_.store->sizes("deleted"), (std::vector<size_t>{3}));
  for (const char* name : {"Gone/a.txt", "Gone/.hidden", "Gone/sub/disk.iso"}) {
    SCOPED_TRACE(name);
    auto row = testing::backupRow(at(name));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->status, kQueueToDelete);
    EXPECT_EQ(row->size, 0);
  }
  EXPECT_EQ(testing::backupRowCount(), 3) << "no rows for folders, pipes or links";
  EXPECT_FALSE(testing::logged("FileScanner finished. Path: " + at("Gone")));
}

TEST_F(FileScannerTest, PathsOutsideTheHomeFolderGiveNothing) {
  testing::ScratchFolder other;
  std::string outside = other.path();
  writeFile(outside + "/doc.txt", "x");
  writeFile(at("inside/doc.txt"), "x");
  fs::create_directory_symlink(outside, at("link-out"));
  std::string sibling = home_.path() + "-sibling";  // shares the home path as a prefix
  fs::create_directories(sibling);
  writeFile(sibling + "/doc.txt", "x");
  for (const std::string& path : {outside, at("link-out"), at("inside/../.."), sibling, std::string("/")}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(scanner().firstScanFilesAtPath(path, true, false, false));
  }
  fs::remove_all(sibling);
  EXPECT_TRUE(home_.store->writes().empty());
  EXPECT_EQ(testing::backupRowCount(), 0);

  EXPECT_FALSE(scanner().firstScanFilesAtPath(at("missing"), true, false, false));
  EXPECT_TRUE(testing::logged("FileScanner finished. Path: " + at("missing") + ", firstscan: YES. Wrong path"));
}

TEST_F(FileScannerTest, LinksLoopsAndSpecialFilesAreNotFollowedOrQueued) {
  writeFile(at("Tree/a/real.txt"), "x");
  fs::create_directory_symlink(at("Tree"), at("Tree/a/loop"));
  fs::create_directory_symlink("/etc", at("Tree/a/etc"));
  fs::create_symlink(at("Tree/a/real.txt"), at("Tree/a/alias.txt"));
  ASSERT_EQ(mkfifo(at("Tree/a/queue.txt").c_str(), 0644), 0);
  auto rows = scanner().firstScanFilesAtPath(at("Tree"), true, false, false);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front().path, at("Tree/a/real.txt"));
  EXPECT_EQ(testing::backupRowCount(), 1);
}

void expectSiblingsAfterUnreadableFolderQueued(const std::string& home) {
  auto rows = FileScanner::sharedFileScanner().firstScanFilesAtPath(home + "/Tree", true, false, false);
  ASSERT_TRUE(rows);
  for (const char* name : {"/Tree/a/1.txt", "/Tree/c/1.txt", "/Tree/d/e/1.txt", "/Tree/top.txt"}) {
    EXPECT_TRUE(testing::backupRow(home + name)) << name;
  }
  EXPECT_FALSE(testing::backupRow(home + "/Tree/b/1.txt"));
  std::string log = testing::logText();
  std::string line = "FileScanner: folder " + home + "/Tree/b cannot be read (Permission denied); skipped";
  ASSERT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << "logged once";
}

TEST_F(FileScannerTest, UnreadableFolderIsSkippedAndTheRestIsStillQueued) {
  if (testing::isUnprivilegedChild()) {
    // Our own writable home for the database and log; the tree is the parent's.
    std::string tree = std::getenv("PALVERO_TEST_TREE");
    setenv("HOME", tree.c_str(), 1);
    testing::SelectionHome::resetSelection();
    return expectSiblingsAfterUnreadableFolderQueued(tree);
  }
  for (const char* folder : {"a", "b", "c", "d/e"}) writeFile(at("Tree/" + std::string(folder) + "/1.txt"), "x");
  writeFile(at("Tree/top.txt"), "x");
  ASSERT_EQ(chmod(at("Tree/b").c_str(), 0), 0);
  if (!testing::needsPrivilegeDrop()) return expectSiblingsAfterUnreadableFolderQueued(home_.path());
  ASSERT_EQ(chmod(home_.path().c_str(), 0755), 0);
  EXPECT_EQ(testing::rerunCurrentTestAsNobody({{"PALVERO_TEST_TREE", home_.path()}}), 0);
}

TEST_F(FileScannerTest, RescanTakesOnlyWhatChangedSince) {
  writeFile(at("Docs/old.txt"), "x");
  writeFile(at("Elsewhere/Moved/inner/old-but-moved.txt"), "x");
  std::this_thread::sleep_for(20ms);
  Date since = Date::now();
  std::this_thread::sleep_for(20ms);
  writeFile(at("Docs/new.txt"), "x");
  writeFile(at("Docs/sub/new2.txt"), "x");
  fs::rename(at("Elsewhere/Moved"), at("Docs/Moved"));  // its files keep their old times
  EXPECT_EQ(scanner().rescanChangedFilesAtPath(at("Docs"), since), 3u);
  EXPECT_FALSE(testing::backupRow(at("Docs/old.txt")));
  EXPECT_TRUE(testing::backupRow(at("Docs/new.txt")));
  EXPECT_TRUE(testing::backupRow(at("Docs/sub/new2.txt")));
  EXPECT_TRUE(testing::backupRow(at("Docs/Moved/inner/old-but-moved.txt")));
}

// The bound from a file's own time (as "scan --changed" takes it): a file
// written after it within the same second is queued, one written before it
// is not, and only a folder moved in is taken whole, not one that merely
// gained an entry (nor the home folder, which gains entries all the time).
TEST(FileScannerChangedTest, ChangedScanFromAFileTimeTakesOnlyNewFilesAndMovedFolders) {
  for (auto folders : {FileScanner::ChangedFolders::kMovedIn, FileScanner::ChangedFolders::kAnyChange}) {
    bool movedOnly = folders == FileScanner::ChangedFolders::kMovedIn;
    SCOPED_TRACE(movedOnly ? "moved folders" : "any changed folder");
    testing::SelectionHome home;
    auto in = [&](const std::string& relative) { return home.path() + "/" + relative; };
    for (int i = 0; i < 5; ++i) writeFile(in("Tree/Docs/notes/old-" + std::to_string(i) + ".txt"), "x");
    writeFile(in("Tree/Docs/touched.txt"), "x");
    writeFile(in("Elsewhere/Moved/inner/old-but-moved.txt"), "x");
    std::this_thread::sleep_for(20ms);  // past the file clock's tick
    writeFile(in("stamp"), "");
    struct stat stamp {};
    ASSERT_EQ(::stat(in("stamp").c_str(), &stamp), 0);

    writeFile(in("Tree/Docs/notes/new.txt"), "x");
    writeFile(in("Tree/Docs/touched.txt"), "xy");
    fs::rename(in("Elsewhere/Moved"), in("Tree/Docs/Moved"));
    struct stat touched {};
    ASSERT_EQ(::stat(in("Tree/Docs/touched.txt").c_str(), &touched), 0);
    ASSERT_LT(touched.st_mtim.tv_sec - stamp.st_mtim.tv_sec, 2);  // the same second, or the next

    size_t queued = FileScanner::sharedFileScanner().rescanChangedFilesAtPath(in("Tree"), stamp.st_mtim, folders);
    EXPECT_TRUE(testing::backupRow(in("Tree/Docs/notes/new.txt")));
    EXPECT_TRUE(testing::backupRow(in("Tree/Docs/touched.txt")));
    EXPECT_TRUE(testing::backupRow(in("Tree/Docs/Moved/inner/old-but-moved.txt")));
    EXPECT_EQ(static_cast<bool>(testing::backupRow(in("Tree/Docs/notes/old-0.txt"))), !movedOnly);
    EXPECT_EQ(queued, movedOnly ? 3u : 8u);
  }
}

// External drives: a fabricated /sys and mountinfo that mount two USB disks
// on folders of the test.
class ExternalDrivesTest : public FileScannerTest {
 protected:
  void SetUp() override {
    drive1_ = at("media/STICK ONE");
    drive2_ = at("media/stick2");
    fs::create_directories(drive1_);
    fs::create_directories(drive2_);
    std::string sys = at("sys");
    int minor = 1;
    std::string mountinfo;
    for (const auto& drive : {drive1_, drive2_}) {
      std::string device = sys + "/devices/pci0000:00/usb1/1-" + std::to_string(minor) + "/block/sd" +
                           std::string(1, static_cast<char>('a' + minor));
      writeFile(device + "/removable", "1\n");
      fs::create_directories(sys + "/dev/block");
      fs::create_directory_symlink(device, sys + "/dev/block/8:" + std::to_string(minor * 16));
      std::string escaped = drive;
      for (size_t pos; (pos = escaped.find(' ')) != std::string::npos;) escaped.replace(pos, 1, "\\040");
      mountinfo += "4" + std::to_string(minor) + " 1 8:" + std::to_string(minor * 16) + " / " + escaped +
                   " rw - vfat /dev/sdx rw\n";
      ++minor;
    }
    writeFile(at("mountinfo"), mountinfo);
    scanner().setVolumes(std::make_shared<Volumes>(at("mountinfo"), sys));
  }

  std::string drive1_, drive2_;
};

TEST_F(ExternalDrivesTest, DrivesAreListedAsURLsAndPaths) {
  auto urls = scanner().getListOfEjectableMedia();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0], FileURL::fromPath(drive1_ + "/"));
  EXPECT_NE(urls[0].find("STICK%20ONE/"), std::string::npos);
  auto paths = scanner().getExternalDrivesPath();
  ASSERT_TRUE(paths);
  EXPECT_EQ(*paths, (std::vector<std::string>{drive1_, drive2_}));

  fs::remove_all(drive2_);
  EXPECT_EQ(*scanner().getExternalDrivesPath(), (std::vector<std::string>{drive1_})) << "only existing folders";
  scanner().setVolumes(std::make_shared<Volumes>(at("no-mountinfo"), at("sys")));
  EXPECT_FALSE(scanner().getExternalDrivesPath()) << "nothing when no drive is listed";
}

TEST_F(ExternalDrivesTest, OnlyTheFirstDriveIsScannedAndTheHomeFolderOnItIsSkipped) {
  writeFile(drive1_ + "/photos/a.jpg", "x");
  writeFile(drive1_ + "/user/notes.txt", "x");
  writeFile(drive2_ + "/b.txt", "x");
  // The home folder lies on the first drive.
  setenv("HOME", (drive1_ + "/user").c_str(), 1);
  scanner().scanExternalDrives();
  EXPECT_TRUE(testing::backupRow(drive1_ + "/photos/a.jpg"));
  EXPECT_FALSE(testing::backupRow(drive1_ + "/user/notes.txt"));
  EXPECT_FALSE(testing::backupRow(drive2_ + "/b.txt"));
}

TEST_F(ExternalDrivesTest, DrivesAreInScopeOnlyWhenSwitchedOn) {
  testing::ScratchFolder outside;
  std::string mountinfo = testing::readFile(at("mountinfo"));
  // Mount the first drive outside the home folder.
  std::string drive = outside.path() + "/drive";
  writeFile(drive + "/doc.txt", "x");
  std::string escaped = drive1_;
  for (size_t pos; (pos = escaped.find(' ')) != std::string::npos;) escaped.replace(pos, 1, "\\040");
  mountinfo.replace(mountinfo.find(escaped), escaped.size(), drive);
  writeFile(at("mountinfo"), mountinfo);
  EXPECT_FALSE(scanner().firstScanFilesAtPath(drive, true, false, false));
  scanner().setIncludeExternalDrives(true);
  auto rows = scanner().firstScanFilesAtPath(drive, true, false, false);
  ASSERT_TRUE(rows);
  EXPECT_TRUE(testing::backupRow(drive + "/doc.txt"));
}

}  // namespace
}  // namespace palvero
