#include <algorithm>
#include <atomic>
#include <thread>

#include "ProtocolTestSupport.h"
#include "engine/format/Compressor.h"
#include "engine/format/Security.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

FileBlock block(const std::string& checksum, int64_t length, int64_t offset) {
  FileBlock b;
  b.checksum = checksum;
  b.smallChecksum = "MD5-" + checksum;
  b.length = length;
  b.offset = offset;
  b.position = offset / 1000;
  b.FirstCheckInt = static_cast<int32_t>(length + 1);
  b.LastCheckInt = static_cast<int32_t>(length + 2);
  return b;
}

std::vector<std::string> uncached(const std::vector<std::string>& checksums) {
  return DBManager::sharedDBManager().checkBlocks(checksums);
}

// --- Block check ------------------------------------------------------------

TEST_F(ProtocolTest, MissingBlocksComeBackWithTheirDetailsAndTheRestIsCached) {
  transport_->push(reply(200, "[{\"size\": 400, \"checksum\": \"BB\"}, {\"size\": \"300\", \"checksum\": \"AA\"}]"));
  auto missing = server_->hasServerFileBlocks({block("AA", 300, 0), block("BB", 400, 300), block("CC", 500, 700)});
  ASSERT_TRUE(missing);
  ASSERT_EQ(missing->size(), 2u);
  const FileBlock& b = (*missing)[0];
  EXPECT_EQ(b.checksum, "BB");
  EXPECT_EQ(b.length, 400);
  EXPECT_EQ(b.offset, 300);
  EXPECT_EQ(b.position, 0);
  EXPECT_EQ(b.smallChecksum, "MD5-BB");
  EXPECT_EQ(b.FirstCheckInt, 401);
  EXPECT_EQ(b.LastCheckInt, 402);
  EXPECT_EQ((*missing)[1].checksum, "AA");
  EXPECT_EQ(uncached({"AA", "BB", "CC"}), (std::vector<std::string>{"AA", "BB"}));
}

TEST_F(ProtocolTest, TheLastGivenBlockOfAChecksumLendsItsDetails) {
  transport_->push(reply(200, "[{\"size\": 300, \"checksum\": \"AA\"}]"));
  auto missing = server_->hasServerFileBlocks({block("AA", 300, 0), block("AA", 300, 9000)});
  ASSERT_TRUE(missing);
  ASSERT_EQ(missing->size(), 1u);
  EXPECT_EQ((*missing)[0].offset, 9000);
}

TEST_F(ProtocolTest, AnUnusableCheckReplyReturnsNothingAndCachesNothing) {
  for (const auto& answer : {reply(200, "<html>oops"), reply(200, "{}"), reply(200, "[{\"size\": 1}]"),
                             reply(200, "[\"AA\"]"), reply(500, "down"), reply(503, "")}) {
    SCOPED_TRACE(describe(answer));
    startOver();
    server_->setCookies({{"PVSESSID", "S7"}});
    transport_->push(answer);
    transport_->setFallback([](const SentRequest&) { return reply(200, "[]"); });
    size_t before = logLinesStartingWith("hasServerFileBlocks FAIL").size();
    EXPECT_FALSE(server_->hasServerFileBlocks({block("AA", 300, 0), block("BB", 400, 300)}));
    EXPECT_EQ(transport_->count(), 1u);
    EXPECT_EQ(uncached({"AA", "BB"}).size(), 2u);
    auto lines = logLinesStartingWith("hasServerFileBlocks FAIL");
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back(), "hasServerFileBlocks FAIL. Response: " + answer.body + ". Error: (null). Session=S7");
  }
}

TEST_F(ProtocolTest, CheckRenewsOn401AndOnNoAnswer) {
  transport_->push(reply(401, ""));
  transport_->push(authOk());
  transport_->push(transportError(-1001));
  transport_->push(authOk());
  transport_->push(reply(200, "[]"));
  auto missing = server_->hasServerFileBlocks({block("AA", 300, 0)});
  ASSERT_TRUE(missing);
  EXPECT_EQ(transport_->kinds(),
            (std::vector<std::string>{"check_block", "auth", "check_block", "auth", "check_block"}));
}

TEST_F(ProtocolTest, CheckWithoutNetworkReturnsNothing) {
  transport_->setFallback([](const SentRequest&) { return transportError(-1009); });
  EXPECT_FALSE(server_->hasServerFileBlocks({block("AA", 300, 0)}));
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"check_block", "auth"}));
}

// --- Batched upload ---------------------------------------------------------

FileBlockToSend record(const std::string& name, size_t bodySize, char fill = 'x') {
  return FileBlockToSend(Bytes(bodySize, static_cast<uint8_t>(fill)), name, static_cast<int64_t>(bodySize));
}

// The storage names of each batch the transport received, read from the
// "blocks" field of each body.
std::vector<std::vector<std::string>> batchesSent(const ScriptedTransport& transport) {
  std::vector<std::vector<std::string>> out;
  for (const auto& sent : transport.sent()) {
    std::vector<std::string> names;
    for (const auto& part : parseMultipart(sent.body, boundaryOf(sent))) {
      if (part.isFile) names.push_back(part.filename);
    }
    out.push_back(names);
  }
  return out;
}

std::vector<std::string> names(int from, int to) {
  std::vector<std::string> out;
  for (int i = from; i < to; ++i) out.push_back("R" + std::to_string(i));
  return out;
}

using BatchSplitTest = ProtocolTest;

TEST_F(BatchSplitTest, CutsTheListIntoBatches) {
  struct Case {
    std::string name;
    std::vector<size_t> sizes;       // body sizes of the records, named R0, R1, ...
    std::vector<size_t> duplicates;  // indexes repeated at the end of the list
    std::vector<std::vector<std::string>> expected;
  };
  const std::vector<Case> cases = {
      {"empty", {}, {}, {}},
      {"one", {100}, {}, {names(0, 1)}},
      {"ten", std::vector<size_t>(10, 100), {}, {names(0, 10)}},
      {"eleven", std::vector<size_t>(11, 100), {}, {names(0, 10), names(10, 11)}},
      {"twelve", std::vector<size_t>(12, 100), {}, {names(0, 10), names(10, 12)}},
      {"twenty-one", std::vector<size_t>(21, 100), {}, {names(0, 10), names(10, 20), names(20, 21)}},
      // The last record may take its batch over the byte budget.
      {"last overflows", {1500000, 1500000, 1500000}, {}, {names(0, 3)}},
      {"budget splits", {1500000, 1500000, 1500000, 1500000}, {}, {names(0, 2), names(2, 4)}},
      // A record as large as the budget goes alone, with no empty batch before it.
      {"huge first", {4100000, 100, 100}, {}, {names(0, 1), names(1, 3)}},
      // Duplicates are sent once.
      {"duplicates", {100, 100, 100}, {0, 2, 1}, {names(0, 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startOver();
    transport_->setFallback([](const SentRequest&) { return reply(200, "ok"); });
    std::vector<FileBlockToSend> list;
    for (size_t i = 0; i < c.sizes.size(); ++i) list.push_back(record("R" + std::to_string(i), c.sizes[i]));
    for (size_t i : c.duplicates) list.push_back(record("R" + std::to_string(i), c.sizes[i]));
    bool offline = false;
    EXPECT_TRUE(server_->uploadDataBlockList(list, offline));
    // Batches travel two at a time, so they may arrive in either order.
    auto sent = batchesSent(*transport_);
    auto expected = c.expected;
    std::sort(sent.begin(), sent.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sent, expected);
    auto planned = CommunicationServer::planBatches(list);
    ASSERT_TRUE(planned);
    std::vector<std::vector<std::string>> plan;
    for (const auto& batch : *planned) {
      plan.emplace_back();
      for (const auto* one : batch) plan.back().push_back(one->checksum());
    }
    EXPECT_EQ(plan, c.expected);
  }
}

// A transport that refuses (500) every batch holding the block `failing`.
void refuseBatchesWith(ScriptedTransport& transport, const std::string& failing, HttpResponse refusal) {
  transport.setFallback([failing, refusal](const SentRequest& sent) {
    return sent.body.find("filename=\"" + failing + "\"") != std::string::npos ? refusal : reply(200, "ok");
  });
}

std::vector<FileBlockToSend> records(int count) {
  std::vector<FileBlockToSend> list;
  for (int i = 0; i < count; ++i) list.push_back(record("R" + std::to_string(i), 10));
  return list;
}

TEST_F(ProtocolTest, AFailedBatchStopsTheListAfterTheBatchAlreadyUnderWay) {
  refuseBatchesWith(*transport_, "R0", reply(500, ""));
  bool offline = true;
  EXPECT_FALSE(server_->uploadDataBlockList(records(25), offline));
  EXPECT_FALSE(offline);
  // Five attempts of the first batch, the second batch (already sent with
  // it), and no third batch.
  auto batches = batchesSent(*transport_);
  EXPECT_EQ(batches.size(), 6u);
  EXPECT_EQ(std::count(batches.begin(), batches.end(), names(10, 20)), 1);
  EXPECT_EQ(std::count(batches.begin(), batches.end(), names(20, 25)), 0);
  EXPECT_EQ(logLinesStartingWith("uploadDataBlockList FAIL on attempt").size(), 5u);
}

TEST_F(ProtocolTest, AnOutageInAnyBatchRaisesTheOfflineBreak) {
  refuseBatchesWith(*transport_, "R12", transportError(-1009));
  bool offline = false;
  EXPECT_FALSE(server_->uploadDataBlockList(records(25), offline));
  EXPECT_TRUE(offline);
}

TEST_F(ProtocolTest, TwoBatchesAreUnderWayAtOnce) {
  // The first request is held until a second one arrives (or a few seconds
  // pass, which fails the test instead of hanging it).
  auto arrived = std::make_shared<std::atomic<int>>(0);
  transport_->setFallback([arrived](const SentRequest&) {
    ++*arrived;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (arrived->load() < 2 && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return arrived->load() >= 2 ? reply(200, "ok") : reply(500, "alone");
  });
  bool offline = false;
  EXPECT_TRUE(server_->uploadDataBlockList(records(20), offline));
  EXPECT_EQ(transport_->count(), 2u);
}

TEST_F(ProtocolTest, OneBatchAtATimeWhenAsked) {
  server_->setBatchesInFlight(1);
  transport_->pushMany(5, reply(500, ""));
  transport_->setFallback([](const SentRequest&) { return reply(200, "ok"); });
  bool offline = false;
  EXPECT_FALSE(server_->uploadDataBlockList(records(25), offline));
  EXPECT_EQ(batchesSent(*transport_), std::vector<std::vector<std::string>>(5, names(0, 10)));
}

TEST_F(ProtocolTest, ANamelessRecordFailsTheListBeforeAnythingIsSent) {
  auto list = records(25);
  list.push_back(record("", 10));
  transport_->setFallback([](const SentRequest&) { return reply(200, "ok"); });
  bool offline = false;
  EXPECT_FALSE(server_->uploadDataBlockList(list, offline));
  EXPECT_EQ(transport_->count(), 0u);
  EXPECT_FALSE(CommunicationServer::planBatches(list));
}

using BatchRetryTest = ProtocolTest;

TEST_F(BatchRetryTest, FollowsTheRetryRules) {
  struct Case {
    std::vector<HttpResponse> replies;
    bool result;
    bool offline;
    std::vector<std::string> kinds;
    std::chrono::seconds slept;
  };
  const std::string multi = "upload_blocks_multi";
  const std::vector<HttpResponse> fiveRefusals(5, reply(413, ""));
  for (const Case& c :
       {Case{{reply(200, "ok")}, true, false, {multi}, std::chrono::seconds(0)},
        Case{{transportError(-1005)}, false, true, {multi}, std::chrono::seconds(0)},
        Case{{reply(503, "")}, false, true, {multi}, std::chrono::seconds(0)},
        Case{{reply(502, ""), reply(200, "ok")}, true, false, {multi, multi}, std::chrono::seconds(1)},
        Case{{reply(200, "stored 0"), reply(200, "ok")}, true, false, {multi, multi}, std::chrono::seconds(1)},
        Case{
            {reply(401, ""), authOk(), reply(200, "ok")}, true, false, {multi, "auth", multi}, std::chrono::seconds(0)},
        Case{{transportError(-1001), authOk(), reply(200, "ok")},
             true,
             false,
             {multi, "auth", multi},
             std::chrono::seconds(0)},
        Case{{reply(401, ""), reply(200, "wrongpas")}, false, false, {multi, "auth"}, std::chrono::seconds(0)},
        Case{fiveRefusals, false, false, std::vector<std::string>(5, multi), std::chrono::seconds(0)}}) {
    SCOPED_TRACE(describe(c.replies));
    startOver();
    for (const auto& r : c.replies) transport_->push(r);
    std::vector<FileBlockToSend> batch = {record("R0", 10)};
    bool offline = !c.offline;
    auto sleptBefore = clock_->totalSlept();
    EXPECT_EQ(server_->uploadBlocksList(batch, offline), c.result);
    EXPECT_EQ(offline, c.offline);
    EXPECT_EQ(transport_->kinds(), c.kinds);
    EXPECT_EQ(clock_->totalSlept() - sleptBefore, c.slept);
  }
}

TEST_F(ProtocolTest, ABatchAnsweredWithAnotherWordIsLoggedTwice) {
  server_->setCookies({{"PVSESSID", "S3"}});
  transport_->push(reply(200, "partial"));
  transport_->push(reply(200, "ok"));
  std::vector<FileBlockToSend> batch = {record("R0", 10)};
  bool offline = false;
  ASSERT_TRUE(server_->uploadBlocksList(batch, offline));
  EXPECT_EQ(logLinesStartingWith("uploadDataBlockList"),
            (std::vector<std::string>{"uploadDataBlockList with code 200, BUT body partial",
                                      "uploadDataBlockList FAIL on attempt 0. Response: partial. Session=S3"}));
}

// --- Single block upload ---------------------------------------------------

TEST_F(ProtocolTest, SingleBlockUploadFailureIsLogged) {
  transport_->push(reply(200, "no"));
  bool offline = false;
  EXPECT_FALSE(server_->uploadDataBlockStream(Bytes(10, 7), "CAFE", "10", offline));
  EXPECT_EQ(logLinesStartingWith("uploadDataBlockStream FAIL").size(), 1u);
}

}  // namespace
}  // namespace palvero::testing

namespace palvero::testing {
namespace {

// --- Reply limits ---------------------------------------------------------------

TEST(ReplyLimitTest, TheLargestBlockTravelsExactlyAtTheBlockReplyLimit) {
  // Random bytes do not shrink when packed, so the engine sends them plain.
  Bytes block(Compressor::kMaxBlockSize);
  uint64_t state = 88172645463325252ULL;
  for (auto& byte : block) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<uint8_t>(state);
  }
  Compressor compressor;
  Bytes packed;
  std::string error;
  int32_t type = 0;
  ASSERT_TRUE(compressor.CompressPackageStream(block, packed, "name", "Octet", error, type, "w0"));
  EXPECT_GT(packed.size(), block.size());
  Security security;
  ASSERT_TRUE(security.EncryptStream(block, "0123456789abcdef0123456789abcdef"));
  EXPECT_EQ(block.size(), CommunicationServer::kMaxBlockReplyBytes);
}

TEST_F(ProtocolTest, EachKindOfRequestAsksForItsOwnReplyLimit) {
  transport_->setFallback([](const SentRequest&) { return reply(404, "none"); });
  bool offline = false;
  bool compressed = false;
  Bytes stream;
  server_->downloadDataBlock("C", "1", stream, compressed, offline);
  server_->GetFileVersionBin("%2Fa", -1, stream, false, offline, std::nullopt);
  server_->getGetFilesList("/a", std::nullopt);
  server_->syncPing();
  std::map<std::string, size_t> limits;
  for (const auto& sent : transport_->sent()) {
    std::string kind = sent.body.substr(8, sent.body.find('&') - 8);
    limits[kind] = sent.maxResponseBytes;
  }
  EXPECT_EQ(limits["get_block"], CommunicationServer::kMaxBlockReplyBytes);
  EXPECT_EQ(limits["get_ver"], CommunicationServer::kMaxVersionReplyBytes);
  EXPECT_EQ(limits["get_files_list"], CommunicationServer::kMaxListingReplyBytes);
  EXPECT_EQ(limits["ping"], CommunicationServer::kMaxTextReplyBytes);
}

}  // namespace
}  // namespace palvero::testing
