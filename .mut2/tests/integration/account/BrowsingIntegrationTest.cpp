#include "AccountFixture.h"
#include "support/Names.h"

namespace palvero::testing {
namespace {

class BrowsingIntegrationTest : public AccountFixture {
 protected:
  void SetUp() override {
    AccountFixture::SetUp();
    ServiceProcess::Options options;
    options.extraArgs = {"--folder-page-size", "2"};
    start(options);
    device_ = enrol();
    upload("/home/ann/docs/a.txt", 10, "20240131 17:05:09");
    upload("/home/ann/docs/a.txt", 11, "not a date");
    upload("/home/ann/docs/b.txt", 20, "17|05|09|01|31|2024");
    upload("/home/ann/docs/c.txt", 30, "20240201 08:00:00");
    upload("/home/ann/docs/sub/d.txt", 40, "20240201 08:00:00");
    upload("/home/ann/docs/old/e.txt", 50, "20240201 08:00:00");
    markDeleted("/home/ann/docs/c.txt");
    markDeleted("/home/ann/docs/old");
    service_->clearLog();
  }

  ServiceProcess::Credentials device_;
};

TEST_F(BrowsingIntegrationTest, AFolderIsReadPageByPage) {
  auto before = clock_->totalSlept();
  auto folder = server_->getFolderWithPath("/home/ann/docs", std::nullopt, false);
  ASSERT_TRUE(folder);
  auto pages = service_->requests("get_folder_page");
  ASSERT_EQ(pages.size(), 3u);
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i]["fields"]["page"], std::to_string(i + 1));
    EXPECT_EQ(pages[i]["fields"]["path"], "/home/ann/docs");
  }
  // Pages 2 and 3 each wait twice the default pacing after the previous reply.
  EXPECT_EQ(clock_->totalSlept() - before, std::chrono::milliseconds(400));
  EXPECT_EQ(names(folder->subFolders), std::vector<std::string>{"sub"});
  EXPECT_EQ(folder->subFolders[0].path, "/home/ann/docs/sub");
  EXPECT_EQ(names(folder->files), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(BrowsingIntegrationTest, DeletedEntriesAppearWhenAsked) {
  auto folder = server_->getFolderWithPath("/home/ann/docs", std::nullopt, true);
  ASSERT_TRUE(folder);
  EXPECT_EQ(names(folder->subFolders), (std::vector<std::string>{"old", "sub"}));
  EXPECT_EQ(folder->subFolders[0].toDelete, 1);
  EXPECT_EQ(names(folder->files), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_TRUE(folder->files[2].toDelete);
  EXPECT_FALSE(folder->files[0].toDelete);
}

TEST_F(BrowsingIntegrationTest, TheTreeStartsAtTheAccountsDevices) {
  auto second = service_->enrolDevice("ann", "secret", "laptop");
  auto root = server_->getFolderWithPath("", std::nullopt, false);
  ASSERT_TRUE(root);
  ASSERT_EQ(root->subFolders.size(), 2u);
  EXPECT_EQ(root->subFolders[0].type, "device");
  EXPECT_EQ(root->subFolders[0].name, "test-device");
  EXPECT_EQ(root->subFolders[0].deviceId, device_.clientId);
  EXPECT_EQ(root->subFolders[0].deviceType, "31");
  EXPECT_EQ(root->subFolders[1].deviceId, second.clientId);

  // A device holds drives, a drive folders.
  auto drives = server_->getFolderWithPath("", device_.clientId, false);
  ASSERT_TRUE(drives);
  EXPECT_EQ(names(drives->subFolders), std::vector<std::string>{"/"});
  EXPECT_EQ(drives->subFolders[0].type, "drive");
  EXPECT_EQ(drives->subFolders[0].deviceId, device_.clientId);
  auto top = server_->getFolderWithPath(drives->subFolders[0].name, device_.clientId, false);
  ASSERT_TRUE(top);
  EXPECT_EQ(names(top->subFolders), std::vector<std::string>{"home"});
  EXPECT_EQ(top->subFolders[0].path, "/home");
  EXPECT_EQ(top->deviceId, device_.clientId);
}

TEST_F(BrowsingIntegrationTest, AnotherDeviceOfTheAccountCanBeBrowsedButNoStrangers) {
  auto laptop = service_->enrolDevice("ann", "secret", "laptop");
  {
    auto laptopClient = newServer();
    ServiceProcess::useCredentials(laptop);
    bool offline = false;
    ASSERT_TRUE(laptopClient->updateFileVersionWithFilename("/home/ann/laptop.txt", 3, "20240131 17:05:09",
                                                            bytesFromString("x"), offline));
    ServiceProcess::useCredentials(device_);
  }
  auto listing = server_->getFolderWithPath("/home/ann", laptop.clientId, false);
  ASSERT_TRUE(listing);
  EXPECT_EQ(names(listing->files), std::vector<std::string>{"laptop.txt"});
  EXPECT_EQ(listing->files[0].deviceId, laptop.clientId);

  auto stranger = service_->newDevice("bob", "pw");
  EXPECT_FALSE(server_->getFolderWithPath("/home", stranger.clientId, false));
  EXPECT_EQ(loggedTextsStartingWith("getFolderPage FAIL").back(),
            "getFolderPage FAIL. Path: /home. Page: 1. Response: no such device with status code: 404");
}

// The whole tree under the folder, in one packed reply; every entry is named
// by its path below "/". Deleted files are left out.
TEST_F(BrowsingIntegrationTest, TheWholeTreeComesPackedInOneReply) {
  auto folder = server_->getGetFilesList("/home/ann/docs", std::nullopt);
  ASSERT_TRUE(folder);
  EXPECT_EQ(service_->requests("get_files_list").size(), 1u);
  EXPECT_EQ(names(folder->subFolders), (std::vector<std::string>{"home/ann/docs/old", "home/ann/docs/sub"}));
  EXPECT_EQ(folder->subFolders[1].path, "/home/ann/docs/sub");
  EXPECT_EQ(names(folder->files),
            (std::vector<std::string>{"home/ann/docs/a.txt", "home/ann/docs/b.txt", "home/ann/docs/sub/d.txt"}));
  ASSERT_EQ(folder->files[0].versions.size(), 2u);
  EXPECT_EQ(folder->files[0].versions[0].date, Date::fromLocalComponents(2024, 1, 31, 17, 5, 9));
  EXPECT_EQ(folder->deviceId, device_.clientId);
}

TEST_F(BrowsingIntegrationTest, AnExpiredSessionIsRenewedAndTheListingStartsOver) {
  ASSERT_TRUE(server_->syncAuthorise());
  service_->addFault("get_folder_page:401:1:skip=1");
  service_->clearLog();
  auto folder = server_->getFolderWithPath("/home/ann/docs", std::nullopt, false);
  ASSERT_TRUE(folder);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"get_folder_page", "get_folder_page", "auth", "get_folder_page",
                                               "get_folder_page", "get_folder_page"}));
  EXPECT_EQ(names(folder->files), (std::vector<std::string>{"a.txt", "b.txt"}));
}

}  // namespace
}  // namespace palvero::testing
