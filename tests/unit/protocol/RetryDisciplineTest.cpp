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

TEST_F(VersionDownloadTest, NotFoundFailsAfterOneRequestWithoutOfflineBreak) {
  transport_->push(reply(404, "no such version"));
  bool offline = true;
  EXPECT_FALSE(fetch(offline));
  EXPECT_FALSE(offline);
  EXPECT_EQ(transport_->count(), 1u);
  EXPECT_TRUE(logLinesStartingWith("GetFileVersionBin FAIL").empty());
}

TEST_F(VersionDownloadTest, SuccessDeliversTheBodyWhateverItSays) {
  transport_->push(reply(500, ""));
  transport_->push(reply(200, std::string("\0binary", 7)));
  bool offline = false;
  EXPECT_TRUE(fetch(offline));
  EXPECT_EQ(stringFromBytes(stream_), std::string("\0binary", 7));
  // No wait after a 500 (nor before the first attempt: the instance made
  // no request before it, so the pacing asks for nothing).
  EXPECT_EQ(clock_->totalSlept(), Clock::Duration::zero());
}

TEST_F(VersionDownloadTest, BadGatewayWaitsOneSecondPerAttempt) {
  transport_->pushMany(2, reply(502, ""));
  transport_->push(reply(200, "v"));
  bool offline = false;
  EXPECT_TRUE(fetch(offline));
  EXPECT_EQ(clock_->totalSlept(), std::chrono::milliseconds(2000));
}

TEST_F(VersionDownloadTest, UnavailableSetsTheOfflineBreakAtOnce) {
  transport_->push(reply(503, ""));
  bool offline = false;
  EXPECT_FALSE(fetch(offline));
  EXPECT_TRUE(offline);
  EXPECT_EQ(transport_->count(), 1u);
}

TEST_F(VersionDownloadTest, AFailureAfterAnOutageClearsTheOfflineBreak) {
  transport_->pushMany(5, reply(500, ""));
  bool offline = true;
  EXPECT_FALSE(fetch(offline));
  EXPECT_FALSE(offline);
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

TEST_F(VersionDownloadTest, AFailedRenewalFailsTheRequest) {
  transport_->push(reply(401, ""));
  transport_->push(reply(200, "wrongpas"));
  bool offline = false;
  EXPECT_FALSE(fetch(offline));
  EXPECT_EQ(transport_->count(), 2u);
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

TEST(NetworkErrorManagerTest, HoldsExactlyTheTenOutageCodes) {
  auto& manager = NetworkErrorManager::sharedErrorManager();
  EXPECT_EQ(manager.networkErrorCodes(),
            (std::vector<int>{-1004, -1005, -1006, -1008, -1009, -1011, -1018, -1019, -1100, -1102}));
  for (int code : {0, -1, -999, -1001, -1003, -1200, -1202, 404}) EXPECT_FALSE(manager.isNetworkAlive(code)) << code;
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
