#include <algorithm>

#include "ServiceFixture.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

std::string checksumFor(int i) {
  char text[65];
  std::snprintf(text, sizeof text, "%064X", i + 0xB10C);
  return text;
}

class BlocksIntegrationTest : public ServiceFixture {
 protected:
  FileBlockToSend record(int i, size_t size, bool packed = false) {
    return FileBlockToSend(randomBytes(size, static_cast<uint64_t>(i)), checksumFor(i) + (packed ? ".pvzip" : ""),
                           static_cast<int64_t>(size));
  }
  FileBlock block(int i, int64_t length) {
    FileBlock b = FileBlock::initWithSize(length, checksumFor(i));
    b.offset = i * 1000;
    return b;
  }
  std::vector<size_t> filesPerUpload() {
    std::vector<size_t> out;
    for (const auto& entry : sent("upload_blocks_multi")) {
      if (entry["status"] == 200) out.push_back(entry["files"].size());
    }
    // Two batches travel at once and may arrive in either order.
    std::sort(out.begin(), out.end());
    return out;
  }
  std::vector<std::string> uncached(const std::vector<int>& indexes) {
    std::vector<std::string> checksums;
    for (int i : indexes) checksums.push_back(checksumFor(i));
    return DBManager::sharedDBManager().checkBlocks(checksums);
  }
  bool upload(const std::vector<FileBlockToSend>& list) {
    bool offline = false;
    return server_->uploadDataBlockList(list, offline);
  }
};

TEST_F(BlocksIntegrationTest, AnEmptyCheckReplyCachesEveryBlock) {
  ASSERT_TRUE(upload({record(1, 4000), record(2, 5000, true)}));
  auto missing = server_->hasServerFileBlocks({block(1, 4000), block(2, 5000)});
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->empty());
  EXPECT_TRUE(uncached({1, 2}).empty());
  EXPECT_EQ(sent("check_block").back()["reply"], "[]");
}

TEST_F(BlocksIntegrationTest, TheCheckNamesTheMissingBlocksAndCachesTheOthers) {
  ASSERT_TRUE(upload({record(1, 4000)}));
  auto missing = server_->hasServerFileBlocks({block(1, 4000), block(3, 300), block(4, 400)});
  ASSERT_TRUE(missing);
  ASSERT_EQ(missing->size(), 2u);
  EXPECT_EQ((*missing)[0].checksum, checksumFor(3));
  EXPECT_EQ((*missing)[0].offset, 3000);
  EXPECT_EQ((*missing)[1].length, 400);
  EXPECT_EQ(uncached({1, 3, 4}), (std::vector<std::string>{checksumFor(3), checksumFor(4)}));
}

TEST_F(BlocksIntegrationTest, AMalformedCheckReplyCachesNothing) {
  ASSERT_TRUE(upload({record(1, 4000)}));
  service_.addFault("check_block:malformed");
  EXPECT_FALSE(server_->hasServerFileBlocks({block(1, 4000), block(2, 300)}));
  EXPECT_EQ(uncached({1, 2}).size(), 2u);
  EXPECT_EQ(logLinesStartingWith("hasServerFileBlocks FAIL").size(), 1u);
}

TEST_F(BlocksIntegrationTest, DownloadsReturnTheStoredBytesAndThePackedMark) {
  auto packed = record(1, 70000, true);
  auto plain = record(2, 80000);
  ASSERT_TRUE(upload({packed, plain}));
  struct Case {
    std::string asked;
    const FileBlockToSend* expected;
    bool compressed;
  };
  for (const Case& c : {Case{checksumFor(1), &packed, true}, Case{checksumFor(2), &plain, false},
                        Case{checksumFor(1) + ".pvzip", &packed, true}}) {
    SCOPED_TRACE(c.asked);
    Bytes stream;
    bool compressed = !c.compressed;
    bool offline = false;
    ASSERT_TRUE(server_->downloadDataBlock(c.asked, "70000", stream, compressed, offline));
    EXPECT_EQ(stream, c.expected->body());
    EXPECT_EQ(compressed, c.compressed);
  }
}

struct OutageCase {
  std::string fault;  // empty: the service is stopped
  std::string kind;
};

void PrintTo(const OutageCase& c, std::ostream* os) { *os << (c.fault.empty() ? "service stopped" : c.fault); }

class BlockOutageTest : public BlocksIntegrationTest, public ::testing::WithParamInterface<OutageCase> {};

TEST_P(BlockOutageTest, SetsTheOfflineBreakAfterOneAttempt) {
  ASSERT_TRUE(upload({record(1, 5000)}));
  size_t before = sent(GetParam().kind).size();
  if (GetParam().fault.empty()) {
    service_.stop();
  } else {
    service_.addFault(GetParam().fault);
  }
  bool offline = false;
  bool ok = true;
  if (GetParam().kind == "get_block") {
    Bytes stream;
    bool compressed = false;
    ok = server_->downloadDataBlock(checksumFor(1), "5000", stream, compressed, offline);
  } else {
    ok = server_->uploadDataBlockList({record(2, 5000)}, offline);
  }
  EXPECT_FALSE(ok);
  EXPECT_TRUE(offline);
  if (!GetParam().fault.empty()) {
    // One attempt of the client; libcurl itself may try a dead reused
    // connection once more on a fresh one.
    size_t count = GetParam().fault.find(":2") != std::string::npos ? 2u : 1u;
    EXPECT_GE(sent(GetParam().kind).size(), before + 1);
    EXPECT_LE(sent(GetParam().kind).size(), before + count);
    service_.clearFaults();
    // Nothing broke: the next request goes through.
    offline = true;
    EXPECT_TRUE(server_->uploadDataBlockList({record(3, 5000)}, offline));
    EXPECT_FALSE(offline);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, BlockOutageTest,
                         ::testing::Values(OutageCase{"upload_blocks_multi:503", "upload_blocks_multi"},
                                           OutageCase{"upload_blocks_multi:drop:2", "upload_blocks_multi"},
                                           OutageCase{"upload_blocks_multi:reset:2", "upload_blocks_multi"},
                                           OutageCase{"get_block:503", "get_block"},
                                           OutageCase{"get_block:drop:2", "get_block"},
                                           OutageCase{"", "upload_blocks_multi"}, OutageCase{"", "get_block"}));

TEST_F(BlocksIntegrationTest, ASingleBlockUploadOfSixMegabytesSendsNoExpectHeader) {
  ASSERT_TRUE(server_->syncAuthorise());
  Bytes body = randomBytes(6000000, 5);
  bool offline = false;
  ASSERT_TRUE(server_->uploadDataBlockStream(body, checksumFor(5), "6000000", offline));
  auto uploads = sent("upload_block");
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_FALSE(uploads[0]["headers"].contains("Expect"));
  EXPECT_EQ(service_.block(checksumFor(5))["size"], 6000000);
  // No block the client makes is that large: a reply of that size is
  // refused (a failed attempt, not an outage) instead of being held.
  Bytes stream;
  bool compressed = true;
  EXPECT_FALSE(server_->downloadDataBlock(checksumFor(5), "6000000", stream, compressed, offline));
  EXPECT_FALSE(offline);
  EXPECT_TRUE(stream.empty());
  EXPECT_EQ(sent("get_block").size(), static_cast<size_t>(CommunicationServer::kMaxAttempts));
}

}  // namespace
}  // namespace palvero::testing
