// Deletion of removed files on the server: the lists, their 5,000,000-byte
// cut, escaping, failures and rows queued again meanwhile.
#include "AppTestSupport.h"

namespace palvero::testing {
namespace {

class DeleteFilesTest : public AppFixture {
 protected:
  static std::string decode(const std::string& encoded) {
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] == '%' && i + 2 < encoded.size()) {
        out += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += encoded[i] == '+' ? ' ' : encoded[i];
      }
    }
    return out;
  }
  // The paths of one request, read back as JSON.
  static std::vector<std::string> pathsOf(const std::string& encoded) {
    Value list = Value::parse(decode(encoded), nullptr, false);
    std::vector<std::string> paths;
    if (!list.is_array()) return paths;
    for (const auto& item : list) paths.push_back(item.get<std::string>());
    return paths;
  }
  static void markDeleted(const std::vector<std::string>& paths) {
    for (size_t i = 0; i < paths.size(); i += 400) {
      size_t end = std::min(paths.size(), i + 400);
      DBManager::sharedDBManager().InsertOrUpdateDeletedFilesToDatabase(
          std::vector<std::string>(paths.begin() + static_cast<std::ptrdiff_t>(i),
                                   paths.begin() + static_cast<std::ptrdiff_t>(end)),
          true);
    }
  }
  std::vector<std::string> requests() {
    std::lock_guard lock(server_->mutex);
    return server_->deleteRequests;
  }
};

TEST_F(DeleteFilesTest, TwoHundredFiftyPathsGoInOneRequestAndLeaveTheTable) {
  std::vector<std::string> paths;
  for (int i = 0; i < 250; ++i) paths.push_back("/home/u/gone/file" + std::to_string(i));
  paths.push_back("/home/u/gone/with \"quote\" and \\ backslash");
  markDeleted(paths);
  auto& controller = makeController(1);
  controller.deleteFiles();
  auto sent = requests();
  ASSERT_EQ(sent.size(), 1u);
  auto listed = pathsOf(sent[0]);
  std::sort(listed.begin(), listed.end());
  auto expected = paths;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected) << "every path once, quotes and backslashes intact";
  EXPECT_TRUE(DBManager::sharedDBManager().selectFilesForDelete().empty());
  EXPECT_TRUE(logged("Trying to delete 251 files"));
  EXPECT_TRUE(logged("251 files deleted successfully"));
}

TEST_F(DeleteFilesTest, SixtyThousandLongPathsAreCutPastFiveMillionBytesAtAMultipleOfAHundred) {
  std::vector<std::string> paths;
  std::string folder = "/home/u/" + std::string(90, 'd') + "/";
  for (int i = 0; i < 60000; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "%06d", i);
    paths.push_back(folder + name);
  }
  markDeleted(paths);
  auto& controller = makeController(1);
  controller.deleteFiles();
  auto sent = requests();
  ASSERT_EQ(sent.size(), 2u);
  auto first = pathsOf(sent[0]);
  auto second = pathsOf(sent[1]);
  EXPECT_EQ(first.size() % 100, 0u) << "cut after a multiple of 100 entries";
  EXPECT_GT(decode(sent[0]).size(), 5000000u);
  EXPECT_LT(decode(sent[0]).size(), 5000000u + 100 * (folder.size() + 10));
  EXPECT_EQ(first.size() + second.size(), paths.size());
  EXPECT_TRUE(DBManager::sharedDBManager().selectFilesForDelete().empty());
}

TEST_F(DeleteFilesTest, ANameThatIsNoUtf8GoesAloneAndTheListStaysJson) {
  const std::string latin1 = "/home/u/caf\xe9.txt";
  markDeleted({"/home/u/a", latin1, "/home/u/b"});
  auto& controller = makeController(1);
  controller.deleteFiles();
  auto sent = requests();
  ASSERT_EQ(sent.size(), 2u);
  std::vector<std::string> listed;
  for (const auto& request : sent) {
    if (decode(request) == latin1) continue;
    listed = pathsOf(request);
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"/home/u/a", "/home/u/b"}));
  EXPECT_TRUE(decode(sent[0]) == latin1 || decode(sent[1]) == latin1) << "the raw name, alone";
  EXPECT_TRUE(DBManager::sharedDBManager().selectFilesForDelete().empty());
}

TEST_F(DeleteFilesTest, ListRefusedFiveTimesKeepsItsRowsForTheNextPass) {
  std::vector<std::string> paths = {"/home/u/a", "/home/u/b"};
  markDeleted(paths);
  {
    std::lock_guard lock(server_->mutex);
    server_->failDeletes = 5;
  }
  auto& controller = makeController(1);
  controller.deleteFiles();
  EXPECT_EQ(requests().size(), 5u);
  EXPECT_EQ(loggedTextsStartingWith("Unable to delete 2 files, attempt").size(), 5u);
  EXPECT_EQ(DBManager::sharedDBManager().selectFilesForDelete().size(), 2u);
  controller.deleteFiles();
  EXPECT_EQ(requests().size(), 6u);
  EXPECT_TRUE(DBManager::sharedDBManager().selectFilesForDelete().empty());
}

TEST_F(DeleteFilesTest, FileQueuedAgainWhileItsDeletionIsSentKeepsItsRow) {
  markDeleted({"/home/u/a", "/home/u/b"});
  {
    std::lock_guard lock(server_->mutex);
    server_->onDelete = [] {
      DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(
          std::vector<BackupFile>{{"/home/u/a", kQueueWaiting, "2024-01-01 10:00", 5, ""}}, true);
      DBManager::sharedDBManager().InsertOrUpdateDeletedFilesToDatabase({"/home/u/c"}, true);
    };
  }
  auto& controller = makeController(1);
  controller.deleteFiles();
  EXPECT_EQ(statusOf("/home/u/a"), kQueueWaiting) << "recreated file still to back up";
  EXPECT_EQ(statusOf("/home/u/b"), -1);
  EXPECT_EQ(statusOf("/home/u/c"), kQueueToDelete) << "marked after the list was made: sent next time";
}

TEST_F(DeleteFilesTest, NothingToDeleteSendsNothing) {
  auto& controller = makeController(1);
  controller.deleteFiles();
  EXPECT_TRUE(requests().empty());
}

}  // namespace
}  // namespace palvero::testing
