// Only blocks that neither the local block table nor the service holds are
// sent; the ~/Library rule; where the packed form is used.
#include "EngineFixture.h"
#include "engine/format/BlockCutter.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

using ::palvero::testing::PrintTo;

class DeduplicationTest : public EngineFixture {
 protected:
  static std::string sha(const std::string& bytes) { return BlockCutter::sha256StringFromData(bytesFromString(bytes)); }
};

TEST_F(DeduplicationTest, ASecondBackupOfAnUnchangedFileSendsNoBlockAndRecordsANewVersion) {
  std::string path = dataPath("same.bin");
  writeFile(path, randomContent(600000, 1));
  ASSERT_TRUE(backup(path));
  ASSERT_EQ(uploadedBlockNames().size(), 3u);
  service_.clearLog();

  ASSERT_TRUE(backup(path));
  EXPECT_TRUE(service_.requests("upload_blocks_multi").empty());
  EXPECT_TRUE(service_.requests("check_block").empty()) << "the local table knew every block";
  EXPECT_EQ(answered("upload_ver").size(), 1u);
  EXPECT_EQ(service_.versions(device_.clientId, path).size(), 2u);
}

TEST_F(DeduplicationTest, BlocksTheServiceHoldsAreNotSentWhenTheLocalTableForgotThem) {
  std::string content = randomContent(700000, 3);
  writeFile(dataPath("a.bin"), content);
  ASSERT_TRUE(backup(dataPath("a.bin")));
  ASSERT_TRUE(DBManager::sharedDBManager().removeAllCachedBlocks());
  service_.clearLog();

  writeFile(dataPath("copy.bin"), content);
  ASSERT_TRUE(backup(dataPath("copy.bin")));
  EXPECT_TRUE(service_.requests("upload_blocks_multi").empty());
  ASSERT_EQ(answered("check_block").size(), 1u);
  EXPECT_EQ(answered("check_block")[0]["reply"], "[]");
  // The check put what the service holds back into the table.
  EXPECT_TRUE(
      DBManager::sharedDBManager().checkBlocks(std::vector<std::string>{sha(content.substr(0, 256000))}).empty());
}

TEST_F(DeduplicationTest, AChangeInTheMiddleOfALargeFileSendsOnlyTheChangedBlock) {
  std::string path = dataPath("large.bin");
  std::string before = randomContent(5000000, 4);
  writeFile(path, before);
  ASSERT_TRUE(backup(path));
  EXPECT_EQ(uploadedBlockNames().size(), 20u);  // 19 x 256,000 and a 136,000 tail
  service_.clearLog();

  std::string after = before;
  for (size_t i = 2600000; i < 2600100; ++i) after[i] = static_cast<char>(~after[i]);
  writeFile(path, after);
  ASSERT_TRUE(backup(path));
  // Block 10 covers 2,560,000 to 2,816,000.
  EXPECT_EQ(uploadedBlockNames(), (std::vector<std::string>{sha(after.substr(2560000, 256000))}));

  ASSERT_TRUE(restore(path, restoredPath("latest.bin")));
  EXPECT_TRUE(readFile(restoredPath("latest.bin")) == after);
  ASSERT_TRUE(restore(path, restoredPath("first.bin"), 1));
  EXPECT_TRUE(readFile(restoredPath("first.bin")) == before);
}

TEST_F(DeduplicationTest, BlocksArePackedOnlyFromFourThousandBytesAndWhenSmaller) {
  struct Case {
    const char* name;
    std::string content;
    bool packed;
  };
  std::vector<Case> cases = {{"text3999.txt", textContent(3999, 5), false},
                             {"text4000.txt", textContent(4000, 6), true},
                             {"random5000.bin", randomContent(5000, 7), false},
                             {"text300000.txt", textContent(300000, 8), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_.clearLog();
    writeFile(dataPath(c.name), c.content);
    ASSERT_TRUE(backup(dataPath(c.name)));
    std::string expected = sha(c.content.substr(0, std::min<size_t>(c.content.size(), 256000)));
    std::vector<std::string> names = uploadedBlockNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), c.packed ? expected + ".pvzip" : expected);
    ASSERT_TRUE(restore(dataPath(c.name), restoredPath(c.name)));
    EXPECT_TRUE(readFile(restoredPath(c.name)) == c.content);
  }
}

struct LibraryCase {
  const char* label;
  const char* folder;
  int hoursLater;
  bool uploaded;
};

class LibraryRuleTest : public EngineFixture, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(LibraryRuleTest, AChangedLibraryFileGetsANewRevisionOnlyADayLater) {
  const LibraryCase& c = GetParam();
  std::string path = home_ / (std::string(c.folder) + "/app.plist");
  writeFile(path, "first content of the preferences file");
  ASSERT_TRUE(backup(path));
  int64_t stored = recordedChangeTime(path);
  service_.clearLog();

  writeFile(path, "second content of the preferences file, changed");
  setModificationTime(path, stored + c.hoursLater * 3600);
  ASSERT_TRUE(backup(path));
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_EQ(service_.requests("upload_ver").size(), c.uploaded ? 1u : 0u);
  EXPECT_EQ(service_.versions(device_.clientId, path).size(), c.uploaded ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Hours, LibraryRuleTest,
                         ::testing::Values(LibraryCase{"LibraryTwoHours", "Library/Preferences", 2, false},
                                           LibraryCase{"LibraryTwentyFiveHours", "Library/Preferences", 25, true},
                                           LibraryCase{"ElsewhereTwoHours", "Documents", 2, true}),
                         labelOf<LibraryCase>);

}  // namespace
}  // namespace palvero::testing
