#include "ProtocolTestSupport.h"

namespace palvero::testing {
namespace {

Bytes patterned(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * 131 + i / 977) & 0xFF);
  return out;
}

std::map<std::string, std::string> versionParams() {
  return {{"request", "upload_ver"},
          {"file_name", "/home/ann/r\xC3\xA9sum\xC3\xA9.txt"},
          {"size", "12"},
          {"modified", "20240131 17:05:09"},
          {"guid", "GUID-1"},
          {"cookie", "PVSESSID=S9"}};
}

// The part's file name is a quoted header value: a carriage return, a line
// feed or a quote in a path would end it; the text field keeps the path whole.
TEST_F(ProtocolTest, AFileNameCannotBreakThePartHeader) {
  transport_->push(reply(200, "ok"));
  bool offline = false;
  const std::string path = "/home/ann/Icon\r \"q\".txt";
  ASSERT_TRUE(server_->sendFilePostHTTP(path, {{"file_name", path}}, bytesFromString("v"), false, offline));
  const auto sent = transport_->sent()[0];
  auto parts = parseMultipart(sent.body, boundaryOf(sent));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].content, path);
  EXPECT_EQ(parts[1].filename, "/home/ann/Icon%0D %22q%22.txt");
  EXPECT_EQ(parts[1].content, "v");
}

TEST_F(ProtocolTest, AnEmptyUploadSendsNothingAndSucceeds) {
  bool offline = true;
  EXPECT_TRUE(server_->sendFilePostHTTP("f", versionParams(), {}, true, offline));
  EXPECT_EQ(transport_->count(), 0u);
}

TEST_F(ProtocolTest, WithoutTheMultipartFlagABigFileGoesInOneRequest) {
  transport_->push(reply(200, "ok"));
  bool offline = false;
  ASSERT_TRUE(server_->sendFilePostHTTP("f", {}, patterned(5000001), false, offline));
  EXPECT_EQ(transport_->count(), 1u);
}

TEST_F(ProtocolTest, OkToAnEarlyPartEndsTheSplitUpload) {
  transport_->push(reply(200, "ok"));
  bool offline = false;
  EXPECT_TRUE(server_->sendFilePostHTTP("f", versionParams(), patterned(12000000), true, offline));
  EXPECT_EQ(transport_->count(), 1u);
}

TEST_F(ProtocolTest, SplitUploadWithoutOkIsAFailure) {
  transport_->pushMany(3, reply(200, "part"));
  bool offline = false;
  EXPECT_FALSE(server_->sendFilePostHTTP("f", versionParams(), patterned(12000000), true, offline));
  EXPECT_EQ(transport_->count(), 3u);
}

TEST_F(ProtocolTest, APartRefusedFiveTimesStopsTheUploadInsteadOfLeavingAHole) {
  transport_->push(reply(200, "part"));
  transport_->pushMany(5, reply(500, "disk full"));
  transport_->setFallback([](const SentRequest&) { return reply(200, "ok"); });
  bool offline = false;
  EXPECT_FALSE(server_->sendFilePostHTTP("f", versionParams(), patterned(12000000), true, offline));
  EXPECT_EQ(transport_->count(), 6u);
  EXPECT_FALSE(offline);
  EXPECT_EQ(logLinesStartingWith("sendFilePostHTTP FAIL").size(), 1u);
}

TEST_F(ProtocolTest, ARetriedPartIsSentAgainWithTheSameBytes) {
  transport_->push(reply(200, "part"));
  transport_->push(reply(500, "busy"));
  transport_->push(transportError(-1001));
  transport_->push(reply(200, "part"));
  transport_->push(reply(200, "ok"));
  bool offline = false;
  Bytes file = patterned(12000000);
  ASSERT_TRUE(server_->sendFilePostHTTP("f", versionParams(), file, true, offline));
  auto sent = transport_->sent();
  ASSERT_EQ(sent.size(), 5u);
  auto second = parseMultipart(sent[1].body, boundaryOf(sent[1])).back().content;
  for (int i = 2; i < 4; ++i) EXPECT_EQ(parseMultipart(sent[i].body, boundaryOf(sent[i])).back().content, second);
  EXPECT_EQ(second, stringFromBytes(Bytes(file.begin() + 5000000, file.begin() + 10000000)));
}

TEST_F(ProtocolTest, ASingleSendFollowsTheRetryRules) {
  struct Case {
    std::vector<HttpResponse> replies;
    bool result;
    bool offline;
    size_t requests;
    int sleptSeconds;
  };
  for (const Case& c : {// Outage: offline break at once.
                        Case{{transportError(-1009)}, false, true, 1, 0}, Case{{reply(503, "")}, false, true, 1, 0},
                        // 200 with another body: refused at once.
                        Case{{reply(200, "error")}, false, false, 1, 0},
                        // Five failed attempts.
                        Case{std::vector<HttpResponse>(5, reply(500, "")), false, false, 5, 0},
                        // 502 is retried after a second.
                        Case{{reply(502, ""), reply(200, "ok")}, true, false, 2, 1},
                        // No answer that is not an outage: a renewal, then another attempt.
                        Case{{transportError(-1001), authOk(), reply(200, "ok")}, true, false, 3, 0},
                        // 401: renewal and a fresh call.
                        Case{{reply(401, ""), authOk(), reply(200, "ok")}, true, false, 3, 0},
                        Case{{reply(401, ""), reply(200, "wrongpas")}, false, false, 2, 0}}) {
    SCOPED_TRACE(describe(c.replies));
    startOver();
    for (const auto& r : c.replies) transport_->push(r);
    const auto sleptBefore = clock_->totalSlept();
    bool offline = !c.offline;
    EXPECT_EQ(server_->sendFilePostHTTP("f", versionParams(), bytesFromString("data"), true, offline), c.result);
    EXPECT_EQ(offline, c.offline);
    EXPECT_EQ(transport_->count(), c.requests);
    EXPECT_EQ(clock_->totalSlept() - sleptBefore, std::chrono::seconds(c.sleptSeconds));
  }
}

}  // namespace
}  // namespace palvero::testing
