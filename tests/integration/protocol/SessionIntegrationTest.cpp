#include "ServiceFixture.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "platform/Env.h"
#include "state/LocalSettings.h"

namespace palvero::testing {
namespace {

using SessionIntegrationTest = ServiceFixture;

TEST_F(SessionIntegrationTest, AuthoriseOpensASessionWithoutOfferingAnOldOne) {
  server_->setCookies({{"PVSESSID", "stale"}});
  ASSERT_TRUE(server_->syncAuthorise());
  auto cookies = server_->cookies();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].name, "PVSESSID");
  EXPECT_NE(cookies[0].value, "stale");
  auto auth = sent("auth");
  ASSERT_EQ(auth.size(), 1u);
  EXPECT_EQ(auth[0]["fields"]["guid"], device_.clientId);
  // The Cookie header goes out empty, which the service's HTTP library does
  // not even record; what matters is that the stale session is not offered.
  EXPECT_EQ(auth[0]["headers"].value("Cookie", std::string()), "");
  EXPECT_EQ(auth[0]["headers"]["User-Agent"], "Palvero OS X Client / " + Env::applicationVersion());
}

TEST_F(SessionIntegrationTest, ASessionThatExpiresInTheMiddleOfABackupIsRenewed) {
  ASSERT_TRUE(server_->syncAuthorise());
  bool offline = false;
  std::vector<FileBlockToSend> first = {FileBlockToSend(randomBytes(5000, 1), std::string(64, 'A'), 5000)};
  ASSERT_TRUE(server_->uploadDataBlockList(first, offline));
  service_.expireSessions();
  std::vector<FileBlockToSend> second = {FileBlockToSend(randomBytes(5000, 2), std::string(64, 'B'), 5000)};
  ASSERT_TRUE(server_->uploadDataBlockList(second, offline));
  EXPECT_EQ(kinds(), (std::vector<std::string>{"auth", "upload_blocks_multi", "upload_blocks_multi", "auth",
                                               "upload_blocks_multi"}));
  EXPECT_EQ(sent("upload_blocks_multi")[1]["status"], 401);
  EXPECT_TRUE(service_.block(std::string(64, 'B'))["held"].get<bool>());
}

TEST_F(SessionIntegrationTest, FormRequestsCarryTheSessionCookie) {
  ASSERT_TRUE(server_->syncAuthorise());
  std::string session = server_->cookies().back().value;
  EXPECT_TRUE(server_->syncDeleteVerFile(encoded("/nothing/here"), 0, std::nullopt, false));
  auto deletes = sent("delete");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0]["headers"]["Cookie"], "PVSESSID=" + session);
  EXPECT_EQ(deletes[0]["fields"]["path"], "/nothing/here");
}

// --- Ping -------------------------------------------------------------------

class PingIntegrationTest : public ServiceFixture {
 protected:
  // The elapsed time must be real for the slow-connection threshold.
  void SetUp() override {
    ServiceFixture::SetUp();
    Clock::setCurrent(nullptr);
  }
};

TEST_F(PingIntegrationTest, AnotherReplyOrNoServiceIsOffline) {
  service_.addFault("ping:malformed");
  EXPECT_EQ(server_->syncPing(), CommunicationServer::kConnectionOffline);
  service_.addFault("ping:503");
  EXPECT_EQ(server_->syncPing(), CommunicationServer::kConnectionOffline);
  // libcurl retries once on a fresh connection when a reused one dies
  // without an answer, so two drops in a row make an outage.
  service_.addFault("ping:drop:2");
  EXPECT_EQ(server_->syncPing(), CommunicationServer::kConnectionOffline);
  service_.stop();
  EXPECT_EQ(server_->syncPing(), CommunicationServer::kConnectionOffline);
  EXPECT_EQ(logLinesStartingWith("Offline: ").size(), 4u);
}

// --- Timeouts ------------------------------------------------------------------

TEST_F(SessionIntegrationTest, ATimeoutIsAFailedAttemptNotAnOutage) {
  ASSERT_TRUE(server_->syncAuthorise());
  server_->setRequestTimeout(std::chrono::milliseconds(200));
  service_.addFault("get_ver:delay=450:always");
  Bytes stream;
  bool offline = true;
  EXPECT_FALSE(server_->GetFileVersionBin(encoded("/a"), -1, stream, true, offline, std::nullopt));
  EXPECT_FALSE(offline);
  EXPECT_EQ(logLinesStartingWith("GetFileVersionBin FAIL on attempt").size(), 5u);
}

// --- Status reports --------------------------------------------------------------

TEST_F(SessionIntegrationTest, StatusReportsAreDeliveredAsynchronously) {
  ASSERT_TRUE(server_->syncAuthorise());
  server_->sendStatus("backupinprogress", "3 files & 1 folder + more");
  server_->sendStatus("backupend", "OK");
  auto& loop = dynamic_cast<StdRunLoop&>(RunLoop::main());
  ASSERT_TRUE(loop.runUntil([this] { return service_.reports().size() == 2; }, std::chrono::seconds(20)));
  Value reports = service_.reports();
  std::vector<std::string> texts;
  for (const auto& r : reports)
    texts.push_back(r["fields"]["type"].get<std::string>() + "|" + r["fields"]["desc"].get<std::string>());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"backupend|OK", "backupinprogress|" + Env::applicationVersion() +
                                                                 ": 3 files & 1 folder + more"}));
  EXPECT_EQ(reports[0]["owner"], device_.clientId);
}

}  // namespace
}  // namespace palvero::testing
