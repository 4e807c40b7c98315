#include "ServiceFixture.h"

namespace palvero::testing {
namespace {

std::string checksumFor(int i) {
  char text[65];
  std::snprintf(text, sizeof text, "%064X", i + 0xB10C);
  return text;
}

class BlocksIntegrationTest : public ServiceFixture {
 protected:
  FileBlockToSend record(int i, size_t size) {
    return FileBlockToSend(randomBytes(size, static_cast<uint64_t>(i)), checksumFor(i), static_cast<int64_t>(size));
  }
  bool upload(const std::vector<FileBlockToSend>& list) {
    bool offline = false;
    return server_->uploadDataBlockList(list, offline);
  }
};

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
    EXPECT_GE(sent(GetParam().kind).size(), before + 1);
    EXPECT_LE(sent(GetParam().kind).size(), before + 2);
    service_.clearFaults();
    // Nothing broke: the next request goes through.
    offline = true;
    EXPECT_TRUE(server_->uploadDataBlockList({record(3, 5000)}, offline));
    EXPECT_FALSE(offline);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, BlockOutageTest,
                         ::testing::Values(OutageCase{"upload_blocks_multi:drop:2", "upload_blocks_multi"},
                                           OutageCase{"upload_blocks_multi:reset:2", "upload_blocks_multi"},
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
