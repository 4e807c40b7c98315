// The restore page's models against palvero-service: browsing another
// device of the account level by level (every page of a long folder,
// deleted entries only when asked, a failed listing told apart from an
// empty folder). The page itself restores what is ticked (tests/ui).
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/RemoteBrowser.h"
#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

class RestorePageModelTest : public RestoreFixture {
 protected:
  void SetUp() override {
    RestoreFixture::SetUp();
    laptop_ = service_.enrolDevice("ann", "secret", "old-laptop");
    // The old laptop's backups, uploaded as that device.
    ServiceProcess::useCredentials(laptop_);
    auto own = server_;
    server_ = newServer();
    uploadRevision("/home/bob/Documents/report.txt", "20240105 10:00:00", "first draft");
    uploadRevision("/home/bob/Documents/report.txt", "20240301 10:00:00", "final text");
    uploadRevision("/home/bob/Documents/gone.txt", "20240105 10:00:00", "deleted later");
    uploadRevision("/home/bob/Documents/cache/tmp.bin", "20240105 10:00:00", "scratch");
    ASSERT_TRUE(server_->syncAuthorise());
    ASSERT_TRUE(server_->syncDeleteVerFile(encoded("[\"/home/bob/Documents/gone.txt\"]"), 0, std::nullopt, false));
    ServiceProcess::useCredentials(device_);
    server_ = own;
    ASSERT_TRUE(server_->syncAuthorise());
  }

  // The child of `parent` called `name`.
  RemoteNode childNamed(RemoteBrowser& browser, const RemoteNode& parent, const std::string& name) {
    auto children = browser.children(parent);
    EXPECT_TRUE(children) << "no listing of " << parent.path;
    if (children) {
      for (const auto& child : *children) {
        if (child.name == name) return child;
      }
    }
    ADD_FAILURE() << name << " is not listed in " << parent.path;
    return {};
  }

  static std::vector<std::string> names(const std::vector<RemoteNode>& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) out.push_back(n.name + (n.isDeleted ? " (deleted)" : ""));
    return out;
  }

  // The laptop's Documents folder, walked from the account down.
  RemoteNode documents(RemoteBrowser& browser) {
    RemoteNode laptop = childNamed(browser, RemoteBrowser::account(), "old-laptop");
    EXPECT_EQ(laptop.kind, RemoteNode::Kind::kDevice);
    EXPECT_EQ(laptop.deviceId, laptop_.clientId);
    RemoteNode drive = childNamed(browser, laptop, "/");
    EXPECT_EQ(drive.kind, RemoteNode::Kind::kDrive);
    RemoteNode node = drive;
    for (const char* step : {"home", "bob", "Documents"}) node = childNamed(browser, node, step);
    return node;
  }

  ServiceProcess::Credentials laptop_;
};

TEST_F(RestorePageModelTest, BrowsesAnotherDeviceAndShowsDeletedFilesOnlyWhenAsked) {
  RemoteBrowser browser(server_);
  RemoteNode docs = documents(browser);
  EXPECT_EQ(docs.path, "/home/bob/Documents");
  EXPECT_EQ(docs.deviceId, laptop_.clientId);
  auto shown = browser.children(docs);
  ASSERT_TRUE(shown);
  EXPECT_EQ(names(*shown), (std::vector<std::string>{"cache", "report.txt"}));
  const RemoteNode report = shown->back();
  EXPECT_EQ(report.kind, RemoteNode::Kind::kFile);
  EXPECT_EQ(report.path, "/home/bob/Documents/report.txt");
  EXPECT_EQ(report.versions.size(), 2u);

  browser.setShowDeleted(true);
  shown = browser.children(docs);
  ASSERT_TRUE(shown);
  EXPECT_EQ(names(*shown), (std::vector<std::string>{"cache", "gone.txt (deleted)", "report.txt"}));
  EXPECT_FALSE(browser.children(report)) << "a file has no children";
}

TEST_F(RestorePageModelTest, ALongFolderComesWholeAndAFailedListingIsNotAnEmptyFolder) {
  ServiceProcess::useCredentials(laptop_);
  auto own = server_;
  server_ = newServer();
  std::vector<std::string> expected;
  // More than one page of the service's listing.
  for (int i = 0; i < 130; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03d.txt", 129 - i);
    uploadRevision(std::string("/home/bob/many/") + name, "20240105 10:00:00", name);
    expected.push_back(name);
  }
  std::sort(expected.begin(), expected.end());
  ServiceProcess::useCredentials(device_);
  server_ = own;
  RemoteBrowser browser(server_);
  RemoteNode node = RemoteBrowser::account();
  for (const char* step : {"old-laptop", "/", "home", "bob", "many"}) node = childNamed(browser, node, step);
  auto listed = browser.children(node);
  ASSERT_TRUE(listed);
  EXPECT_EQ(names(*listed), expected);
  EXPECT_GE(sent("get_folder_page").size(), 2u);

  service_.addFault("get_folder_page:500:always");
  EXPECT_FALSE(browser.children(node));
  service_.clearFaults();
  RemoteNode cache = node;
  cache.path = "/home/bob/nothing-here";
  auto empty = browser.children(cache);
  ASSERT_TRUE(empty) << "a folder the service does not hold lists as empty";
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace palvero::testing
