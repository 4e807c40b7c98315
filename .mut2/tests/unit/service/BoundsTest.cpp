// What the service holds on behalf of clients stays bounded and private:
// numbers from requests, split uploads, the request log, password storage.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "FormCodec.h"
#include "LogRedaction.h"
#include "MetadataStore.h"
#include "PartialUploads.h"
#include "PasswordHash.h"
#include "RequestLog.h"
#include "SqliteDb.h"
#include "support/TempHome.h"

namespace palvero::service {
namespace {
namespace fs = std::filesystem;
using palvero::testing::TempHome;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(BoundedIntegerTest, OnlyDecimalTextWithinTheBoundsIsANumber) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  struct Case {
    const char* text;
    int64_t min;
    int64_t max;
    std::optional<int64_t> expected;
  };
  for (const Case& c : {Case{"7", 0, 10, 7}, Case{"0", 0, 10, 0}, Case{"10", 0, 10, 10}, Case{"11", 0, 10, {}},
                        Case{"-1", 0, 10, {}}, Case{"-1", -1, 10, -1}, Case{"", 0, 10, {}}, Case{"7a", 0, 10, {}},
                        Case{" 7", 0, 10, {}}, Case{"+7", 0, 10, {}}, Case{"9223372036854775807", 0, kMax, kMax},
                        Case{"9223372036854775808", 0, kMax, {}}, Case{"99999999999999999999999", 0, kMax, {}}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(boundedInteger(c.text, c.min, c.max), c.expected);
  }
}

// --- Split uploads ------------------------------------------------------------

TEST(PartialUploadBoundsTest, APartPastTheSizeLimitIsRefusedAndChangesNothing) {
  PartialUploads uploads(10, 2, 100);
  PartialUploads::Key key{"dev", "/f", "s"};
  int64_t received = 0;
  ASSERT_EQ(uploads.addPart(key, 0, "123456", &received), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.addPart(key, 6, "78901", &received), PartialUploads::Result::kTooLarge);
  EXPECT_EQ(received, 6);
  // A repeated part that replaces bytes may still fit.
  EXPECT_EQ(uploads.addPart(key, 2, "34567890", &received), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.heldBytes(), 10);
  EXPECT_EQ(uploads.take(key), "1234567890");
  EXPECT_EQ(uploads.heldBytes(), 0);
}

TEST(PartialUploadBoundsTest, ASessionAssemblesFewUploadsAtOnceAndAllTogetherStayUnderTheTotal) {
  PartialUploads uploads(100, 2, 25);
  EXPECT_EQ(uploads.addPart({"dev", "/a", "s1"}, 0, "aaaaaaaaaa", nullptr), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.addPart({"dev", "/b", "s1"}, 0, "bbbbbbbbbb", nullptr), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.addPart({"dev", "/c", "s1"}, 0, "c", nullptr), PartialUploads::Result::kTooMany);
  // Another session may start one, but not past the total.
  EXPECT_EQ(uploads.addPart({"dev", "/c", "s2"}, 0, "cccccccccc", nullptr), PartialUploads::Result::kTooLarge);
  EXPECT_EQ(uploads.addPart({"dev", "/c", "s2"}, 0, "ccccc", nullptr), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.pending(), 3u);
  // Finishing one makes room in its session.
  uploads.take({"dev", "/a", "s1"});
  EXPECT_EQ(uploads.addPart({"dev", "/c", "s1"}, 0, "c", nullptr), PartialUploads::Result::kAccepted);
}

// --- Passwords ------------------------------------------------------------------

TEST(PasswordHashTest, AHashIsSaltedAndOnlyTheRightPasswordMatches) {
  std::string first = PasswordHash::make("secret", 1000);
  std::string second = PasswordHash::make("secret", 1000);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.find("secret"), std::string::npos);
  EXPECT_TRUE(PasswordHash::verify("secret", first));
  EXPECT_TRUE(PasswordHash::verify("secret", second));
  for (const char* wrong : {"", "Secret", "secret ", "secre"}) {
    SCOPED_TRACE(wrong);
    EXPECT_FALSE(PasswordHash::verify(wrong, first));
  }
}

TEST(PasswordHashTest, TextsThatAreNoHashNeverMatch) {
  std::string good = PasswordHash::make("pw", 1000);
  std::string cutHash = good.substr(0, good.size() - 1);
  std::string otherScheme = "md5" + good.substr(good.find('$'));
  std::string zeroRounds = "pbkdf2-sha256$0" + good.substr(good.find('$', good.find('$') + 1));
  for (const std::string& stored : {std::string("pw"), std::string(), cutHash, otherScheme, zeroRounds}) {
    SCOPED_TRACE(stored);
    EXPECT_FALSE(PasswordHash::isHash(stored));
    EXPECT_FALSE(PasswordHash::verify("pw", stored));
  }
}

TEST(MetadataPasswordTest, PasswordsKeptInClearByAnOlderServiceAreHashedAtOpen) {
  TempHome home;
  std::string path = home.path() + "/metadata.db";
  {
    MetadataStore store(path);
    store.addOrUpdateAccount("ann", "first", 5);
  }
  {
    // What an older service wrote: the password itself.
    SqliteDb db(path);
    db.prepare("UPDATE accounts SET password = 'plain-old' WHERE username = 'ann'").run();
  }
  MetadataStore store(path);
  auto account = store.accountByUsername("ann");
  ASSERT_TRUE(account);
  EXPECT_TRUE(PasswordHash::isHash(account->passwordHash));
  EXPECT_TRUE(MetadataStore::passwordMatches(*account, "plain-old"));
  EXPECT_FALSE(MetadataStore::passwordMatches(*account, "first"));
  EXPECT_EQ(modeOf(path), 0600u);
}

TEST(MetadataTextTest, FieldsThatAreNotUtf8AreStoredReplacedInsteadOfFailing) {
  TempHome home;
  MetadataStore store(home.path() + "/metadata.db");
  Account account = store.addOrUpdateAccount("ann", "pw", 5);
  const std::string bad = "caf\xE9 \xFF";
  const std::string shown = "caf\xEF\xBF\xBD \xEF\xBF\xBD";

  Device device;
  ASSERT_NO_THROW(device = store.addDevice(account.id, {{"ComputerName", bad}}));
  EXPECT_EQ(store.device(device.deviceId)->record.value("ComputerName", std::string()), shown);
  ASSERT_NO_THROW(store.updateDeviceRecord(device.deviceId, {{"SerialNumber", bad}}));
  EXPECT_EQ(store.device(device.deviceId)->record.value("SerialNumber", std::string()), shown);

  ASSERT_NO_THROW(store.addReport(account.clientId, "status", {{"desc", bad}}));
  Value reports = store.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports.dump().find("caf\xEF\xBF\xBD"), std::string::npos) << reports.dump();

  ASSERT_NO_THROW(store.putSettings(account.clientId, "client", {{"name", bad}}));
  EXPECT_EQ(store.settings(account.clientId, "client")->value("name", std::string()), shown);
  ASSERT_NO_THROW(store.putAdminSettings(account.id, "client", {{"name", bad}}));
  EXPECT_EQ(store.adminSettings(account.id, "client")->value("name", std::string()), shown);
}

// --- Redaction ------------------------------------------------------------------

TEST(LogRedactionTest, SecretFieldsHeadersAndJsonKeysAreReplaced) {
  Value entry = {
      {"fields",
       {{"password", "pw"},
        {"guid", "G"},
        {"data", R"({ "ClientId": "C", "Password": "key", "UserCipher": "u", "nested": [{"Pass": "p"}] })"},
        {"blocks", R"([{ "size": 1, "checksum": "A"}])"}}},
      {"headers", {{"Cookie", "PVSESSID=abc"}, {"User-Agent", "ua"}}},
      {"body", "request=auth&guid=G&password=pw%21&data=%7B%22Pass%22%3A%22p%22%7D"},
      {"reply", R"({"DeviceID":"D","Pass":"secret-pass"})"}};
  redactEntry(entry);
  std::string text = entry.dump();
  for (const char* secret : {"pw", "key", "\"u\"", "\"p\"", "abc", "secret-pass"}) {
    SCOPED_TRACE(secret);
    EXPECT_EQ(text.find(secret), std::string::npos) << text;
  }
  EXPECT_EQ(entry["fields"]["guid"], "G");
  EXPECT_EQ(entry["headers"]["User-Agent"], "ua");
  // Values without secrets stay byte for byte what the client sent.
  EXPECT_EQ(entry["fields"]["blocks"], R"([{ "size": 1, "checksum": "A"}])");
  EXPECT_EQ(Value::parse(entry["fields"]["data"].get<std::string>())["ClientId"], "C");
  EXPECT_EQ(entry["body"].get<std::string>().rfind("request=auth&guid=G&password=(redacted)&data=", 0), 0u);
  EXPECT_EQ(Value::parse(entry["reply"].get<std::string>())["DeviceID"], "D");
}

TEST(LogRedactionTest, SecretNamesIgnoreCase) {
  for (const char* name : {"password", "Password", "proxyPassword", "Pass", "cookie", "Cookie", "UserCipher",
                           "AccountCipher"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(isSecretName(name));
  }
  for (const char* name : {"passage", "guid", "path", "DeviceID", "request"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(isSecretName(name));
  }
}

// --- The request log ------------------------------------------------------------

class RequestLogBoundsTest : public ::testing::Test {
 protected:
  std::string path() const { return home_.path() + "/requests.jsonl"; }
  static Value bigEntry(size_t fields, size_t valueBytes) {
    Value entry = {{"kind", "x"}, {"fields", Value::object()}};
    for (size_t i = 0; i < fields; ++i) entry["fields"]["f" + std::to_string(i)] = std::string(valueBytes, 'v');
    return entry;
  }
  TempHome home_;
};

TEST_F(RequestLogBoundsTest, AnEntryKeepsFewFieldsAndShortValues) {
  RequestLog log(path(), 1 << 20, false);
  log.append(bigEntry(100, 100000));
  Value kept = log.entries()[0];
  EXPECT_EQ(kept["fields"].size(), RequestLog::kMaxFields);
  EXPECT_EQ(kept["fieldsOmitted"], 100 - RequestLog::kMaxFields);
  for (const auto& [name, value] : kept["fields"].items()) {
    EXPECT_LE(value.get<std::string>().size(), RequestLog::kMaxValueBytes + 64) << name;
  }
}

TEST_F(RequestLogBoundsTest, MemoryAndFileStayBoundedAndTheFileIsPrivate) {
  constexpr int64_t kFileLimit = 256 * 1024;
  RequestLog log(path(), kFileLimit, false);
  for (int i = 0; i < 2000; ++i) log.append(bigEntry(4, 16 * 1024));
  EXPECT_EQ(log.count(), 2000u);
  EXPECT_LE(log.memoryBytes(), RequestLog::kMemoryBytes);
  EXPECT_LT(log.entries().size(), 2000u);
  // The newest entry is always kept.
  EXPECT_EQ(log.entries().back()["seq"], 2000);
  ASSERT_TRUE(fs::exists(path() + ".1"));
  const int64_t line = static_cast<int64_t>(log.memoryBytes() / log.entries().size()) + 1024;
  EXPECT_LE(static_cast<int64_t>(fs::file_size(path())), kFileLimit + line);
  EXPECT_LE(static_cast<int64_t>(fs::file_size(path() + ".1")), kFileLimit + line);
  EXPECT_EQ(modeOf(path()), 0600u);
  EXPECT_EQ(modeOf(path() + ".1"), 0600u);
}

TEST_F(RequestLogBoundsTest, TheFileNeverHoldsSecretsWhileMemoryMayKeepThemForTests) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    fs::remove(path());
    RequestLog log(path(), 1 << 20, keep);
    log.append({{"kind", "auth"}, {"fields", {{"password", "hunter2"}}}, {"body", "request=auth&password=hunter2"}});
    std::ifstream in(path());
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file.find("hunter2"), std::string::npos) << file;
    EXPECT_EQ(log.entries()[0]["fields"]["password"], keep ? "hunter2" : kRedacted);
  }
}

}  // namespace
}  // namespace palvero::service
