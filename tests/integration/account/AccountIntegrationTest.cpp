#include "AccountFixture.h"
#include "platform/HardwareId.h"

namespace palvero::testing {
namespace {

const std::vector<std::string> kLoginNotifications = {
    "RegUserOK",   "RegUserFail",       "RegUserWrongPassword", "RegUserEmptyPassword",
    "RegDeviceOK", "RegDevicePassedOK", "RegDevicePassedFail"};

class AccountIntegrationTest : public AccountFixture {
 protected:
  void SetUp() override {
    AccountFixture::SetUp();
    start();
  }
  // Logs in through the client and waits until the wizard would have its answer.
  std::vector<std::string> login(const std::string& user, const std::string& password, size_t expected = 1) {
    NotificationLog log(server_.get(), kLoginNotifications);
    server_->registerUsername(user, password);
    runMainLoopUntil([&] { return log.size() >= expected; });
    settleAsyncWork();
    lastLogin_ = log.userInfo("RegDeviceOK");
    return log.names();
  }

  Value lastLogin_;
};

TEST_F(AccountIntegrationTest, AnAccountWithoutDeviceSupportIsReadyAfterLogin) {
  Value account = service_->addUser("ann", "secret");
  service_->setAdminSettings("ann", "login", R"({"DeviceSupport": null})");
  service_->clearLog();
  EXPECT_EQ(login("ann", "secret"), std::vector<std::string>{"RegUserOK"});
  EXPECT_EQ(kinds(), std::vector<std::string>{"register"});
  EXPECT_EQ(LocalSettings::sharedManager().clientId(), account["ClientId"]);
  // The account's own identity opens a session.
  EXPECT_TRUE(server_->syncAuthorise());
}

TEST_F(AccountIntegrationTest, WithRoomForMoreDevicesTheUserChooses) {
  service_->addUser("ann", "secret", 3);
  auto desk = service_->enrolDevice("ann", "secret", "desk");
  auto laptop = service_->enrolDevice("ann", "secret", "laptop");
  service_->clearLog();
  EXPECT_EQ(login("ann", "secret"), std::vector<std::string>{"RegDeviceOK"});
  ASSERT_EQ(lastLogin_["devices"].size(), 2u);
  EXPECT_EQ(lastLogin_["devices"][0]["DeviceID"], desk.clientId);
  EXPECT_EQ(lastLogin_["devices"][1]["DeviceID"], laptop.clientId);
  EXPECT_EQ(lastLogin_["devices"][1]["Name"], "laptop");
  EXPECT_EQ(kinds(), std::vector<std::string>{"register"});
}

TEST_F(AccountIntegrationTest, ASingleDeviceAccountTakesOverItsDeviceWithoutAsking) {
  service_->addUser("ann", "secret", 1);
  auto old = service_->enrolDevice("ann", "secret", "old computer");
  service_->clearLog();
  EXPECT_EQ(login("ann", "secret"), std::vector<std::string>{"RegDevicePassedOK"});
  auto& settings = LocalSettings::sharedManager();
  EXPECT_EQ(settings.clientId(), old.clientId);
  EXPECT_EQ(settings.password(), old.password);
  // The hardware identifiers follow under the device's identity.
  ASSERT_TRUE(runMainLoopUntil([&] { return !reportsOf("send_serial_numbers").empty(); }));
  auto serials = reportsOf("send_serial_numbers");
  EXPECT_EQ(serials[0]["owner"], old.clientId);
  EXPECT_EQ(serials[0]["fields"]["SerialNumber"], HardwareId::serialNumber().value_or(""));
  EXPECT_EQ(serials[0]["fields"]["ComputerUUID"], HardwareId::computerUUID().value_or(""));
  EXPECT_EQ(service_->requests("register_device").size(), 1u);
}

TEST_F(AccountIntegrationTest, ANewComputerIsRegisteredAndUsesItsOwnIdentityFromThenOn) {
  service_->addUser("ann", "secret", 2);
  EXPECT_EQ(login("ann", "s3cr&t+%", 2), (std::vector<std::string>{"RegUserFail", "RegUserWrongPassword"}));
  service_->addUser("ann", "s3cr&t+%", 2);
  EXPECT_EQ(login("ann", "s3cr&t+%"), std::vector<std::string>{"RegDevicePassedOK"});
  auto& settings = LocalSettings::sharedManager();
  std::string deviceId = settings.clientId().value_or("");
  std::string pass = settings.password().value_or("");
  auto registered = service_->requests("register_device");
  ASSERT_EQ(registered.size(), 1u);
  Value record = Value::parse(registered[0]["fields"]["device"].get<std::string>());
  EXPECT_EQ(record["DeviceType"], "31");
  EXPECT_EQ(record["DeviceID"], "");
  EXPECT_NE(deviceId, registered[0]["fields"]["clientId"]);
  service_->clearLog();
  ASSERT_TRUE(server_->syncAuthorise());
  ASSERT_TRUE(server_->getStatisticByCategories());
  auto auth = service_->requests("auth");
  ASSERT_EQ(auth.size(), 1u);
  EXPECT_EQ(auth[0]["fields"]["guid"], deviceId);
  EXPECT_EQ(auth[0]["fields"]["password"], pass);
  EXPECT_EQ(service_->requests("get_statistic_by_categories")[0]["fields"]["guid"], deviceId);
}

TEST_F(AccountIntegrationTest, ARegistrationAnsweredWithoutDeviceIdKeepsTheAccountIdentity) {
  Value account = service_->addUser("ann", "secret", 2);
  service_->addFault("register_device:body=%7B%7D");
  EXPECT_EQ(login("ann", "secret"), std::vector<std::string>{"RegDevicePassedOK"});
  EXPECT_EQ(LocalSettings::sharedManager().clientId(), account["ClientId"]);
  EXPECT_EQ(LocalSettings::sharedManager().password(), account["Password"]);
}

TEST_F(AccountIntegrationTest, AForgottenPasswordIsAnsweredPerUser) {
  service_->addUser("ann", "secret");
  for (const auto& [user, notification] : std::vector<std::pair<std::string, std::string>>{
           {"ann", "ForgotPasswordOK"}, {"bob", "ForgotPasswordUserDeleted"}}) {
    SCOPED_TRACE(user);
    NotificationLog log(server_.get(), {"ForgotPasswordOK", "ForgotPasswordFail", "ForgotPasswordUserDeleted"});
    server_->forgotPassword(user);
    ASSERT_TRUE(runMainLoopUntil([&] { return log.size() == 1; }));
    EXPECT_EQ(log.names(), std::vector<std::string>{notification});
  }
  EXPECT_EQ(reportsOf("forgot_pas").size(), 1u);
}

}  // namespace
}  // namespace palvero::testing
