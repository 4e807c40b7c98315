// Back up and restore through palvero-service, comparing every byte and the
// modification time, across block boundaries, contents, names and with the
// version text plain or encrypted.
#include <map>

#include "EngineFixture.h"
#include "engine/format/BlockCutter.h"

namespace palvero::testing {
namespace {

using ::palvero::testing::PrintTo;

struct RoundTripCase {
  const char* label;
  std::string name;
  size_t size;
  bool text;
  bool userCipher;
  // Blocks above 256 bytes, each uploaded once and downloaded once.
  size_t storedBlocks;
  // Their lengths, when the case pins them.
  std::vector<std::string> blockSizes = {};
};

class RoundTripTest : public EngineFixture, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, RestoresEveryByteAndTheChangeTime) {
  const RoundTripCase& c = GetParam();
  if (!c.userCipher) setUserCipher("");
  std::string path = dataPath(c.name);
  std::string content = c.text ? textContent(c.size, c.size) : randomContent(c.size, c.size + 1);
  writeFile(path, content);

  ASSERT_TRUE(backup(path));
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_EQ(lastSender(), static_cast<const BlockEngine*>(engine_.get()));
  EXPECT_EQ(uploadedBlockNames().size(), c.storedBlocks);
  EXPECT_EQ(answered("upload_ver").size(), 1u);

  service_.clearLog();
  std::string target = restoredPath(c.name);
  ASSERT_TRUE(restore(path, target)) << lastPosted().userInfo.dump();
  EXPECT_EQ(lastPosted().name, "RestoreOK");
  EXPECT_TRUE(readFile(target) == content);
  EXPECT_EQ(modificationTime(target), recordedChangeTime(path));
  std::vector<Value> downloads = service_.requests("get_block");
  EXPECT_EQ(downloads.size(), c.storedBlocks);
  if (!c.blockSizes.empty()) {
    std::vector<std::string> sizes;
    for (const auto& entry : downloads) sizes.push_back(entry["fields"]["size"].get<std::string>());
    EXPECT_EQ(sizes, c.blockSizes);
  }
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RoundTripTest,
    ::testing::Values(RoundTripCase{"Empty", "empty.bin", 0, false, true, 0},
                      RoundTripCase{"Bytes100InVersionText", "small.bin", 100, false, true, 0},
                      RoundTripCase{"Bytes256InVersionText", "b256.bin", 256, false, false, 0},
                      RoundTripCase{"Bytes257OneBlock", "b257.bin", 257, false, true, 1},
                      RoundTripCase{"Bytes300000TwoBlocks", "b300000.bin", 300000, false, true, 2, {"256000", "44000"}},
                      RoundTripCase{"CompressibleTenBlocksAndTail", "text.txt", 2600001, true, true, 11},
                      RoundTripCase{"QuotesInName", "quotes/it's \"quoted\".txt", 5000, true, false, 1},
                      RoundTripCase{"NonAsciiName", "na\xC3\xAFve/\xE6\x97\xA5\xE6\x9C\xAC.bin", 300000, false, true,
                                    2},
                      RoundTripCase{"PercentAndPlusInName", "odd/100% + more&x=y.txt", 1000, true, true, 1}),
    labelOf<RoundTripCase>);

TEST_F(RoundTripTest, ALargeFileIsCutInMegabyteBlocksAndRestoredWhole) {
  const size_t size = 150000000;
  std::string content = textContent(size / 2, 7) + randomContent(size - size / 2, 8);
  std::string path = dataPath("large.bin");
  writeFile(path, content);

  ASSERT_TRUE(backup(path));
  std::map<int64_t, int> sizes;
  for (const auto& entry : answered("upload_blocks_multi")) {
    for (const auto& record : Value::parse(entry["fields"]["blocks"].get<std::string>())) {
      sizes[record["size"].get<int64_t>()]++;
    }
  }
  EXPECT_EQ(sizes, (std::map<int64_t, int>{{1024000, 146}, {256000, 1}, {240000, 1}}));

  std::string target = restoredPath("large.bin");
  ASSERT_TRUE(restore(path, target)) << lastPosted().userInfo.dump();
  EXPECT_TRUE(readFile(target) == content);
  EXPECT_EQ(modificationTime(target), recordedChangeTime(path));
}

TEST_F(RoundTripTest, WithoutAUserCipherTheVersionTextIsStoredAsPlainText) {
  setUserCipher("");
  std::string path = dataPath("plain version.txt");
  writeFile(path, "short content");
  ASSERT_TRUE(backup(path));
  auto reply = service_.post(
      "request=get_ver&guid=" + device_.clientId + "&file=" + *Functions::UrlEncode(path) + "&version=-1&undelete=0",
      service_.sessionCookie(device_));
  ASSERT_EQ(reply.status, 200);
  std::string expected = "0|" + path + "|13|" + changeTimeText(path) + "\n1|" + path +
                         "|13\n2:0:" + Functions::HexStr(bytesFromString("short content")) +
                         ":13::" + std::to_string(BlockCutter::GetFirstCheckInt(bytesFromString("short content"), 0)) +
                         ":" + std::to_string(BlockCutter::GetLastCheckInt(bytesFromString("short content"), 0, 13));
  EXPECT_EQ(reply.body, expected);
}

TEST_F(RoundTripTest, WithAUserCipherTheVersionTextIsNotReadableOnTheService) {
  std::string path = dataPath("secret name.txt");
  writeFile(path, textContent(20000, 3));
  ASSERT_TRUE(backup(path));
  auto reply = service_.post(
      "request=get_ver&guid=" + device_.clientId + "&file=" + *Functions::UrlEncode(path) + "&version=-1&undelete=0",
      service_.sessionCookie(device_));
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body.size() % 16, 0u);
  EXPECT_EQ(reply.body.find("secret name"), std::string::npos);
  // Another device cannot read it without the key: the same engine with the
  // wrong cipher finds no revision.
  setUserCipher("a different user cipher text.....");
  EXPECT_FALSE(restore(path, restoredPath("x.txt")));
  EXPECT_EQ(lastPosted().userInfo["error"], "No file version");
}

}  // namespace
}  // namespace palvero::testing
