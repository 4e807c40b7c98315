// The substitute service on its own, driven with raw requests: what it
// promises clients (sessions, block and version stores, refusals) and what it
// promises tests (fault rules, the request log, crash safety).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>

#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {
namespace fs = std::filesystem;

std::string md5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr);
  std::string out;
  char hex[3];
  for (unsigned i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    out += hex;
  }
  return out;
}

std::string name(char c) { return std::string(64, c); }

class ServiceBehaviourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = service_.newDevice("ann", "secret");
    cookie_ = service_.sessionCookie(device_);
  }
  ServiceProcess::RawReply uploadBatch(const std::vector<std::pair<std::string, std::string>>& blocks,
                                       const std::string& recordsOverride = "") {
    std::string records = "[";
    std::vector<ServiceProcess::RawFile> files;
    for (const auto& [blockName, body] : blocks) {
      if (records.size() > 1) records += ",";
      records += "{ \"name\": \"" + blockName + "\", \"size\": " + std::to_string(body.size()) + ", \"checksum\": \"" +
                 md5Hex(body) + "\"}";
      files.push_back({"file[]", blockName, body});
    }
    records += "]";
    return service_.postMultipart({{"request", "upload_blocks_multi"},
                                   {"guid", device_.clientId},
                                   {"blocks", recordsOverride.empty() ? records : recordsOverride}},
                                  files, cookie_);
  }
  ServiceProcess::RawReply form(const std::string& fields) {
    return service_.post("request=" + fields + "&guid=" + device_.clientId, cookie_);
  }

  TempHome home_;
  ServiceProcess service_;
  ServiceProcess::Credentials device_;
  std::string cookie_;
};

TEST_F(ServiceBehaviourTest, RequestsWithoutAValidSessionAre401) {
  EXPECT_EQ(service_.post("request=check_block&guid=" + device_.clientId + "&blocks=[]").status, 401);
  EXPECT_EQ(service_.post("request=check_block&guid=" + device_.clientId + "&blocks=[]", "PVSESSID=forged").status,
            401);
  // A session is good only for the device that opened it.
  auto other = service_.enrolDevice("ann", "secret", "other");
  EXPECT_EQ(service_.post("request=check_block&guid=" + other.clientId + "&blocks=[]", cookie_).status, 401);
  EXPECT_EQ(form("check_block&blocks=[]").status, 200);
  // ping needs none.
  EXPECT_EQ(service_.post("request=ping").body, "pong");
}

TEST_F(ServiceBehaviourTest, UnknownKindsAndBadBodiesAreRefused) {
  EXPECT_EQ(form("no_such_request").status, 400);
  EXPECT_EQ(form("check_block&blocks=not-json").status, 400);
  EXPECT_EQ(form("get_ver&file=%2Fa&version=abc&undelete=0").status, 400);
  EXPECT_EQ(form("delete&immediately=1").status, 400);
  EXPECT_EQ(form("delete&immediately=1&size=-3").status, 400);
}

TEST_F(ServiceBehaviourTest, ABatchWhoseBodyDoesNotMatchItsChecksumStoresNothing) {
  std::string good(5000, 'g');
  std::string records = "[{ \"name\": \"" + name('A') + "\", \"size\": 5000, \"checksum\": \"" + md5Hex(good) +
                        "\"},{ \"name\": \"" + name('B') + "\", \"size\": 5000, \"checksum\": \"" +
                        md5Hex("something else") + "\"}]";
  auto reply = uploadBatch({{name('A'), good}, {name('B'), std::string(5000, 'b')}}, records);
  EXPECT_EQ(reply.status, 400);
  EXPECT_FALSE(service_.block(name('A'))["held"].get<bool>());
  EXPECT_FALSE(service_.block(name('B'))["held"].get<bool>());
}

TEST_F(ServiceBehaviourTest, ABatchNeedsAPartForEveryRecordAndARecordForEveryPart) {
  std::string body(100, 'x');
  std::string oneRecord = "[{ \"name\": \"" + name('A') + "\", \"size\": 100, \"checksum\": \"" + md5Hex(body) + "\"}]";
  EXPECT_EQ(uploadBatch({{name('A'), body}, {name('B'), body}}, oneRecord).status, 400);
  EXPECT_EQ(uploadBatch({}, oneRecord).status, 400);
  EXPECT_EQ(uploadBatch({{"../escape", body}}).status, 400);
  EXPECT_EQ(uploadBatch({{name('A'), body}}).body, "ok");
  EXPECT_EQ(service_.block(name('A'))["size"], 100);
}

TEST_F(ServiceBehaviourTest, ABlockIsHeldUnderEitherName) {
  ASSERT_EQ(uploadBatch({{name('C') + ".pvzip", "packed"}}).body, "ok");
  auto check =
      form("check_block&blocks=[{ \"size\": 9, \"checksum\": \"" + name('C') + "\"},{ \"size\": 7, \"checksum\": \"" +
           name('D') + "\"},{ \"size\": 7, \"checksum\": \"" + name('D') + "\"}]");
  EXPECT_EQ(check.body, "[{\"checksum\":\"" + name('D') + "\",\"size\":7}]");
  auto block = form("get_block&checksum=" + name('C') + "&size=9");
  EXPECT_EQ(block.body, "packed");
  EXPECT_EQ(block.header("Zipped"), "True");
  EXPECT_EQ(form("get_block&checksum=" + name('D') + "&size=7").status, 404);
}

TEST_F(ServiceBehaviourTest, ASplitUploadWithAGapIsRefused) {
  auto part = [&](const std::string& offset, const std::string& final, const std::string& content) {
    return service_.postMultipart({{"request", "upload_ver"},
                                   {"guid", device_.clientId},
                                   {"file_name", "/f"},
                                   {"size", "9"},
                                   {"modified", "20240101 00:00:00"},
                                   {"finalpart", final},
                                   {"offset", offset}},
                                  {{"file", "/f", content}}, cookie_);
  };
  EXPECT_EQ(part("0", "False", "abc").body, "part");
  EXPECT_EQ(part("6", "True", "ghi").status, 409);
  EXPECT_EQ(part("3", "False", "def").body, "part");
  EXPECT_EQ(part("6", "True", "ghi").body, "ok");
  EXPECT_EQ(form("get_ver&file=%2Ff&version=-1&undelete=0").body, "abcdefghi");
}

TEST_F(ServiceBehaviourTest, LoginAndDeviceRegistrationRefusals) {
  EXPECT_EQ(service_.post("request=register&username=ann&password=").body, "passwordempty");
  EXPECT_EQ(service_.post("request=register&username=ann&password=wrong").body, "wrongpas");
  EXPECT_EQ(service_.post("request=register&username=nobody&password=x").body, "wrongpas");
  auto login = Value::parse(service_.post("request=register&username=ann&password=secret").body);
  EXPECT_EQ(login["DeviceSupport"], "true");
  ASSERT_EQ(login["Devices"].size(), 1u);
  EXPECT_EQ(login["Devices"][0]["DeviceID"], device_.clientId);
  std::string record =
      "{ \"ClientVersion\": \"2\", \"ComputerName\": \"x\", \"DeviceEncripting\": \"\", "
      "\"DeviceID\": \"\", \"DeviceType\": \"31\", \"Name\": \"x\" }";
  auto wrong = service_.post("request=register_device&clientId=" + login["ClientId"].get<std::string>() +
                             "&password=bad&device=" + record);
  EXPECT_EQ(wrong.status, 403);
  auto bad = service_.post("request=register_device&clientId=" + login["ClientId"].get<std::string>() +
                           "&password=secret&device=not-json");
  EXPECT_EQ(bad.status, 400);
}

TEST_F(ServiceBehaviourTest, TheDeviceLimitHolds) {
  service_.addUser("solo", "pw", 1);
  service_.enrolDevice("solo", "pw", "first");
  EXPECT_THROW(service_.enrolDevice("solo", "pw", "second"), std::runtime_error);
}

TEST_F(ServiceBehaviourTest, ReRegisteringAKnownDeviceKeepsItsIdentity) {
  auto login = Value::parse(service_.post("request=register&username=ann&password=secret").body);
  std::string record =
      "{ \"ClientVersion\": \"3\", \"ComputerName\": \"x\", \"DeviceEncripting\": \"\", "
      "\"DeviceID\": \"" +
      device_.clientId + "\", \"DeviceType\": \"31\", \"Name\": \"renamed\" }";
  auto reply = Value::parse(service_
                                .post("request=register_device&clientId=" + login["ClientId"].get<std::string>() +
                                      "&password=secret&device=" + record)
                                .body);
  EXPECT_EQ(reply["DeviceID"], device_.clientId);
  EXPECT_EQ(reply["Pass"], device_.password);
}

TEST_F(ServiceBehaviourTest, TheRequestLogRecordsFieldsFilesStatusAndFault) {
  service_.clearLog();
  service_.addFault("check_block:503");
  form("check_block&blocks=[]");
  uploadBatch({{name('E'), "abc"}});
  auto log = service_.requestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["kind"], "check_block");
  EXPECT_EQ(log[0]["status"], 503);
  EXPECT_EQ(log[0]["fault"], "503");
  EXPECT_EQ(log[0]["fields"]["blocks"], "[]");
  EXPECT_EQ(log[1]["files"][0]["filename"], name('E'));
  EXPECT_EQ(log[1]["files"][0]["size"], 3);
  EXPECT_EQ(log[1]["reply"], "ok");
  // Times of arrival and answer on the service's monotonic clock, in order.
  for (const Value& entry : log) EXPECT_LE(entry["received"].get<int64_t>(), entry["answered"].get<int64_t>());
  EXPECT_LE(log[0]["answered"].get<int64_t>(), log[1]["received"].get<int64_t>());
  // The same entries are in the log file, one JSON object per line.
  EXPECT_TRUE(fs::exists(service_.dataDir() + "/requests.jsonl"));
}

TEST_F(ServiceBehaviourTest, ThePacingGoesOutWithLoginAndSettingsReplies) {
  EXPECT_EQ(device_.loginReply["RequestPause"], 0) << "no pacing unless asked for";
  ServiceProcess::Options options;
  options.users = {"bob:pw"};
  options.extraArgs = {"--request-pause", "0.25"};
  ServiceProcess paced(options);
  auto bob = paced.enrolDevice("bob", "pw", "bob-desk");
  EXPECT_EQ(bob.loginReply["RequestPause"], 0.25);
  std::string cookie = paced.sessionCookie(bob);
  for (const char* type : {"backup", "clientfull", "exclusions"}) {
    SCOPED_TRACE(type);
    auto reply = paced.post(std::string("request=load_settings&type=") + type + "&guid=" + bob.clientId, cookie);
    EXPECT_EQ(Value::parse(reply.body, nullptr, false)["RequestPause"], 0.25) << reply.body;
  }
  // What a device saved under the key does not override the service.
  paced.post("request=save_settings&type=backup&data=" + std::string("%7B%22RequestPause%22%3A%220%22%7D") +
                 "&guid=" + bob.clientId,
             cookie);
  auto reply = paced.post("request=load_settings&type=backup&guid=" + bob.clientId, cookie);
  EXPECT_EQ(Value::parse(reply.body, nullptr, false)["RequestPause"], 0.25) << reply.body;
}

TEST_F(ServiceBehaviourTest, ControlIsOffWithoutTheFlag) {
  ServiceProcess::Options options;
  options.testControl = false;
  ServiceProcess plain(options);
  EXPECT_THROW(plain.requestLog(), std::runtime_error);
  EXPECT_THROW(plain.addFault("ping:503"), std::runtime_error);
  EXPECT_EQ(plain.post("request=ping").body, "pong");
}

TEST_F(ServiceBehaviourTest, ABadCommandLineIsRefused) {
  for (const std::string args :
       {"--add-user nopassword", "--add-user ann --password-file /nonexistent", "--fault ping:explode",
        "--listen nowhere", "--max-devices 0", "--folder-page-size 9223372036854775807", "--request-log-bytes 10",
        "--request-pause -1", "--request-pause 61", "--request-pause soon"}) {
    SCOPED_TRACE(args);
    std::string command =
        ServiceProcess::binaryPath() + " --data " + home_.path() + "/bad " + args + " 2>&1 </dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
    int status = ::pclose(out);
    EXPECT_NE(WEXITSTATUS(status), 0) << text;
    EXPECT_EQ(text.find("http://"), std::string::npos) << text;
  }
}

TEST_F(ServiceBehaviourTest, StoredDataSurvivesAKill) {
  ServiceProcess::Options options;
  options.noFsync = false;
  ServiceProcess durable(options);
  auto device = durable.newDevice("kim", "pw");
  std::string cookie = durable.sessionCookie(device);
  std::string body(70000, 'k');
  auto reply = durable.postMultipart(
      {{"request", "upload_blocks_multi"},
       {"guid", device.clientId},
       {"blocks", "[{ \"name\": \"" + name('K') + "\", \"size\": 70000, \"checksum\": \"" + md5Hex(body) + "\"}]"}},
      {{"file[]", name('K'), body}}, cookie);
  ASSERT_EQ(reply.body, "ok");
  auto version = durable.postMultipart({{"request", "upload_ver"},
                                        {"guid", device.clientId},
                                        {"file_name", "/k"},
                                        {"size", "1"},
                                        {"modified", "20240101 00:00:00"}},
                                       {{"file", "/k", "version text"}}, cookie);
  ASSERT_EQ(version.body, "ok");
  durable.kill();
  durable.restart();
  cookie = durable.sessionCookie(device);
  EXPECT_EQ(
      durable.post("request=get_block&guid=" + device.clientId + "&checksum=" + name('K') + "&size=1", cookie).body,
      body);
  EXPECT_EQ(durable.post("request=get_ver&guid=" + device.clientId + "&file=%2Fk&version=-1&undelete=0", cookie).body,
            "version text");
  EXPECT_TRUE(fs::is_empty(durable.dataDir() + "/tmp"));
}

}  // namespace
}  // namespace palvero::testing
