#include "ProtocolTestSupport.h"
#include "engine/format/Compressor.h"

namespace palvero::testing {
namespace {

using FolderListingTest = ProtocolTest;

std::string page(int pagesCount, int number, Value data) {
  return Value{{"pagesCount", pagesCount}, {"page", number}, {"data", std::move(data)}}.dump();
}

Value folderEntry(const std::string& name, int toDelete = 0) { return {{"folder", name}, {"toDelete", toDelete}}; }

Value fileEntry(const std::string& name, int toDelete, Value versions = Value::array()) {
  return {{"file", name}, {"size", 1234}, {"toDelete", toDelete}, {"version", std::move(versions)}};
}

TEST_F(FolderListingTest, AServiceThatDoesNotAdvanceIsNotAskedForever) {
  transport_->setFallback([](const SentRequest&) { return reply(200, page(3, 1, Value::array())); });
  EXPECT_FALSE(server_->getFolderWithPath("/x", std::nullopt, false));
  EXPECT_EQ(transport_->count(), 2u);
  EXPECT_EQ(logLinesStartingWith("getFolderPage FAIL"),
            std::vector<std::string>{"getFolderPage FAIL. Path: /x. Page: 2. The service answered page 1 of 3"});
}

TEST_F(FolderListingTest, AFailedPageDropsTheWholeListing) {
  transport_->push(reply(200, page(3, 1, Value::array({folderEntry("a")}))));
  transport_->push(reply(500, "boom"));
  EXPECT_FALSE(server_->getFolderWithPath("/x", std::nullopt, false));
  EXPECT_EQ(transport_->count(), 2u);
  EXPECT_EQ(logLinesStartingWith("getFolderPage FAIL"),
            std::vector<std::string>{"getFolderPage FAIL. Path: /x. Page: 2. Response: boom with status code: 500"});
}

TEST_F(FolderListingTest, ARefusedRenewalEndsTheListing) {
  transport_->push(reply(401, ""));
  transport_->push(reply(200, "wrongpas"));
  EXPECT_FALSE(server_->getFolderWithPath("/x", std::nullopt, false));
  EXPECT_EQ(transport_->count(), 2u);
}

TEST_F(FolderListingTest, AReplyThatIsNotJsonIsAnError) {
  transport_->push(reply(200, "<html>"));
  EXPECT_FALSE(server_->getFolderWithPath("/x", std::nullopt, false));
  EXPECT_EQ(logLinesStartingWith("Exception in method getFolder").size(), 1u);
}

TEST_F(FolderListingTest, VersionDatesAreReadInBothForms) {
  Value versions = Value::array({{{"number", 1}, {"size", 10}, {"modified", "20240131 17:05:09"}},
                                 {{"number", 2}, {"size", 20}, {"modified", "17|05|09|01|31|2024"}},
                                 {{"number", 3}, {"size", 30}, {"modified", "2024-01-31T17:05:09"}},
                                 {{"number", "4"}, {"size", "40"}}});
  transport_->push(reply(200, page(1, 1, Value::array({fileEntry("a.txt", 0, versions)}))));
  auto folder = server_->getFolderWithPath("/x", std::nullopt, false);
  ASSERT_TRUE(folder);
  ASSERT_EQ(folder->files.size(), 1u);
  const auto& v = folder->files[0].versions;
  ASSERT_EQ(v.size(), 4u);
  Date expected = Date::fromLocalComponents(2024, 1, 31, 17, 5, 9);
  EXPECT_EQ(v[0].date, expected);
  EXPECT_EQ(v[1].date, expected);
  EXPECT_FALSE(v[2].date);
  EXPECT_FALSE(v[3].date);
  EXPECT_EQ(v[1].number, 2);
  EXPECT_EQ(v[1].size, 20);
  EXPECT_EQ(v[3].number, 4);
  EXPECT_EQ(v[3].size, 40);
  EXPECT_EQ(folder->files[0].size, 1234);
}

TEST_F(FolderListingTest, ADeviceIsAskedForByIdAndCopiedIntoTheRecords) {
  struct Case {
    std::optional<std::string> device;
    std::string body;
    std::string recordDevice;
  };
  for (const Case& c : {Case{"D7", "request=get_folder_page&guid=GUID-1&path=%2F&page=1&sourceDeviceId=D7", "D7"},
                        Case{"", "request=get_folder_page&guid=GUID-1&path=%2F&page=1", ""},
                        Case{std::nullopt, "request=get_folder_page&guid=GUID-1&path=%2F&page=1", ""}}) {
    SCOPED_TRACE(c.body);
    startOver();
    transport_->push(reply(200, page(1, 1, Value::array({{{"drive", "/"}}, folderEntry("home")}))));
    auto folder = server_->getFolderWithPath("/", c.device, false);
    ASSERT_TRUE(folder);
    EXPECT_EQ(transport_->sent()[0].body, c.body);
    EXPECT_EQ(folder->deviceId, c.recordDevice);
    ASSERT_EQ(folder->subFolders.size(), 2u);
    EXPECT_EQ(folder->subFolders[0].type, "drive");
    EXPECT_EQ(folder->subFolders[0].deviceId, c.recordDevice);
    // The root gets no second "/".
    EXPECT_EQ(folder->subFolders[1].path, "/home");
  }
}

// --- Whole-folder listing ---------------------------------------------------

class FilesListTest : public ProtocolTest {
 protected:
  static std::string packed(const Value& entries) {
    Compressor compressor;
    Bytes out;
    std::string errorText;
    int32_t errorType = 0;
    EXPECT_TRUE(compressor.CompressPackageStream(bytesFromString(entries.dump()), out, "list.json", "", errorText,
                                                 errorType, "t"));
    return stringFromBytes(out);
  }
};

TEST_F(FilesListTest, BrokenRepliesGiveNothing) {
  struct Case {
    std::string name;
    HttpResponse answer;
    std::string logPrefix;
  };
  std::string notAnArchive = "PK\x03\x04 cut short";
  std::string packedObject = packed(Value{{"file", "a"}});
  for (const Case& c :
       {Case{"not an archive", reply(200, notAnArchive), "Exception in method getFilesList"},
        Case{"not a list", reply(200, packedObject), "Exception in method getFilesList"},
        Case{"404", reply(404, "no"), "getFolderPage FAIL. Path: /a. Response: no with status code: 404"}}) {
    SCOPED_TRACE(c.name);
    transport_->push(c.answer);
    EXPECT_FALSE(server_->getGetFilesList("/a", "D1"));
    EXPECT_FALSE(logLinesStartingWith(c.logPrefix).empty());
  }
}

}  // namespace
}  // namespace palvero::testing
