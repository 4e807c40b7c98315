#include "ProtocolTestSupport.h"
#include "platform/SystemInfo.h"
#include "support/AsyncWork.h"

namespace palvero::testing {
namespace {

const std::vector<std::string> kAccountNotifications = {"RegUserOK",
                                                        "RegUserFail",
                                                        "RegUserWrongPassword",
                                                        "RegUserEmptyPassword",
                                                        "RegDeviceOK",
                                                        "RegDevicePassedOK",
                                                        "RegDevicePassedFail",
                                                        "ForgotPasswordOK",
                                                        "ForgotPasswordFail",
                                                        "ForgotPasswordUserDeleted",
                                                        "WrongPassword",
                                                        "AuthoriseFail"};

// The value of one field of a URL-encoded form, still encoded.
std::string formField(const std::string& body, const std::string& name) {
  size_t at = 0;
  while ((at = body.find(name + "=", at)) != std::string::npos) {
    if (at == 0 || body[at - 1] == '&') {
      size_t start = at + name.size() + 1;
      return body.substr(start, body.find('&', start) - start);
    }
    at += name.size();
  }
  return {};
}

Value loginReply(Value extra) {
  Value reply = {{"ClientId", "ACCOUNT-1"},
                 {"Password", "ACCOUNT-KEY"},
                 {"UserCipher", "uc"},
                 {"AccountCipher", "ac"},
                 {"Username", "ann"}};
  if (extra.is_object()) reply.update(extra);
  return reply;
}

Value device(const std::string& id, const std::string& name) {
  return {{"DeviceID", id},
          {"Name", name},
          {"ComputerName", name},
          {"DeviceType", "31"},
          {"ClientVersion", "2.0.0.1"},
          {"DeviceEncripting", ""}};
}

class AccountRequestsTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    notifications_ = std::make_unique<NotificationLog>(server_.get(), kAccountNotifications);
  }
  std::vector<std::string> posted() const { return notifications_->names(); }

  std::unique_ptr<NotificationLog> notifications_;
};

// --- Login ---------------------------------------------------------------

TEST_F(AccountRequestsTest, ALoginRefusalPostsTheFailureAndItsReason) {
  struct Case {
    std::string body;
    std::vector<std::string> notifications;
    bool logsFailLine;
  };
  for (const Case& c : {Case{"wrongpas", {"RegUserFail", "RegUserWrongPassword"}, false},
                        Case{"passwordempty", {"RegUserFail", "RegUserEmptyPassword"}, false},
                        Case{"userblocked", {"RegUserFail", "RegUserFail"}, true},
                        Case{"[1,2]", {"RegUserFail", "RegUserFail"}, true},
                        Case{"", {"RegUserFail", "RegUserFail"}, true}}) {
    SCOPED_TRACE(c.body);
    startOver();
    NotificationLog log(server_.get(), kAccountNotifications);
    size_t before = logLinesStartingWith("registerUsername FAIL").size();
    transport_->push(reply(200, c.body));
    server_->registerUsername("ann", "pw");
    settleAsyncWork();
    EXPECT_EQ(log.names(), c.notifications);
    EXPECT_EQ(transport_->count(), 1u);
    auto lines = logLinesStartingWith("registerUsername FAIL");
    ASSERT_EQ(lines.size() - before, c.logsFailLine ? 1u : 0u);
    if (c.logsFailLine) {
      EXPECT_EQ(lines.back(), "registerUsername FAIL. Username: ann. Response: " + c.body);
    }
    EXPECT_FALSE(LocalSettings::sharedManager().isInitialized());
  }
}

TEST_F(AccountRequestsTest, ALoginReplyNestedTwoMegabytesDeepIsARefusalWithABoundedLogLine) {
  // Parsed and then copied, this reply overflowed the stack.
  std::string nested = std::string(1000000, '[') + std::string(1000000, ']');
  transport_->push(reply(200, nested));
  server_->registerUsername("ann", "pw");
  settleAsyncWork();
  EXPECT_EQ(posted(), (std::vector<std::string>{"RegUserFail", "RegUserFail"}));
  auto lines = logLinesStartingWith("registerUsername FAIL");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].size(), CommunicationServer::kMaxServerTextInLog + 100);
  EXPECT_FALSE(LocalSettings::sharedManager().isInitialized());
}

TEST_F(AccountRequestsTest, AnErrorPageThatIsJsonIsNotStoredAsTheAccount) {
  transport_->push(reply(500, loginReply({{"DeviceSupport", "false"}}).dump()));
  server_->registerUsername("ann", "pw");
  settleAsyncWork();
  EXPECT_EQ(posted(), (std::vector<std::string>{"RegUserFail", "RegUserFail"}));
  EXPECT_FALSE(LocalSettings::sharedManager().clientId().has_value() &&
               *LocalSettings::sharedManager().clientId() == "ACCOUNT-1");
}

TEST_F(AccountRequestsTest, UserAndPasswordAreEncodedSoNoCharacterIsLost) {
  transport_->push(reply(200, "wrongpas"));
  server_->registerUsername("ann+1@example.com", "p&w=d%+ é");
  settleAsyncWork();
  ASSERT_EQ(transport_->count(), 1u);
  EXPECT_EQ(transport_->sent()[0].body,
            "request=register&username=ann%2B1%40example.com&password=p%26w%3Dd%25%2B+%C3%A9");
}

TEST_F(AccountRequestsTest, AnEmptyDeviceListRegistersThisComputer) {
  for (Value devicesField : {Value::array(), Value()}) {
    SCOPED_TRACE(devicesField.dump());
    startOver();
    NotificationLog log(server_.get(), kAccountNotifications);
    Value extra = {{"DeviceSupport", "true"}, {"MaxDeviceCount", 5}};
    if (!devicesField.is_null()) extra["Devices"] = devicesField;
    transport_->push(reply(200, loginReply(extra).dump()));
    transport_->push(reply(200, R"({"DeviceID":"NEW","Pass":"NEW-PASS"})"));
    transport_->setFallback([](const SentRequest&) { return reply(200, "ok"); });
    server_->registerUsername("ann", "pw");
    settleAsyncWork();
    EXPECT_EQ(log.names(), std::vector<std::string>{"RegDevicePassedOK"});
    auto sent = transport_->sent();
    ASSERT_GE(sent.size(), 2u);
    std::string deviceJson = formField(sent[1].body, "device");
    EXPECT_NE(deviceJson.find("\"DeviceType\": \"" + std::to_string(SystemInfo::kDeviceType) + "\""),
              std::string::npos)
        << deviceJson;
    EXPECT_NE(deviceJson.find("\"DeviceID\": \"\""), std::string::npos) << deviceJson;
    EXPECT_EQ(LocalSettings::sharedManager().clientId(), "NEW");
  }
}

// --- Device registration ----------------------------------------------------

// The device JSON goes into the form as it is; the texts in it arrive
// percent-encoded from the caller, so a name with blanks, "&", "+", "%" or
// quotes can neither cut the form nor break the JSON.
TEST_F(AccountRequestsTest, TheRegistrationFormCarriesTheDeviceJsonAsItIs) {
  struct Case {
    std::string name;
    std::string sentName;
  };
  for (const Case& c : {Case{"desk", "desk"}, Case{"my laptop", "my+laptop"}, Case{"A&B=C+D%", "A%26B%3DC%2BD%25"},
                        Case{"\"quoted\" \xC3\xA9", "%22quoted%22+%C3%A9"}}) {
    SCOPED_TRACE(c.name);
    startOver();
    transport_->push(reply(200, R"({"DeviceID":"NEW","Pass":"NEW-PASS"})"));
    Value record = device("", c.name);
    server_->registerDevice("ACCOUNT 1", "p&w", CommunicationServer::encodedDeviceRecord(record));
    settleAsyncWork();
    ASSERT_EQ(transport_->count(), 1u);
    const std::string body = transport_->sent()[0].body;
    EXPECT_EQ(formField(body, "clientId"), "ACCOUNT+1");
    EXPECT_EQ(formField(body, "password"), "p%26w");
    EXPECT_EQ(formField(body, "device"), LocalSettings::sharedManager().deviceToJSON(
                                             CommunicationServer::encodedDeviceRecord(record)));
    EXPECT_NE(body.find("\"Name\": \"" + c.sentName + "\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"ComputerName\": \"" + c.sentName + "\""), std::string::npos) << body;
    // The service's identifiers and types are not the user's text: as they are.
    EXPECT_NE(body.find("\"DeviceType\": \"31\""), std::string::npos) << body;
  }
}

TEST_F(AccountRequestsTest, ARefusedRegistrationCarriesTheServiceText) {
  for (const auto& answer : {reply(403, "device limit reached"), transportError(-1004)}) {
    SCOPED_TRACE(describe(answer));
    NotificationLog log(server_.get(), {"RegDevicePassedOK", "RegDevicePassedFail"});
    transport_->push(answer);
    server_->registerDevice("GUID-1", "pw", device("", "this"));
    settleAsyncWork();
    EXPECT_EQ(log.names(), std::vector<std::string>{"RegDevicePassedFail"});
    EXPECT_EQ(log.userInfo("RegDevicePassedFail"), (Value{{"message", answer.body}}));
    EXPECT_EQ(LocalSettings::sharedManager().clientId(), "GUID-1");
  }
}

// --- Forgotten password -------------------------------------------------------

TEST_F(AccountRequestsTest, AForgottenPasswordPostsTheOutcome) {
  struct Case {
    std::string name;
    std::vector<HttpResponse> replies;
    std::vector<std::string> notifications;
    std::vector<std::string> kinds;
    size_t failLines;
  };
  const std::string ask = "forgot_pas";
  for (const Case& c :
       {Case{"userdeleted", {reply(200, "userdeleted")}, {"ForgotPasswordUserDeleted"}, {ask}, 1},
        Case{"other word", {reply(200, "nope")}, {"ForgotPasswordFail"}, {ask}, 1},
        Case{"500", {reply(500, "boom")}, {"ForgotPasswordFail"}, {ask}, 1},
        Case{"401 renewed", {reply(401, ""), authOk(), reply(200, "ok")}, {"ForgotPasswordOK"}, {ask, "auth", ask}, 0},
        Case{"401 not renewed", {reply(401, ""), reply(200, "wrongpas")}, {"WrongPassword", "ForgotPasswordFail"},
             {ask, "auth"}, 0},
        Case{"401 forever",
             {reply(401, ""), authOk(), reply(401, ""), authOk(), reply(401, ""), authOk(), reply(401, "")},
             {"ForgotPasswordFail"}, {ask, "auth", ask, "auth", ask, "auth", ask}, 1}}) {
    SCOPED_TRACE(c.name);
    startOver();
    NotificationLog log(server_.get(), kAccountNotifications);
    size_t before = logLinesStartingWith("forgotPassword FAIL").size();
    for (const auto& r : c.replies) transport_->push(r);
    server_->forgotPassword("ann@example.com");
    settleAsyncWork();
    EXPECT_EQ(log.names(), c.notifications);
    EXPECT_EQ(transport_->kinds(), c.kinds);
    auto lines = logLinesStartingWith("forgotPassword FAIL");
    ASSERT_EQ(lines.size() - before, c.failLines);
    if (c.name == "500") {
      EXPECT_EQ(lines.back(), "forgotPassword FAIL. Username: ann@example.com. Response: boom with status code: 500");
    }
    EXPECT_EQ(transport_->sent()[0].body, "request=forgot_pas&user=ann%40example.com");
  }
}

// --- Hardware identifiers -------------------------------------------------------

TEST_F(AccountRequestsTest, SerialNumbersAreSentEncodedAndTheReplyIgnored) {
  transport_->push(reply(500, "boom"));
  server_->sendSerialNumbers("C02X 1&2", "4C4C4544-0042");
  settleAsyncWork();
  ASSERT_EQ(transport_->count(), 1u);
  EXPECT_EQ(transport_->sent()[0].body,
            "request=send_serial_numbers&guid=GUID-1&SerialNumber=C02X+1%262&ComputerUUID=4C4C4544-0042");
  EXPECT_TRUE(posted().empty());
}

TEST_F(AccountRequestsTest, SerialNumbersRenewASessionOnceOnly) {
  transport_->push(reply(401, ""));
  transport_->push(authOk());
  transport_->push(reply(401, ""));
  server_->sendSerialNumbers("S", "U");
  settleAsyncWork();
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"send_serial_numbers", "auth", "send_serial_numbers"}));
}

}  // namespace
}  // namespace palvero::testing
