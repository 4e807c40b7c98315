#include "ProtocolTestSupport.h"
#include "protocol/NetworkErrorManager.h"

namespace palvero::testing {
namespace {

class VersionDownloadTest : public ProtocolTest {
 protected:
  bool fetch(bool& offline, const std::optional<std::string>& device = std::nullopt) {
    stream_.clear();
    return server_->GetFileVersionBin("%2Fhome%2Fa.txt", -1, stream_, true, offline, device);
  }
  Bytes stream_;
};

TEST_F(VersionDownloadTest, FollowsTheRetryRules) {
  struct Case {
    std::vector<HttpResponse> replies;
    bool result;
    bool offline;
    size_t requests;
    std::chrono::milliseconds slept;
    size_t failLines;
  };
  const std::string binary("\0binary", 7);
  for (const Case& c :
       {// Not found: no retry, no fail line, no offline break.
        Case{{reply(404, "no such version")}, false, false, 1, std::chrono::milliseconds(0), 0},
        // A 500 is retried at once; the body is delivered whatever it says.
        Case{{reply(500, ""), reply(200, binary)}, true, false, 2, std::chrono::milliseconds(0), 1},
        Case{{reply(502, ""), reply(502, ""), reply(200, "v")}, true, false, 3, std::chrono::milliseconds(2000), 2},
        Case{{reply(503, "")}, false, true, 1, std::chrono::milliseconds(0), 0},
        Case{std::vector<HttpResponse>(5, reply(500, "down")), false, false, 5, std::chrono::milliseconds(0), 5},
        Case{{reply(401, ""), reply(200, "wrongpas")}, false, false, 2, std::chrono::milliseconds(0), 0}}) {
    SCOPED_TRACE(describe(c.replies));
    startOver();
    for (const auto& r : c.replies) transport_->push(r);
    const size_t linesBefore = logLinesStartingWith("GetFileVersionBin FAIL").size();
    const auto sleptBefore = clock_->totalSlept();
    bool offline = !c.offline;
    EXPECT_EQ(fetch(offline), c.result);
    EXPECT_EQ(offline, c.offline);
    EXPECT_EQ(transport_->count(), c.requests);
    EXPECT_EQ(clock_->totalSlept() - sleptBefore, c.slept);
    auto lines = logLinesStartingWith("GetFileVersionBin FAIL");
    ASSERT_EQ(lines.size() - linesBefore, c.failLines);
    if (c.result) {
      EXPECT_EQ(stringFromBytes(stream_), c.replies.back().body);
    }
    if (c.failLines == 5) {
      EXPECT_EQ(lines.back(),
                "GetFileVersionBin FAIL on attempt 4. File: %2Fhome%2Fa.txt. Response: down with status code: 500");
    }
  }
}

TEST_F(VersionDownloadTest, RenewsTheSessionOn401AndRunsAgain) {
  transport_->push(reply(401, ""));
  transport_->push(authOk("S2"));
  transport_->push(reply(200, "v"));
  bool offline = false;
  EXPECT_TRUE(fetch(offline));
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"get_ver", "auth", "get_ver"}));
  EXPECT_EQ(transport_->sent()[2].header("Cookie"), "PVSESSID=S2");
}

TEST_F(VersionDownloadTest, A401AfterEveryRenewalGivesUpInsteadOfLoopingForever) {
  transport_->setFallback(
      [](const SentRequest& sent) { return sent.body.rfind("request=auth", 0) == 0 ? authOk() : reply(401, ""); });
  bool offline = false;
  EXPECT_FALSE(fetch(offline));
  size_t tries = CommunicationServer::kMaxNestedRenewals + 1;
  EXPECT_EQ(transport_->count(), 2 * tries);
  EXPECT_EQ(logLinesStartingWith("GetFileVersionBin FAIL. The service refused the session again").size(), 1u);
}

TEST_F(VersionDownloadTest, AsksAnotherDeviceOnlyForARealIdentifier) {
  const std::string own = "request=get_ver&guid=GUID-1&file=%2Fa&version=3&undelete=0";
  for (const auto& [device, body] : std::vector<std::pair<std::optional<std::string>, std::string>>{
           {std::nullopt, own}, {"", own}, {"(null)", own}, {"null", own}, {"DEV-9", own + "&sourceDeviceId=DEV-9"}}) {
    SCOPED_TRACE(device.value_or("none"));
    transport_->push(reply(200, "v"));
    bool offline = false;
    ASSERT_TRUE(server_->GetFileVersionBin("%2Fa", 3, stream_, false, offline, device));
    EXPECT_EQ(transport_->sent().back().body, body);
  }
}

TEST_F(VersionDownloadTest, EveryOutageCodeSetsTheOfflineBreakAfterOneAttempt) {
  for (int code : NetworkErrorManager::sharedErrorManager().networkErrorCodes()) {
    SCOPED_TRACE(code);
    startOver();
    transport_->push(transportError(code));
    bool offline = false;
    EXPECT_FALSE(fetch(offline));
    EXPECT_TRUE(offline);
    EXPECT_EQ(transport_->count(), 1u);
  }
}

// --- Block download ---------------------------------------------------------

class BlockDownloadTest : public ProtocolTest {
 protected:
  bool download(bool& offline) {
    stream_.clear();
    compressed_ = false;
    return server_->downloadDataBlock("ABC", "256000", stream_, compressed_, offline);
  }
  Bytes stream_;
  bool compressed_ = false;
};

TEST_F(BlockDownloadTest, TooManyRequestsIsRepeatedEveryFiveSecondsWithoutCounting) {
  transport_->pushMany(7, reply(429, "slow down"));
  transport_->push(reply(200, "block"));
  bool offline = false;
  EXPECT_TRUE(download(offline));
  EXPECT_EQ(transport_->count(), 8u);
  EXPECT_EQ(clock_->totalSlept(), std::chrono::seconds(35));
  EXPECT_EQ(logLinesStartingWith("Too many requests!").size(), 7u);
  EXPECT_EQ(transport_->sent()[0].body, "request=get_block&guid=GUID-1&checksum=ABC&size=256000");
}

TEST_F(BlockDownloadTest, EachFailedAttemptLogsAndWaitsASecondAndA502TwoSeconds) {
  transport_->push(reply(500, "e1"));
  transport_->push(reply(502, "e2"));
  transport_->push(reply(200, "block"));
  bool offline = false;
  EXPECT_TRUE(download(offline));
  EXPECT_EQ(clock_->totalSlept(), std::chrono::seconds(3));
  EXPECT_EQ(
      logLinesStartingWith("downloadDataBlock FAIL"),
      (std::vector<std::string>{
          "downloadDataBlock FAIL at attempt 0. Checksum: ABC with size: 256000 Response: e1 with status code: 500",
          "downloadDataBlock FAIL at attempt 1. Checksum: ABC with size: 256000 Response: e2 with status code: "
          "502"}));
}

TEST_F(BlockDownloadTest, GivesUpAfterFiveFailedAttempts) {
  transport_->pushMany(5, reply(404, "gone"));
  transport_->setFallback([](const SentRequest&) { return reply(200, "late"); });
  bool offline = false;
  EXPECT_FALSE(download(offline));
  EXPECT_EQ(transport_->count(), 5u);
  EXPECT_EQ(clock_->totalSlept(), std::chrono::seconds(4));
}

TEST_F(BlockDownloadTest, CompressedOnlyForZippedTrue) {
  struct Case {
    HttpHeaders headers;
    bool compressed;
  };
  for (const Case& c :
       {Case{{{"Zipped", "True"}}, true}, Case{{{"zipped", "True"}}, true}, Case{{}, false},
        Case{{{"Zipped", "true"}}, false}, Case{{{"Zipped", "False"}}, false}, Case{{{"Zipped", ""}}, false}}) {
    SCOPED_TRACE(c.headers.empty() ? "no header" : c.headers[0].first + ": " + c.headers[0].second);
    transport_->push(reply(200, "bytes", c.headers));
    bool offline = false;
    ASSERT_TRUE(download(offline));
    EXPECT_EQ(compressed_, c.compressed);
    EXPECT_EQ(stringFromBytes(stream_), "bytes");
  }
}

}  // namespace
}  // namespace palvero::testing
