#include "state/LocalSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/NumberCast.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/PreferencesStore.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::mutex gSharedMutex;
std::unique_ptr<LocalSettings>& sharedInstance() {  // guarded by gSharedMutex
  static auto* instance = new std::unique_ptr<LocalSettings>();
  return *instance;
}

std::vector<std::unique_ptr<LocalSettings>>& retiredInstances() {  // guarded by gSharedMutex
  static auto* retired = new std::vector<std::unique_ptr<LocalSettings>>();
  return *retired;
}

// Values are substituted into the bodies as JSON string contents.
std::string escaped(const std::string& text) { return jsonEscaped(text); }

std::string text(const std::optional<std::string>& value) { return value ? escaped(*value) : "(null)"; }
std::string text(bool value) { return value ? "true" : "false"; }
std::string text(int32_t value) { return std::to_string(value); }
std::string text(const std::optional<int32_t>& value) { return value ? std::to_string(*value) : "(null)"; }
std::string timeOfDay(const std::optional<Date>& value) {
  return value ? value->format(Date::kTimeOfDayPattern) : "(null)";
}

// "{ \"k1\": \"v1\", \"k2\": \"v2\"}"
std::string body(const std::vector<std::pair<const char*, std::string>>& pairs) {
  std::string out = "{ ";
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) out += ", ";
    out += "\"";
    out += pairs[i].first;
    out += "\": \"";
    out += pairs[i].second;
    out += "\"";
  }
  out += "}";
  return out;
}

std::string textOf(const Value& value) {
  if (value.is_string()) return value.get<std::string>();
  return value.dump(-1, ' ', false, Value::error_handler_t::replace);
}

}  // namespace

LocalSettings& LocalSettings::sharedManager() {
  std::lock_guard lock(gSharedMutex);
  auto& instance = sharedInstance();
  if (!instance) instance = std::make_unique<LocalSettings>();
  return *instance;
}

void LocalSettings::resetForTesting() {
  std::lock_guard lock(gSharedMutex);
  if (sharedInstance()) retiredInstances().push_back(std::move(sharedInstance()));
}

LocalSettings::LocalSettings() { load(); }

#define PALVERO_DEFINE(Type, name, Name)      \
  Type LocalSettings::name() const {          \
    std::lock_guard lock(mutex_);             \
    return name##_;                           \
  }                                           \
  void LocalSettings::set##Name(Type value) { \
    std::lock_guard lock(mutex_);             \
    name##_ = std::move(value);               \
  }
#define PALVERO_DEFINE_TEXT(name, Name, key, param) PALVERO_DEFINE(std::optional<std::string>, name, Name)
#define PALVERO_DEFINE_BOOL(name, Name, key, param) PALVERO_DEFINE(bool, name, Name)
#define PALVERO_DEFINE_INT(name, Name, key, param) PALVERO_DEFINE(int32_t, name, Name)
#define PALVERO_DEFINE_OPTIONAL_INT(name, Name, key, param) PALVERO_DEFINE(std::optional<int32_t>, name, Name)
#define PALVERO_DEFINE_DATE(name, Name, key, param) PALVERO_DEFINE(std::optional<Date>, name, Name)
#define PALVERO_DEFINE_COLLECTION(name, Name, key, param) PALVERO_DEFINE(Value, name, Name)
PALVERO_SETTINGS_TEXT(PALVERO_DEFINE_TEXT)
PALVERO_SETTINGS_BOOL(PALVERO_DEFINE_BOOL)
PALVERO_SETTINGS_INT(PALVERO_DEFINE_INT)
PALVERO_SETTINGS_OPTIONAL_INT(PALVERO_DEFINE_OPTIONAL_INT)
PALVERO_SETTINGS_DATE(PALVERO_DEFINE_DATE)
PALVERO_SETTINGS_COLLECTION(PALVERO_DEFINE_COLLECTION)
#undef PALVERO_DEFINE_TEXT
#undef PALVERO_DEFINE_BOOL
#undef PALVERO_DEFINE_INT
#undef PALVERO_DEFINE_OPTIONAL_INT
#undef PALVERO_DEFINE_DATE
#undef PALVERO_DEFINE_COLLECTION
#undef PALVERO_DEFINE

LocalSettings::Credentials LocalSettings::credentials() const {
  std::lock_guard lock(mutex_);
  return Credentials{clientId_.value_or(""), password_.value_or("")};
}

void LocalSettings::setCredentials(const std::string& clientId, const std::string& password) {
  std::lock_guard lock(mutex_);
  clientId_ = clientId;
  password_ = password;
}

double LocalSettings::requestPause() const {
  std::lock_guard lock(mutex_);
  return requestPause_;
}

void LocalSettings::setRequestPause(double seconds) {
  std::lock_guard lock(mutex_);
  requestPause_ = requestPauseReading(Value(seconds));
}

double LocalSettings::requestPauseReading(const Value& value) {
  double seconds = -1;
  if (value.is_number()) {
    seconds = value.get<double>();
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) seconds = -1;
  }
  // NaN fails both comparisons and falls back too.
  if (!(seconds >= 0)) return kDefaultRequestPause;
  return std::min(seconds, kMaxRequestPause);
}

int32_t LocalSettings::bandwidthLimit() const {
  std::lock_guard lock(mutex_);
  return bandwidthLimit_;
}

void LocalSettings::setBandwidthLimit(int32_t percent) {
  std::lock_guard lock(mutex_);
  bandwidthLimit_ = bandwidthLimitReading(Value(percent));
}

int32_t LocalSettings::bandwidthLimitReading(const Value& value) {
  if (value.is_null()) return kUnlimitedBandwidth;
  int32_t percent = integerReading(value);
  return percent >= 1 && percent <= kUnlimitedBandwidth ? percent : kUnlimitedBandwidth;
}

int64_t LocalSettings::uploadPeakRate() const {
  std::lock_guard lock(mutex_);
  return uploadPeakRate_;
}

void LocalSettings::setUploadPeakRate(int64_t bytesPerSecond) {
  std::lock_guard lock(mutex_);
  uploadPeakRate_ = std::max<int64_t>(0, bytesPerSecond);
}

void LocalSettings::load() {
  auto& store = PreferencesStore::sharedStore();
  std::lock_guard lock(mutex_);
  wrongPassInProgress_ = false;
#define PALVERO_LOAD_TEXT(name, Name, key, param) name##_ = store.stringForKey(key);
#define PALVERO_LOAD_BOOL(name, Name, key, param) name##_ = store.boolForKey(key);
#define PALVERO_LOAD_INT(name, Name, key, param) name##_ = static_cast<int32_t>(store.integerForKey(key));
#define PALVERO_LOAD_DATE(name, Name, key, param)                           \
  if (auto stored = store.stringForKey(key)) {                              \
    name##_ = Date::parse(*stored, Date::kSettingsPattern);                 \
  }
#define PALVERO_LOAD_COLLECTION(name, Name, key, param) \
  name##_ = std::string_view(key) == "Devices" ? store.arrayForKey(key) : store.dictionaryForKey(key);
  PALVERO_SETTINGS_TEXT(PALVERO_LOAD_TEXT)
  PALVERO_SETTINGS_BOOL(PALVERO_LOAD_BOOL)
  PALVERO_SETTINGS_INT(PALVERO_LOAD_INT)
  PALVERO_SETTINGS_DATE(PALVERO_LOAD_DATE)
  PALVERO_SETTINGS_COLLECTION(PALVERO_LOAD_COLLECTION)
#undef PALVERO_LOAD_TEXT
#undef PALVERO_LOAD_BOOL
#undef PALVERO_LOAD_INT
#undef PALVERO_LOAD_DATE
#undef PALVERO_LOAD_COLLECTION
  // Filled from the server again in every run.
  support_.reset();
  supportEmail_.reset();
  supportPhone_.reset();
  logDetailLevel_.reset();
  if (numberOfThreads_ == 0) numberOfThreads_ = 3;
  auto pause = store.objectForKey(kRequestPauseKey);
  requestPause_ = pause ? requestPauseReading(*pause) : kDefaultRequestPause;
  auto limit = store.objectForKey(kBandwidthLimitKey);
  bandwidthLimit_ = limit ? bandwidthLimitReading(*limit) : kUnlimitedBandwidth;
  uploadPeakRate_ = std::max<int64_t>(0, store.integerForKey(kUploadPeakRateKey));
  if (!localAppVersion_) localAppVersion_ = "2.0.0.0";
  applicationVersion_ = Env::applicationVersion();
  multiplyBlockUpload_ = true;
}

bool LocalSettings::save() {
  auto& store = PreferencesStore::sharedStore();
  {
    std::lock_guard lock(mutex_);
    auto putOptional = [&store](const char* key, const auto& value) {
      if (value) {
        store.setObject(key, *value);
      } else {
        store.removeObjectForKey(key);
      }
    };
#define PALVERO_SAVE_TEXT(name, Name, key, param) putOptional(key, name##_);
#define PALVERO_SAVE_PLAIN(name, Name, key, param) store.setObject(key, name##_);
#define PALVERO_SAVE_DATE(name, Name, key, param)                                  \
  if (name##_) {                                                                   \
    store.setObject(key, name##_->format(Date::kSettingsPattern));                 \
  } else {                                                                         \
    store.removeObjectForKey(key);                                                 \
  }
    PALVERO_SETTINGS_TEXT(PALVERO_SAVE_TEXT)
    PALVERO_SETTINGS_BOOL(PALVERO_SAVE_PLAIN)
    PALVERO_SETTINGS_INT(PALVERO_SAVE_PLAIN)
    PALVERO_SETTINGS_OPTIONAL_INT(PALVERO_SAVE_TEXT)
    PALVERO_SETTINGS_DATE(PALVERO_SAVE_DATE)
    PALVERO_SETTINGS_COLLECTION(PALVERO_SAVE_PLAIN)
    store.setObject(kRequestPauseKey, requestPause_);
    store.setObject(kBandwidthLimitKey, bandwidthLimit_);
    store.setObject(kUploadPeakRateKey, uploadPeakRate_);
#undef PALVERO_SAVE_TEXT
#undef PALVERO_SAVE_PLAIN
#undef PALVERO_SAVE_DATE
  }
  std::string error;
  if (store.synchronize(&error)) return true;
  // The changes stay in the store and go out with the next save.
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "Settings could not be saved: " + error,
                                     kLogFailure);
  return false;
}

int32_t LocalSettings::integerReading(const Value& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number()) return saturatingInteger<int32_t>(value);
  if (value.is_string()) return saturatingCast<int32_t>(std::strtoll(value.get<std::string>().c_str(), nullptr, 10));
  return 0;
}

bool LocalSettings::booleanReading(const Value& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0;
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

void LocalSettings::applyParameter(const std::string& key, const Value& value) {
  std::lock_guard lock(mutex_);
  if (key == kRequestPauseKey) {
    requestPause_ = requestPauseReading(value);
    return;
  }
  if (key == kBandwidthLimitKey) {
    bandwidthLimit_ = bandwidthLimitReading(value);
    return;
  }
#define PALVERO_APPLY_TEXT(name, Name, storedKey, param)              \
  if (key == param) {                                                 \
    name##_ = value.is_null() ? std::nullopt : std::optional(textOf(value)); \
    return;                                                           \
  }
#define PALVERO_APPLY_BOOL(name, Name, storedKey, param) \
  if (key == param) {                                    \
    name##_ = booleanReading(value);                     \
    return;                                              \
  }
#define PALVERO_APPLY_INT(name, Name, storedKey, param) \
  if (key == param) {                                   \
    name##_ = integerReading(value);                    \
    return;                                             \
  }
#define PALVERO_APPLY_DATE(name, Name, storedKey, param)                          \
  if (key == param) {                                                             \
    auto date = Date::fromValue(value);                                           \
    if (!date) throw std::invalid_argument("value for " + key + " is not a date"); \
    name##_ = date;                                                               \
    return;                                                                       \
  }
#define PALVERO_APPLY_COLLECTION(name, Name, storedKey, param)                                 \
  if (key == param) {                                                                          \
    bool wantArray = std::string_view(storedKey) == "Devices";                                \
    if (wantArray ? !value.is_array() : !value.is_object()) {                                  \
      throw std::invalid_argument("value for " + key + " is not a " + (wantArray ? "list" : "dictionary")); \
    }                                                                                          \
    name##_ = value;                                                                           \
    return;                                                                                    \
  }
  PALVERO_SETTINGS_TEXT(PALVERO_APPLY_TEXT)
  PALVERO_SETTINGS_BOOL(PALVERO_APPLY_BOOL)
  PALVERO_SETTINGS_INT(PALVERO_APPLY_INT)
  PALVERO_SETTINGS_OPTIONAL_INT(PALVERO_APPLY_INT)
  PALVERO_SETTINGS_DATE(PALVERO_APPLY_DATE)
  PALVERO_SETTINGS_COLLECTION(PALVERO_APPLY_COLLECTION)
#undef PALVERO_APPLY_TEXT
#undef PALVERO_APPLY_BOOL
#undef PALVERO_APPLY_INT
#undef PALVERO_APPLY_DATE
#undef PALVERO_APPLY_COLLECTION
}

bool LocalSettings::saveParameter(const std::string& key, const Value& withValue) {
  try {
    applyParameter(key, withValue);
  } catch (const std::exception&) {
    return false;
  }
  return save();
}

bool LocalSettings::saveJSONValues(const Value& values) {
  try {
    if (!values.is_object()) throw std::invalid_argument("reply is not a dictionary");
    // A reply that names both takes them as one pair.
    if (values.contains("ClientId") && values.contains("Password") && !values["ClientId"].is_null() &&
        !values["Password"].is_null()) {
      setCredentials(textOf(values["ClientId"]), textOf(values["Password"]));
    }
    for (const auto& [key, value] : values.items()) {
      applyParameter(key, value);
      save();
    }
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       std::string("Exception in saveJSONValues: ") + e.what(), kLogFailure);
    return false;
  }
  setIsInitialized(true);
  save();
  return true;
}

std::string LocalSettings::backupToJSON() const {
  std::lock_guard lock(mutex_);
  return body({{"BackupTimingType", text(backupTimingType_)},
               {"BackupOnSetTime", text(backupOnSetTime_)},
               {"BackupTimingTime", timeOfDay(backupTimingTime_)},
               {"BackupRemindAfterDays", text(backupRemindAfterDays_)},
               {"AlertFromFailedFilesAfterRetries", text(alertFromFailedFilesAfterRetries_)}});
}

std::string LocalSettings::toJSON(bool full) const {
  std::lock_guard lock(mutex_);
  if (!full) {
    return body({{"BackupTimingType", text(backupTimingType_)},
                 {"BackupTimingTime", timeOfDay(backupTimingTime_)},
                 {"BackupRemindAfterDays", text(backupRemindAfterDays_)},
                 {"AlertFromFailedFilesAfterRetries", text(alertFromFailedFilesAfterRetries_)},
                 {"ClientComputerName", text(clientComputerName_)},
                 {"Language", text(language_)},
                 {"Username", text(username_)},
                 {"UserFirstname", text(userFirstname_)},
                 {"UserLastname", text(userLastname_)},
                 {"Email", text(email_)},
                 {"Gsm", text(gsm_)},
                 {"LogDetailLevel", text(logDetailLevel_)}});
  }
  return body({{"BackupTimingType", text(backupTimingType_)},
               {"BackupTimingTime", timeOfDay(backupTimingTime_)},
               {"BackupRemindAfterDays", text(backupRemindAfterDays_)},
               {"AlertFromFailedFilesAfterRetries", text(alertFromFailedFilesAfterRetries_)},
               {"ClientComputerName", text(clientComputerName_)},
               {"Language", text(language_)},
               {"Username", text(username_)},
               {"UserFirstname", text(userFirstname_)},
               {"UserLastname", text(userLastname_)},
               {"Email", text(email_)},
               {"Gsm", text(gsm_)},
               {"ClientId", text(clientId_)},
               {"Password", text(password_)},
               {"UserCipher", text(userCipher_)},
               {"AccountCipher", text(accountCipher_)},
               {"Silent", text(isSilent_)},
               {"OrgName", text(orgName_)},
               {"OrgId", text(orgId_)},
               {"OrgAdminEmail", text(orgAdminEmail_)},
               {"LicenseSpace", text(licenseTypeSpace_)},
               {"Vendor", text(vendor_)},
               {"ClientType", text(clientType_)},
               {"LogDetailLevel", text(logDetailLevel_)}});
}

std::string LocalSettings::clientToJSON() const {
  std::lock_guard lock(mutex_);
  return body({{"ClientComputerName", text(clientComputerName_)},
               {"Language", text(language_)},
               {"Username", text(username_)},
               {"UserFirstname", text(userFirstname_)},
               {"UserLastname", text(userLastname_)},
               {"Email", text(email_)},
               {"Gsm", text(gsm_)},
               {"ClientVersion", text(applicationVersion_)}});
}

std::string LocalSettings::deviceToJSON(const Value& device) const {
  auto field = [&device](const char* key) -> std::string {
    if (!device.is_object()) return "(null)";
    auto it = device.find(key);
    if (it == device.end() || it->is_null()) return "(null)";
    return escaped(textOf(*it));
  };
  std::string out = body({{"ClientVersion", field("ClientVersion")},
                          {"ComputerName", field("ComputerName")},
                          {"DeviceEncripting", field("DeviceEncripting")},
                          {"DeviceID", field("DeviceID")},
                          {"DeviceType", field("DeviceType")},
                          {"Name", field("Name")}});
  out.insert(out.size() - 1, " ");
  return out;
}

std::string LocalSettings::timingToString(int32_t timing) const {
  switch (timing) {
    case kTimingManual: return "Manual";
    case kTimingContinuous: return "Continious";
    case kTimingDaily: return backupOnSetTime() ? "Daily only on set time" : "Daily";
    default: return "Unknown";
  }
}

}  // namespace palvero
