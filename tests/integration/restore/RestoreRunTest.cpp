// Whole restore runs through RestoreManager and real engines against
// palvero-service: all data to another folder, hostile listings, links in
// the destination, disk space.
#include <condition_variable>

#include "base/DispatchQueue.h"
#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

class RestoreRunTest : public RestoreFixture {
 protected:
  // Writes and backs up a small tree under the home folder; returns the
  // relative paths and contents.
  std::map<std::string, std::string> backUpTree() {
    std::map<std::string, std::string> tree = {
        {"docs/a.txt", textContent(3000, 1)},           {"docs/sub/b.bin", randomContent(300000, 2)},
        {"docs/tiny.txt", "tiny"},                      {"pics/c.bin", randomContent(70000, 3)},
        {"docs/empty.txt", ""},                         {"docs/sub/deeper/d.txt", textContent(257, 4)},
    };
    for (const auto& [relative, content] : tree) {
      writeFile(home_ / relative, content);
      EXPECT_TRUE(backup(home_ / relative)) << relative;
    }
    return tree;
  }

  void expectTree(const std::string& folder, const std::map<std::string, std::string>& tree) {
    std::vector<std::string> expected;
    for (const auto& [relative, content] : tree) {
      expected.push_back(relative);
      EXPECT_EQ(readFile(folder + "/" + relative), content) << relative;
    }
    EXPECT_EQ(filesBelow(folder), expected);
  }

  RestoreChoice toFolder(const std::string& destination) {
    RestoreChoice choice;
    choice.restoreAllData = true;
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = destination;
    return choice;
  }
};

TEST_F(RestoreRunTest, AllDataToAnotherFolderGivesTheTreeByteForByte) {
  auto tree = backUpTree();
  int64_t total = 0;
  for (const auto& [relative, content] : tree) total += static_cast<int64_t>(content.size());
  int64_t announced = -1;
  bool counted = false;
  auto& center = NotificationCenter::defaultCenter();
  auto sizeToken = center.addObserver(RestoreManager::kRestoreTotalSizeGained, nullptr, [&](const Notification& n) {
    announced = n.userInfo.value("sizeOfFilesToRestore", int64_t{-1});
  });
  auto countedToken = center.addObserver(RestoreManager::kRestoreFinishedCounting, nullptr,
                                         [&](const Notification&) { counted = !ended_; });
  const std::string destination = home_ / "restored";
  ASSERT_TRUE(restoreWith(toFolder(destination)));
  center.removeObserver(sizeToken);
  center.removeObserver(countedToken);
  EXPECT_EQ(announced, total);
  EXPECT_TRUE(counted) << "the list is counted before the run ends";
  EXPECT_FALSE(endInfo_.value("interrupted", true));
  EXPECT_TRUE(manager_->failedFiles().empty());
  expectTree(destination, tree);
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 0) << "the table is emptied at the end";
  EXPECT_FALSE(CommonExtensions::sharedExtensionsManager().restoring());
  DispatchQueue::global().waitUntilIdle();  // the status reports go out in the background
  std::vector<std::string> kinds;
  for (const auto& report : service_.reports()) kinds.push_back(report["fields"].value("type", ""));
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), "restorestart"), kinds.end());
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), "restoreend"), kinds.end());
}

TEST_F(RestoreRunTest, HostileNamesFromTheServiceAreRefusedAndNothingLeavesTheDestination) {
  writeFile(home_ / "docs/ok.txt", "fine");
  ASSERT_TRUE(backup(home_ / "docs/ok.txt"));
  const std::string listing =
      R"({"pagesCount":1,"page":1,"data":[)"
      R"({"file":"../../escape.txt","size":4,"toDelete":0,"version":[{"number":1,"size":4,"modified":"20240131 10:00:00"}]},)"
      R"({"file":"/etc/escape.txt","size":4,"toDelete":0,"version":[]},)"
      R"({"file":"..","size":4,"toDelete":0,"version":[]},)"
      R"({"folder":"..","toDelete":0},{"folder":"a/../../b","toDelete":0},)"
      R"({"file":"ok.txt","size":4,"toDelete":0,"version":[{"number":1,"size":4,"modified":"20240131 10:00:00"}]}]})";
  service_.addFault("get_folder_page:body=" + encoded(listing));
  RestoreChoice choice;
  choice.restoreToOriginalPath = false;
  choice.restoreDestinationPath = home_ / "dest/inner";
  choice.filesAndFoldersForRestore = Value{{home_ / "docs", Value::array({"folder", ""})}};
  ASSERT_TRUE(restoreWith(choice));
  EXPECT_EQ(filesBelow(home_ / "dest"), std::vector<std::string>{"inner/docs/ok.txt"});
  EXPECT_EQ(manager_->failedFiles().size(), 5u);
  for (const auto& failure : manager_->failedFiles()) EXPECT_EQ(failure.error, RestoreManager::kRefusedName);
  EXPECT_FALSE(std::filesystem::exists(home_ / "escape.txt"));
  EXPECT_FALSE(std::filesystem::exists(home_ / "dest/escape.txt"));
}

TEST_F(RestoreRunTest, ALinkInTheDestinationIsNotFollowed) {
  auto tree = backUpTree();
  const std::string destination = home_ / "restored";
  std::filesystem::create_directories(destination);
  std::filesystem::create_directories(home_ / "elsewhere");
  std::filesystem::create_directory_symlink(home_ / "elsewhere", destination + "/docs");
  ASSERT_TRUE(restoreWith(toFolder(destination)));
  EXPECT_TRUE(filesBelow(home_ / "elsewhere").empty()) << "nothing written through the link";
  EXPECT_EQ(readFile(destination + "/pics/c.bin"), tree["pics/c.bin"]);
  EXPECT_EQ(manager_->failedFiles().size(), 5u) << "every file under docs fails";
}

TEST_F(RestoreRunTest, APlanLargerThanTheDiskStartsNothing) {
  backUpTree();
  FileDesc huge(Date::now(), home_ / "docs/huge.iso", int64_t{1} << 52);
  huge.FileParts.push_back(FilePart(huge.FileName, huge.Length));
  uploadDesc(huge, "20240131 10:00:00");
  std::vector<std::string> alerts;
  manager_ = std::make_unique<RestoreManager>(newServer(), CommonExtensions::sharedExtensionsManager(),
                                              RestoreManager::Hooks{nullptr, nullptr,
                                                                    [&](const std::string& text) { alerts.push_back(text); },
                                                                    nullptr});
  manager_->setWorkers(2, [this] { return std::shared_ptr<BlockEngine>(newEngine()); });
  ASSERT_TRUE(restoreWith(toFolder(home_ / "restored")));
  EXPECT_EQ(alerts, std::vector<std::string>{"Insufficient disk space"});
  EXPECT_TRUE(filesBelow(home_ / "restored").empty());
  ASSERT_EQ(manager_->failedFiles().size(), 1u);
  EXPECT_EQ(manager_->failedFiles()[0].error, "Insufficient disk space");
  EXPECT_TRUE(endInfo_.value("interrupted", false));
}

TEST_F(RestoreRunTest, AFileLargerThanTheDiskFailsAloneBeforeAnyDownload) {
  auto tree = backUpTree();
  // The listing gives a small size; the revision itself names more blocks
  // (of at most 2 GB each, as a version text holds them) than the disk holds.
  FileDesc huge(Date::now(), home_ / "docs/huge.iso", 10);
  FilePart part(huge.FileName, 10);
  const int64_t free = Functions::getFreeDiskspaceForPath(home_.path());
  ASSERT_GT(free, 0);
  for (int64_t offset = 0; offset <= free; offset += 2000000000) {
    FileBlock block;
    block.checksum = std::string(64, 'A');
    block.length = 2000000000;
    block.offset = offset;
    part.FileBlocks.push_back(block);
  }
  huge.FileParts.push_back(part);
  uploadDesc(huge, "20240131 10:00:00");
  ASSERT_TRUE(restoreWith(toFolder(home_ / "restored")));
  ASSERT_EQ(manager_->failedFiles().size(), 1u);
  EXPECT_EQ(manager_->failedFiles()[0].error, "Insufficient disk space");
  EXPECT_TRUE(service_.requests("get_block").size() < 10u);
  EXPECT_FALSE(std::filesystem::exists(home_ / "restored/docs/huge.iso"));
  expectTree(home_ / "restored", tree);
}

}  // namespace
}  // namespace palvero::testing
