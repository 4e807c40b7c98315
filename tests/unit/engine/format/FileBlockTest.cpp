#include <gtest/gtest.h>

#include <unordered_set>

#include "base/Value.h"
#include "engine/format/FileBlock.h"
#include "engine/format/FileBlockToSend.h"
#include "engine/format/util/Functions.h"
#include "state/LogWriter.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class FileBlockTest : public ::testing::Test {
 protected:
  std::string log() const { return testing::readFile(LogWriter::sharedLogger().currentLogFilepath()); }
  testing::TempHome home_;
};

FileBlock block(std::string checksum, std::string small, int64_t length) {
  FileBlock b;
  b.checksum = std::move(checksum);
  b.smallChecksum = std::move(small);
  b.length = length;
  return b;
}

TEST_F(FileBlockTest, FromJsonTakesTheFirstElementAndRejectsOtherShapes) {
  auto first = FileBlock::fromJSON(R"([{"size": 5, "checksum": "A"}, {"size": 6, "checksum": "B"}])");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->checksum, "A");
  EXPECT_EQ(first->length, 5);
  auto textSize = FileBlock::fromJSON(R"([{"size": "2048000", "checksum": "C"}])");
  ASSERT_TRUE(textSize);
  EXPECT_EQ(textSize->length, 2048000);
  for (const char* bad : {"", "[]", "{}", "[1]", R"({"size": 5, "checksum": "A"})", R"([{"size": 5}])",
                          R"([{"checksum": "A"}])", R"([{"size": 5, "checksum": 7}])",
                          R"([{"size": null, "checksum": "A"}])", "[{\"size\": 5, \"checksum\": \"A\"", "not json"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(FileBlock::fromJSON(bad));
  }
}

TEST_F(FileBlockTest, JsonFormAndBlockListAreExactAndReadBack) {
  FileBlock b = FileBlock::initWithSize(256000, "AB12");
  EXPECT_EQ(b.toJSONString(), "{ \"size\": 256000, \"checksum\": \"AB12\"}");
  EXPECT_EQ(FileBlock::blockListString({b}), "[" + b.toJSONString() + "]");
  auto back = FileBlock::fromJSON(FileBlock::blockListString({b}));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->length, 256000);
  EXPECT_EQ(back->checksum, "AB12");
  EXPECT_EQ(back->smallChecksum, "");
  EXPECT_EQ(FileBlock::blockListString({}), "[]");
  std::string two = FileBlock::blockListString({FileBlock::initWithSize(300, "X"), FileBlock::initWithSize(7, "Y")});
  EXPECT_EQ(two, "[{ \"size\": 300, \"checksum\": \"X\"},{ \"size\": 7, \"checksum\": \"Y\"}]");
}

TEST_F(FileBlockTest, EqualityAndHashIgnorePositionOffsetAndCheckIntegers) {
  FileBlock a = block("C1", "M1", 1000);
  FileBlock b = a;
  b.position = 9;
  b.offset = 123456;
  b.FirstCheckInt = 5;
  b.LastCheckInt = -5;
  EXPECT_TRUE(a.equals(b));
  EXPECT_TRUE(a.isEqual(b));
  EXPECT_EQ(a.hash(), b.hash());

  struct Variant {
    const char* what;
    FileBlock other;
  };
  for (const auto& v : {Variant{"length", block("C1", "M1", 1001)}, Variant{"checksum", block("C2", "M1", 1000)},
                        Variant{"small checksum", block("C1", "M2", 1000)}}) {
    SCOPED_TRACE(v.what);
    EXPECT_FALSE(a.equals(v.other));
    EXPECT_FALSE(a == v.other);
  }
  std::unordered_set<FileBlock> set{a, b, block("C1", "M1", 1001), block("C3", "", 10)};
  EXPECT_EQ(set.size(), 3u);
}

TEST_F(FileBlockTest, VersionLineIsExact) {
  FileBlock b = block("48656c6c6f", "", 5);
  b.position = 3;
  EXPECT_EQ(b.toVerFileString(), "\n2:3:48656c6c6f:5::0:0");
  FileBlock big = block(std::string(64, 'A'), std::string(32, 'B'), 2048000);
  big.position = (int64_t{1} << 32) + 7;  // written as a 32-bit value
  big.FirstCheckInt = -1;
  big.LastCheckInt = 2147483647;
  EXPECT_EQ(big.toVerFileString(),
            "\n2:7:" + std::string(64, 'A') + ":2048000:" + std::string(32, 'B') + ":-1:2147483647");
}

TEST_F(FileBlockTest, VersionLineReading) {
  struct Case {
    const char* line;
    bool reads;
    int64_t position, length;
    const char* checksum;
    const char* small;
    int32_t first, last;
  };
  const Case cases[] = {
      {"2:7:ABCD:1000:EF01", true, 7, 1000, "ABCD", "EF01", 0, 0},
      {"2:7:ABCD:1000:EF01:5", false, 0, 0, "", "", 0, 0},
      {"2:7:ABCD:1000", false, 0, 0, "", "", 0, 0},
      {"2:3:48656c6c6f:5::0:0", true, 3, 5, "48656c6c6f", "", 0, 0},
      {"2:1:AA:300:BB:-12:34:extra", true, 1, 300, "AA", "BB", -12, 34},
      {"2:x:AA:12abc:BB:+5:9z", true, 0, 12, "AA", "BB", 5, 9},
      {"2:1:AA:99999999999:BB:1:1", true, 1, 2147483647, "AA", "BB", 1, 1},
      {"2:1:AA:-99999999999:BB:1:1", true, 1, -2147483648LL, "AA", "BB", 1, 1},
      {"2:1:AA:300:BB:1:1\r", true, 1, 300, "AA", "BB", 1, 1},
      {"1|name|5", false, 0, 0, "", "", 0, 0},
      {"", false, 0, 0, "", "", 0, 0},
      {" 2:1:AA:300:BB:1:1", false, 0, 0, "", "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto b = FileBlock::fromVerFile(c.line);
    ASSERT_EQ(b.has_value(), c.reads);
    if (!c.reads) continue;
    EXPECT_EQ(b->position, c.position);
    EXPECT_EQ(b->length, c.length);
    EXPECT_EQ(b->checksum, c.checksum);
    EXPECT_EQ(b->smallChecksum, c.small);
    EXPECT_EQ(b->FirstCheckInt, c.first);
    EXPECT_EQ(b->LastCheckInt, c.last);
  }
  EXPECT_NE(log().find("fromVerFile exception: "), std::string::npos);
}

TEST_F(FileBlockTest, BlockToSendJsonCarriesTheBodyMd5AndFullLengthCountsIt) {
  Bytes body = bytesFromString("The quick brown fox jumps over the lazy dog");
  FileBlockToSend send(body, "ABCDEF.pvzip", 256000);
  std::string json = send.toJson();
  EXPECT_EQ(json,
            "{ \"name\": \"ABCDEF.pvzip\", \"size\": 256000, \"checksum\": \"9E107D9D372BB6826BD81D3542A419D6\"}");
  EXPECT_EQ(send.fullLength(), static_cast<int64_t>(body.size() + json.size()));
  EXPECT_EQ(FileBlockToSend({}, "X", 5).fullLength(), 0);
  EXPECT_TRUE(send == FileBlockToSend(Bytes{1}, "ABCDEF.pvzip", 1));
  EXPECT_FALSE(send == FileBlockToSend(body, "ABCDEF", 256000));
}

}  // namespace
}  // namespace palvero
