#include <atomic>
#include <thread>

#include "ProtocolTestSupport.h"
#include "protocol/HTTPCookie.h"

namespace palvero::testing {
namespace {

// --- Cookies ---------------------------------------------------------------

TEST_F(ProtocolTest, FormRequestsSendOnlyTheLastCookie) {
  server_->setCookies({{"A", "1"}, {"B", "2"}});
  transport_->push(reply(200, "pong"));
  server_->syncPing();
  ASSERT_EQ(transport_->count(), 1u);
  EXPECT_EQ(transport_->sent()[0].header("Cookie"), "B=2");
}

TEST_F(ProtocolTest, SingleMultipartSendSendsOnlyTheFirstCookie) {
  server_->setCookies({{"A", "1"}, {"B", "2"}});
  transport_->push(reply(200, "ok"));
  bool offline = false;
  ASSERT_TRUE(server_->sendFilePostHTTP("f", {{"request", "upload_ver"}, {"cookie", "B=2"}}, bytesFromString("xy"),
                                        true, offline));
  EXPECT_EQ(transport_->sent()[0].header("Cookie"), "A=1");
}

TEST_F(ProtocolTest, OnlyASuccessfulReplyWithCookiesReplacesTheList) {
  const std::vector<HTTPCookie> old = {{"A", "1"}, {"B", "2"}};
  struct Case {
    HttpResponse answer;
    bool ok;
    std::vector<HTTPCookie> after;
  };
  for (const Case& c : {Case{reply(200, "version bytes"), true, old},
                        Case{reply(200, "v", {{"Set-Cookie", "C=3; Path=/"}, {"set-cookie", "D=4; HttpOnly"}}),
                             true,
                             {{"C", "3"}, {"D", "4"}}},
                        Case{reply(404, "none", {{"Set-Cookie", "C=3"}}), false, old}}) {
    SCOPED_TRACE(describe(c.answer));
    server_->setCookies(old);
    transport_->push(c.answer);
    Bytes stream;
    bool offline = false;
    EXPECT_EQ(server_->GetFileVersionBin("%2Fa", -1, stream, true, offline, std::nullopt), c.ok);
    EXPECT_EQ(server_->cookies(), c.after);
  }
}

TEST(CookieParseTest, ReadsSetCookieHeadersForTheServer) {
  struct Case {
    std::string header;
    std::vector<HTTPCookie> expected;
  };
  for (const Case& c : {Case{"S=abc", {{"S", "abc"}}}, Case{" S = abc ; Path=/; Secure", {{"S", "abc"}}},
                        Case{"S=a=b", {{"S", "a=b"}}}, Case{"S=", {{"S", ""}}},
                        Case{"S=1; Domain=backup.example.com", {{"S", "1"}}},
                        Case{"S=1; Domain=example.com", {{"S", "1"}}},
                        Case{"S=1; Domain=.backup.example.com", {{"S", "1"}}}, Case{"S=1; Domain=other.com", {}},
                        Case{"S=1; Domain=ample.com", {}}, Case{"noequals", {}}, Case{"=value", {}}}) {
    SCOPED_TRACE(c.header);
    HttpResponse response = reply(200, "ok", {{"Set-Cookie", c.header}});
    EXPECT_EQ(cookiesFromResponse(response, "https://backup.example.com:8443/server.php"), c.expected);
  }
}

// --- Session renewal -------------------------------------------------------

struct AuthCase {
  HttpResponse response;
  bool result;
  std::vector<std::string> notifications;
  bool failLine;
};

void PrintTo(const AuthCase& c, std::ostream* os) { *os << describe(c.response); }

class AuthoriseTest : public ProtocolTest, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(AuthoriseTest, ReportsTheReply) {
  const auto& c = GetParam();
  auto seen = watchNotifications({"WrongPassword", "AuthoriseFail"});
  server_->setCookies({{"OLD", "x"}});
  transport_->push(c.response);
  EXPECT_EQ(server_->syncAuthorise(), c.result);
  ASSERT_EQ(transport_->count(), 1u);
  const auto sent = transport_->sent()[0];
  EXPECT_EQ(sent.body, "request=auth&guid=GUID-1&password=PASS-1");
  // No old session is offered: the Cookie header is sent empty.
  EXPECT_EQ(sent.header("Cookie"), "");
  EXPECT_EQ(*seen, c.notifications);
  EXPECT_EQ(logLinesStartingWith("syncAuthorise FAIL").size(), c.failLine ? 1u : 0u);
  if (c.result) {
    EXPECT_EQ(server_->cookies(), (std::vector<HTTPCookie>{{"PVSESSID", "S1"}}));
  } else {
    EXPECT_EQ(server_->cookies(), (std::vector<HTTPCookie>{{"OLD", "x"}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, AuthoriseTest,
                         ::testing::Values(AuthCase{authOk(), true, {}, false},
                                           AuthCase{reply(200, "wrongpas"), false, {"WrongPassword"}, false},
                                           AuthCase{reply(200, "userblocked"), false, {}, true},
                                           AuthCase{reply(200, "maintenance"), false, {"AuthoriseFail"}, true},
                                           AuthCase{reply(403, "wrongpas"), false, {"WrongPassword"}, false},
                                           AuthCase{reply(403, "userblocked"), false, {}, true},
                                           AuthCase{reply(500, "oops"), false, {}, true},
                                           AuthCase{transportError(-1004), false, {}, true}));

TEST_F(ProtocolTest, NotificationsNameTheSendingInstance) {
  auto other = CommunicationServer::create(kURL, transport_);
  int heard = 0;
  NotificationCenter::defaultCenter().addObserver("WrongPassword", server_.get(),
                                                  [&heard](const Notification&) { ++heard; });
  transport_->push(reply(200, "wrongpas"));
  other->syncAuthorise();
  EXPECT_EQ(heard, 0);
  transport_->push(reply(200, "wrongpas"));
  server_->syncAuthorise();
  EXPECT_EQ(heard, 1);
}

// A device registration that completes while a renewal is out replaces the
// identity: whatever the service said to the old one, the session and any
// "wrongpas" verdict must be the device's.
TEST_F(ProtocolTest, ARenewalRacingARegistrationEndsUnderTheDeviceIdentity) {
  struct Case {
    HttpResponse staleAnswer;
  };
  for (const Case& c : {Case{authOk("ACCOUNT-SESSION")}, Case{reply(200, "wrongpas")}, Case{reply(500, "busy")}}) {
    SCOPED_TRACE(describe(c.staleAnswer));
    startOver();
    auto& settings = LocalSettings::sharedManager();
    settings.setCredentials("ACCOUNT-1", "ACCOUNT-KEY");
    auto seen = watchNotifications({"WrongPassword", "AuthoriseFail"});
    transport_->push([&](const SentRequest&) {
      settings.setCredentials("DEVICE-1", "DEVICE-PASS");
      return c.staleAnswer;
    });
    transport_->push(authOk("DEVICE-SESSION"));
    EXPECT_TRUE(server_->syncAuthorise());
    auto sent = transport_->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].body, "request=auth&guid=ACCOUNT-1&password=ACCOUNT-KEY");
    EXPECT_EQ(sent[1].body, "request=auth&guid=DEVICE-1&password=DEVICE-PASS");
    EXPECT_EQ(server_->cookies(), (std::vector<HTTPCookie>{{"PVSESSID", "DEVICE-SESSION"}}));
    EXPECT_TRUE(seen->empty()) << "the answer to the replaced identity must not reset the client";
  }
}

TEST_F(ProtocolTest, AnIdentityThatKeepsChangingEndsTheRenewal) {
  auto& settings = LocalSettings::sharedManager();
  int changes = 0;
  transport_->setFallback([&](const SentRequest&) {
    settings.setCredentials("ID-" + std::to_string(++changes), "PASS");
    return authOk();
  });
  // Bounded: the last answer counts, for the identity it was sent with.
  server_->syncAuthorise();
  EXPECT_EQ(transport_->count(), static_cast<size_t>(CommunicationServer::kMaxNestedRenewals + 1));
}

TEST_F(ProtocolTest, CredentialsAreReadAndReplacedAsOnePair) {
  auto& settings = LocalSettings::sharedManager();
  settings.setCredentials("A", "A-PASS");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop.load(); ++i) settings.setCredentials(i % 2 ? "A" : "B", i % 2 ? "A-PASS" : "B-PASS");
  });
  for (int i = 0; i < 20000; ++i) {
    std::string form = server_->getStringForRequest(1);
    ASSERT_TRUE(form == "request=auth&guid=A&password=A-PASS" || form == "request=auth&guid=B&password=B-PASS")
        << form;
  }
  stop.store(true);
  writer.join();
}

// --- Ping ------------------------------------------------------------------

TEST_F(ProtocolTest, PingJudgesTheConnectionByTheWordAndTheTimeTaken) {
  struct Case {
    int delayMs;
    HttpResponse answer;
    int32_t quality;
    std::vector<std::string> lines;
  };
  for (const Case& c :
       {Case{0, reply(200, "pong"), CommunicationServer::kConnectionGood, {}},
        Case{1000, reply(200, "pong"), CommunicationServer::kConnectionGood, {}},
        Case{1500, reply(200, "pong"), CommunicationServer::kConnectionSlow, {"Slow connection: 1.500000"}},
        Case{0,
             reply(200, "ok"),
             CommunicationServer::kConnectionOffline,
             {"Offline: 0.000000. Response: ok with status code: 200"}},
        Case{0,
             transportError(-1009),
             CommunicationServer::kConnectionOffline,
             {"Offline: 0.000000. Response: . Error: transport error -1009"}},
        Case{0,
             reply(503, "busy"),
             CommunicationServer::kConnectionOffline,
             {"Offline: 0.000000. Response: busy. Error: (null)"}}}) {
    SCOPED_TRACE(describe(c.answer) + " after " + std::to_string(c.delayMs) + " ms");
    const size_t before = loggedTexts().size();
    transport_->push([this, c](const SentRequest&) {
      clock_->advance(std::chrono::milliseconds(c.delayMs));
      return c.answer;
    });
    EXPECT_EQ(server_->syncPing(), c.quality);
    EXPECT_EQ(transport_->sent().back().body, "request=ping");
    const auto texts = loggedTexts();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(before), texts.end()), c.lines);
  }
}

TEST_F(ProtocolTest, EveryRequestCarriesTheUserAgentAndTimeout) {
  server_->setRequestTimeout(std::chrono::milliseconds(1234));
  transport_->push(reply(200, "pong"));
  server_->syncPing();
  const auto sent = transport_->sent()[0];
  EXPECT_EQ(sent.url, kURL);
  EXPECT_EQ(sent.header("User-Agent"), "Palvero OS X Client / " + Env::applicationVersion());
  EXPECT_EQ(sent.timeout, std::chrono::milliseconds(1234));
  EXPECT_FALSE(sent.header("Content-Type").has_value());
}

TEST_F(ProtocolTest, FormBodiesGoAsAsciiWithEachOtherCharacterReplaced) {
  LocalSettings::sharedManager().setClientId(
      "Gu\xC3\xAF"
      "d\xE2\x82\xAC!\xFF");
  transport_->push(reply(200, "ok"));
  server_->syncDeleteVerFile(std::nullopt, 5, std::nullopt, false);
  EXPECT_EQ(transport_->sent()[0].body, "guid=Gu?d?!?&request=delete&immediately=0&size=5");
}

}  // namespace
}  // namespace palvero::testing
