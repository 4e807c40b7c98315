// Where a restored file goes: kept beside under a dated name; colons
// removed; paths that would leave the chosen place refused; folders and
// revisions that cannot be restored.
#include <filesystem>

#include "EngineFixture.h"

namespace palvero::testing {
namespace {

class RestoreTargetTest : public EngineFixture {
 protected:
  // Backs up `content` under data/<name> and returns its path.
  std::string backedUp(const std::string& name, const std::string& content) {
    std::string path = dataPath(name);
    writeFile(path, content);
    EXPECT_TRUE(backup(path));
    return path;
  }
  static void keepExistingFiles() { CommonExtensions::sharedExtensionsManager().setReplaceFiles(false); }
  // Uploads a version text of our own making (the user cipher is cleared, so
  // it is stored as plain text).
  void uploadVersionText(const std::string& path, const std::string& text) {
    setUserCipher("");
    auto reply = service_.postMultipart({{"request", "upload_ver"},
                                         {"guid", device_.clientId},
                                         {"file_name", path},
                                         {"size", "0"},
                                         {"modified", "20240131 17:05:09"}},
                                        {{"file", path, text}}, service_.sessionCookie(device_));
    ASSERT_EQ(reply.body, "ok");
  }
};

TEST_F(RestoreTargetTest, KeepingExistingFilesWritesADatedFileBesideTheOld) {
  keepExistingFiles();
  struct Case {
    const char* name;
    std::string dated;  // with @ for the change time
  };
  // Where the date goes in other names: RestoreFileOperationsTest.
  for (const Case& c : {Case{"report.pdf", "report(@).pdf"}, Case{"README", "README(@)"}}) {
    SCOPED_TRACE(c.name);
    std::string path = backedUp(c.name, textContent(9000, 1));
    std::string target = restoredPath(c.name);
    writeFile(target, "the user's newer file");
    ASSERT_TRUE(restore(path, target)) << lastPosted().userInfo.dump();
    std::string dated = c.dated;
    dated.replace(dated.find('@'), 1, changeTimeText(path));
    EXPECT_EQ(readFile(target), "the user's newer file");
    EXPECT_TRUE(readFile(restoredPath(dated)) == textContent(9000, 1));
    EXPECT_EQ(modificationTime(restoredPath(dated)), recordedChangeTime(path));
  }
  EXPECT_NE(changeTimeText(dataPath("README")).find(' '), std::string::npos);
}

TEST_F(RestoreTargetTest, ColonsAreRemovedFromTheTarget) {
  std::string path = backedUp("plain.txt", "colons");
  ASSERT_TRUE(restore(path, restoredPath("a:b/c:d.txt")));
  EXPECT_EQ(readFile(restoredPath("ab/cd.txt")), "colons");
}

TEST_F(RestoreTargetTest, PathsThatLeaveTheChosenPlaceAreRefused) {
  std::string path = backedUp("safe.txt", "safe");
  for (const std::string& target : {restoredPath("../escaped.txt"), restoredPath("a/../../escaped.txt"),
                                    std::string("relative/target.txt"), std::string()}) {
    SCOPED_TRACE(target);
    EXPECT_FALSE(restore(path, target));
    EXPECT_EQ(lastPosted().userInfo["error"], "Refused restore path");
  }
  EXPECT_FALSE(restore(dataPath("../data/safe.txt"), restoredPath("safe.txt")));
  EXPECT_FALSE(std::filesystem::exists(home_ / "escaped.txt"));
  EXPECT_FALSE(std::filesystem::exists(restoredPath("safe.txt")));
}

TEST_F(RestoreTargetTest, ARevisionThatDoesNotExistIsNoFileVersion) {
  std::string path = backedUp("one.txt", "one revision");
  for (int revision : {5, -1}) {
    std::string asked = revision == 5 ? path : dataPath("never backed up.txt");
    EXPECT_FALSE(restore(asked, restoredPath("x.txt"), revision));
    EXPECT_EQ(lastPosted().name, "RestoreFail");
    EXPECT_EQ(lastPosted().userInfo["error"], "No file version");
  }
  EXPECT_FALSE(std::filesystem::exists(restoredPath("x.txt")));
}

TEST_F(RestoreTargetTest, ARevisionWithoutPartsIsAFolderAndNeverReplacesAFile) {
  uploadVersionText("/photos/2023", "0|/photos/2023|0|20240131 17:05:09");
  ASSERT_TRUE(restore("/photos/2023", restoredPath("2023")));
  EXPECT_TRUE(std::filesystem::is_directory(restoredPath("2023")));

  writeFile(restoredPath("2023/already restored.jpg"), "kept");
  ASSERT_TRUE(restore("/photos/2023", restoredPath("2023")));
  EXPECT_EQ(readFile(restoredPath("2023/already restored.jpg")), "kept");

  writeFile(restoredPath("file in the way"), "kept too");
  EXPECT_FALSE(restore("/photos/2023", restoredPath("file in the way")));
  EXPECT_EQ(readFile(restoredPath("file in the way")), "kept too");
}

TEST_F(RestoreTargetTest, AFailedMemberOfSeveralPartsLeavesTheTargetUntouched) {
  // The second member's inline block is damaged.
  uploadVersionText("/docs/a.docx",
                    "0|/docs/a.docx|10|20240131 17:05:09\n1|word/document.xml|5\n2:0:6162636465:5::0:0\n"
                    "1|[Content_Types].xml|5\n2:0:61626z6465:5::0:0");
  writeFile(restoredPath("a.docx"), "existing");
  EXPECT_FALSE(restore("/docs/a.docx", restoredPath("a.docx")));
  EXPECT_EQ(lastPosted().userInfo["error"], "Missing part of file; Multiple parts file restore failed");
  EXPECT_EQ(readFile(restoredPath("a.docx")), "existing");
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
}

TEST_F(RestoreTargetTest, ADamagedInlineBlockIsAMissingPart) {
  uploadVersionText("/x/short.txt", "0|/x/short.txt|5|20240131 17:05:09\n1|/x/short.txt|5\n2:0:61626z6465:5::0:0");
  EXPECT_FALSE(restore("/x/short.txt", restoredPath("short.txt")));
  EXPECT_EQ(lastPosted().userInfo["error"], "Missing part of file");
  EXPECT_FALSE(std::filesystem::exists(restoredPath("short.txt")));
}

}  // namespace
}  // namespace palvero::testing
