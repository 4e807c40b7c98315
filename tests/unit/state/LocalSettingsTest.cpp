#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>

#include "platform/Env.h"
#include "platform/PreferencesStore.h"
#include "state/LocalSettings.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class LocalSettingsTest : public ::testing::Test {
 protected:
  LocalSettings& settings() { return LocalSettings::sharedManager(); }
  // A fresh load, as a new process would do.
  LocalSettings& reloaded() {
    LocalSettings::resetForTesting();
    PreferencesStore::resetForTesting();
    return LocalSettings::sharedManager();
  }
  testing::TempHome home_;
};

TEST_F(LocalSettingsTest, EveryStoredKeySurvivesAReload) {
  auto& s = settings();
  Date when = Date::fromLocalComponents(2024, 1, 31, 21, 30, 0);
#define SET_TEXT(name, Name, key, param) s.set##Name(std::string(key) + "-value");
  PALVERO_SETTINGS_TEXT(SET_TEXT)
#undef SET_TEXT
#define SET_BOOL(name, Name, key, param) s.set##Name(true);
  PALVERO_SETTINGS_BOOL(SET_BOOL)
#undef SET_BOOL
  int n = 1;
#define SET_INT(name, Name, key, param) s.set##Name(n++);
  PALVERO_SETTINGS_INT(SET_INT)
#undef SET_INT
  s.setLogDetailLevel(3);
#define SET_DATE(name, Name, key, param) s.set##Name(when);
  PALVERO_SETTINGS_DATE(SET_DATE)
#undef SET_DATE
  s.setFilesAndFoldersForRestore(Value{{"/home/u/Documents", true}});
  s.setFilesAndFoldersRemovedFromRestore(Value{{"/home/u/tmp", true}});
  s.setPresetsForRestore(Value{{"preset", Value{{"a", 1}}}});
  s.setDevices(Value::array({Value{{"DeviceID", "d1"}}}));
  ASSERT_TRUE(s.save());

  auto& r = reloaded();
  ASSERT_NE(&r, &s);
  EXPECT_EQ(r.clientId(), "ClientId-value");
  EXPECT_EQ(r.licenseTypeSpace(), "LicenseSpace-value");
  EXPECT_EQ(r.proxyDomain(), "proxyDomain-value");
  EXPECT_EQ(r.localAppVersion(), "localAppVersion-value");
  // Taken from the build, and the support texts and log level are not read back.
  EXPECT_NE(r.applicationVersion(), "applicationVersion-value");
  EXPECT_FALSE(r.support());
  EXPECT_FALSE(r.supportEmail());
  EXPECT_FALSE(r.supportPhone());
  EXPECT_FALSE(r.logDetailLevel());
  EXPECT_EQ(PreferencesStore::sharedStore().integerForKey("LogDetailLevel"), 3);
  EXPECT_EQ(PreferencesStore::sharedStore().stringForKey("supportEmail"), "supportEmail-value");
  EXPECT_TRUE(r.isSilent());
  EXPECT_TRUE(r.hasBackupHiddenFiles());
  EXPECT_TRUE(r.isInitialized());
  EXPECT_TRUE(r.needRescanning());
  EXPECT_EQ(r.backupTimingType(), 1);
  EXPECT_EQ(r.numberOfThreads(), 7);
  EXPECT_EQ(r.backupTimingTime(), when);
  EXPECT_EQ(r.dateLastScan(), when);
  EXPECT_EQ(r.filesAndFoldersForRestore(), (Value{{"/home/u/Documents", true}}));
  EXPECT_EQ(r.devices()[0]["DeviceID"], "d1");
  EXPECT_EQ(PreferencesStore::sharedStore().stringForKey("dateLastScan"), "20240131 21:30:00");
  EXPECT_EQ(PreferencesStore::sharedStore().stringForKey("IsSilent"), std::nullopt);
  EXPECT_TRUE(PreferencesStore::sharedStore().objectForKey("IsSilent")->is_boolean());
}

TEST_F(LocalSettingsTest, UnsetValuesAreRemovedFromTheStore) {
  auto& s = settings();
  s.setEmail("a@b.c");
  s.setDateLastScan(Date::now());
  ASSERT_TRUE(s.save());
  s.setEmail(std::nullopt);
  s.setDateLastScan(std::nullopt);
  ASSERT_TRUE(s.save());
  EXPECT_FALSE(PreferencesStore::sharedStore().objectForKey("Email"));
  EXPECT_FALSE(PreferencesStore::sharedStore().objectForKey("dateLastScan"));
}

TEST_F(LocalSettingsTest, StoredThreadCount) {
  PreferencesStore::sharedStore().setObject("numberOfThreads", 5);
  PreferencesStore::sharedStore().synchronize();
  EXPECT_EQ(reloaded().numberOfThreads(), 5);
  PreferencesStore::sharedStore().setObject("numberOfThreads", 0);
  PreferencesStore::sharedStore().synchronize();
  EXPECT_EQ(reloaded().numberOfThreads(), 3);
}

// The upload limit is a percentage of the measured peak; anything that
// would stop uploads or is not a number limits nothing.
TEST_F(LocalSettingsTest, BandwidthLimitReadingsAndPersistence) {
  EXPECT_EQ(settings().bandwidthLimit(), 100);
  EXPECT_EQ(settings().uploadPeakRate(), 0);
  struct Case {
    Value value;
    int32_t expected;
  };
  for (const Case& c : {Case{25, 25}, Case{"40", 40}, Case{1, 1}, Case{100, 100}, Case{0, 100}, Case{-5, 100},
                        Case{101, 100}, Case{"fast", 100}, Case{Value(), 100}, Case{12.7, 12}}) {
    SCOPED_TRACE(c.value.dump());
    EXPECT_TRUE(settings().saveParameter("BandwidthLimit", c.value));
    EXPECT_EQ(settings().bandwidthLimit(), c.expected);
    EXPECT_EQ(reloaded().bandwidthLimit(), c.expected);
  }
  settings().saveParameter("BandwidthLimit", 30);
  settings().setUploadPeakRate(5'000'000'000LL);
  settings().save();
  auto& again = reloaded();
  EXPECT_EQ(again.bandwidthLimit(), 30);
  EXPECT_EQ(again.uploadPeakRate(), 5'000'000'000LL) << "a peak above 2 GB/s must not wrap";
  // The peak is measured here, never taken from a reply.
  EXPECT_TRUE(again.saveJSONValues(Value{{"UploadPeakRate", 1}}));
  EXPECT_EQ(again.uploadPeakRate(), 5'000'000'000LL);
  // A stored value out of range loads as no limit.
  PreferencesStore::sharedStore().setObject("BandwidthLimit", 0);
  PreferencesStore::sharedStore().synchronize();
  LocalSettings::resetForTesting();
  EXPECT_EQ(LocalSettings::sharedManager().bandwidthLimit(), 100);
}

TEST_F(LocalSettingsTest, UnparsableStoredDateIsUnset) {
  PreferencesStore::sharedStore().setObject("dateLastScan", "yesterday");
  PreferencesStore::sharedStore().synchronize();
  EXPECT_FALSE(reloaded().dateLastScan());
}

TEST_F(LocalSettingsTest, SaveParameterMatchesKeysExactlyAndConverts) {
  auto& s = settings();
  EXPECT_TRUE(s.saveParameter("Silent", "true"));
  EXPECT_TRUE(s.isSilent());
  EXPECT_TRUE(PreferencesStore::sharedStore().boolForKey("IsSilent"));
  EXPECT_TRUE(s.saveParameter("BackupHiddenFiles", "YES"));
  EXPECT_TRUE(s.hasBackupHiddenFiles());
  EXPECT_TRUE(PreferencesStore::sharedStore().boolForKey("HasBackupHiddenFiles"));
  // The stored key is not a parameter key where another is given.
  s.saveParameter("IsSilent", false);
  EXPECT_TRUE(s.isSilent());

  s.saveParameter("Email", "user@example.com");
  s.saveParameter("email", "help@example.com");
  EXPECT_EQ(s.email(), "user@example.com");
  EXPECT_EQ(s.supportEmail(), "help@example.com");
  s.saveParameter("organisation", "Palvero Support");
  EXPECT_EQ(s.support(), "Palvero Support");

  s.saveParameter("numberOfThreads", "10");
  EXPECT_EQ(s.numberOfThreads(), 10);
  s.saveParameter("BackupTimingType", 3.9);
  EXPECT_EQ(s.backupTimingType(), 3);
  s.saveParameter("AccessRights", "locked");
  EXPECT_EQ(s.accessRights(), 0);
  s.saveParameter("LogDetailLevel", "2");
  EXPECT_EQ(s.logDetailLevel(), 2);
  s.saveParameter("LicenseSpace", 100);
  EXPECT_EQ(s.licenseTypeSpace(), "100");
}

TEST_F(LocalSettingsTest, BooleanAndIntegerReadings) {
  struct Case {
    Value value;
    bool expected;
  };
  for (const auto& c : {Case{"true", true}, Case{"True", true}, Case{"yes", true}, Case{"  +007", true},
                        Case{"-1", true}, Case{"0", false}, Case{"000", false}, Case{"false", false},
                        Case{"no", false}, Case{"", false}, Case{" ", false}, Case{1, true}, Case{0, false},
                        Case{0.5, true}, Case{true, true}, Case{Value(), false}}) {
    SCOPED_TRACE(c.value.dump());
    EXPECT_EQ(LocalSettings::booleanReading(c.value), c.expected);
  }
  EXPECT_EQ(LocalSettings::integerReading("42"), 42);
  EXPECT_EQ(LocalSettings::integerReading(" -7x"), -7);
  EXPECT_EQ(LocalSettings::integerReading("x7"), 0);
  EXPECT_EQ(LocalSettings::integerReading(true), 1);
  EXPECT_EQ(LocalSettings::integerReading(Value::object()), 0);
}

// A reply's number beyond the setting's range used to be cast as it was:
// undefined for 1e300, and 4294967297 threads became 1.
TEST_F(LocalSettingsTest, NumbersBeyondAnIntegerSettingStopAtItsEnds) {
  auto& s = settings();
  ASSERT_TRUE(s.saveJSONValues(Value::parse(
      R"({"numberOfThreads": 4294967297, "BackupRemindAfterDays": 1e300, "AccessRights": -1e300,
          "proxyType": "99999999999", "ClientType": 18446744073709551615})")));
  EXPECT_EQ(s.numberOfThreads(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s.backupRemindAfterDays(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s.accessRights(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(s.proxyType(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s.clientType(), std::numeric_limits<int32_t>::max());
}

TEST_F(LocalSettingsTest, DateParametersNeedADate) {
  auto& s = settings();
  Date when = Date::fromLocalComponents(2024, 1, 31, 21, 30, 0);
  EXPECT_TRUE(s.saveParameter("BackupTimingTime", when.toValue()));
  EXPECT_EQ(s.backupTimingTime(), when);
  EXPECT_FALSE(s.saveParameter("BackupTimingTime", "21:30:00"));
  EXPECT_EQ(s.backupTimingTime(), when);
}

TEST_F(LocalSettingsTest, UnknownKeyStillSaves) {
  auto& s = settings();
  s.setEmail("kept@example.com");  // memory only until something saves
  EXPECT_TRUE(s.saveParameter("NoSuchKey", "x"));
  EXPECT_EQ(PreferencesStore::sharedStore().stringForKey("Email"), "kept@example.com");
  EXPECT_FALSE(PreferencesStore::sharedStore().objectForKey("NoSuchKey"));
}

TEST_F(LocalSettingsTest, SaveJSONValuesAppliesPairsAndInitialises) {
  auto& s = settings();
  EXPECT_TRUE(s.saveJSONValues(Value::object()));
  EXPECT_TRUE(s.isInitialized());
  EXPECT_TRUE(reloaded().isInitialized());

  auto& r = settings();
  EXPECT_TRUE(r.saveJSONValues(Value{{"ClientId", "c-1"}, {"Silent", "1"}, {"Unknown", 5}, {"numberOfThreads", 4}}));
  EXPECT_EQ(r.clientId(), "c-1");
  EXPECT_TRUE(r.isSilent());
  EXPECT_EQ(r.numberOfThreads(), 4);
}

TEST_F(LocalSettingsTest, SaveJSONValuesStopsAtABadPairAndLogs) {
  auto& s = settings();
  // nlohmann objects iterate in key order: "A..." before "BackupTimingTime" before "Z...".
  EXPECT_FALSE(s.saveJSONValues(Value{{"AccessRights", 2}, {"BackupTimingTime", "not a date"}, {"Zzz", 1},
                                      {"numberOfThreads", 9}}));
  EXPECT_EQ(s.accessRights(), 2);
  EXPECT_EQ(s.numberOfThreads(), 3);
  EXPECT_FALSE(s.isInitialized());
  EXPECT_EQ(reloaded().accessRights(), 2);
  std::string log = testing::readFile(Env::supportDirectory() + "/log0.log");
  EXPECT_NE(log.find("| GeneralLogEvent |"), std::string::npos);
  EXPECT_NE(log.find("| Other | Exception in saveJSONValues: "), std::string::npos);
}

TEST_F(LocalSettingsTest, DeviceBodyAndEscaping) {
  auto& s = settings();
  Value device{{"ClientVersion", "2.1.0.0"}, {"ComputerName", "ann's \"box\""}, {"DeviceID", "42"},
               {"DeviceType", 31}, {"Name", "Laptop"}};
  EXPECT_EQ(s.deviceToJSON(device),
            "{ \"ClientVersion\": \"2.1.0.0\", \"ComputerName\": \"ann's \\\"box\\\"\", \"DeviceEncripting\": "
            "\"(null)\", \"DeviceID\": \"42\", \"DeviceType\": \"31\", \"Name\": \"Laptop\" }");
  // Every body stays valid JSON whatever the values hold.
  s.setClientComputerName("back\\slash\nnew line");
  auto parsed = Value::parse(s.clientToJSON(), nullptr, false);
  ASSERT_FALSE(parsed.is_discarded());
  EXPECT_EQ(parsed["ClientComputerName"], "back\\slash\nnew line");
}

TEST_F(LocalSettingsTest, RequestPauseComesFromTheServiceAndSurvivesAReload) {
  EXPECT_DOUBLE_EQ(settings().requestPause(), 0.1) << "the default pacing without a word from the service";
  ASSERT_TRUE(settings().saveJSONValues(Value{{"RequestPause", 0}, {"Username", "ann"}}));
  EXPECT_DOUBLE_EQ(settings().requestPause(), 0);
  EXPECT_DOUBLE_EQ(reloaded().requestPause(), 0);
  // A reply without the key leaves the service's last word in place.
  ASSERT_TRUE(settings().saveJSONValues(Value{{"Username", "bob"}}));
  EXPECT_DOUBLE_EQ(reloaded().requestPause(), 0);

  // What a reply may hold, and what the client makes of it.
  const std::pair<Value, double> readings[] = {
      {0.25, 0.25},      {"0.5", 0.5},     {2, 2},           {"3", 3},
      {1e9, 60},         {"1e9", 60},      {-1, 0.1},        {"-0.5", 0.1},
      {"fast", 0.1},     {"0.2s", 0.1},    {"", 0.1},        {true, 0.1},
      {Value(), 0.1},    {Value::array(), 0.1},
  };
  for (const auto& [value, expected] : readings) {
    SCOPED_TRACE(value.dump());
    ASSERT_TRUE(settings().saveParameter("RequestPause", value));
    EXPECT_DOUBLE_EQ(settings().requestPause(), expected);
    EXPECT_DOUBLE_EQ(reloaded().requestPause(), expected);
  }
  // A hand-edited preferences file is read the same way.
  PreferencesStore::sharedStore().setObject("RequestPause", "-3");
  ASSERT_TRUE(PreferencesStore::sharedStore().synchronize());
  LocalSettings::resetForTesting();
  EXPECT_DOUBLE_EQ(LocalSettings::sharedManager().requestPause(), 0.1);
}

}  // namespace
}  // namespace palvero
