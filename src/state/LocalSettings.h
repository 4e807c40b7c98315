// The client's own settings and account identity, loaded once from the
// preferences store and written back whole by save(): the device's
// credentials, the user's and organisation's details, backup timing, proxy,
// restore selections, counters and dates. Also renders the settings bodies
// sent with "save_settings" and absorbs key/value replies of the server.
//
// Thread contract: every member is safe from any thread. Each property is
// read and replaced whole under the instance's lock; setters change memory
// only, save() writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "base/Date.h"
#include "base/Value.h"

namespace palvero {

// X(property, Property, "StoredKey", "ParameterKey")
#define PALVERO_SETTINGS_TEXT(X)                                   \
  X(clientId, ClientId, "ClientId", "ClientId")                   \
  X(password, Password, "Password", "Password")                   \
  X(userCipher, UserCipher, "UserCipher", "UserCipher")           \
  X(accountCipher, AccountCipher, "AccountCipher", "AccountCipher") \
  X(clientComputerName, ClientComputerName, "ClientComputerName", "ClientComputerName") \
  X(language, Language, "Language", "Language")                   \
  X(username, Username, "Username", "Username")                   \
  X(userFirstname, UserFirstname, "UserFirstname", "UserFirstname") \
  X(userLastname, UserLastname, "UserLastname", "UserLastname")   \
  X(email, Email, "Email", "Email")                               \
  X(gsm, Gsm, "Gsm", "Gsm")                                       \
  X(orgName, OrgName, "OrgName", "OrgName")                       \
  X(orgId, OrgId, "OrgId", "OrgId")                               \
  X(orgAdminEmail, OrgAdminEmail, "OrgAdminEmail", "OrgAdminEmail") \
  X(licenseTypeSpace, LicenseTypeSpace, "LicenseSpace", "LicenseSpace") \
  X(vendor, Vendor, "Vendor", "Vendor")                           \
  X(proxyServer, ProxyServer, "proxyServer", "proxyServer")       \
  X(proxyPort, ProxyPort, "proxyPort", "proxyPort")               \
  X(proxyUsername, ProxyUsername, "proxyUsername", "proxyUsername") \
  X(proxyPassword, ProxyPassword, "proxyPassword", "proxyPassword") \
  X(proxyDomain, ProxyDomain, "proxyDomain", "proxyDomain")       \
  X(applicationVersion, ApplicationVersion, "applicationVersion", "applicationVersion") \
  X(localAppVersion, LocalAppVersion, "localAppVersion", "localAppVersion") \
  X(support, Support, "support", "organisation")                  \
  X(supportEmail, SupportEmail, "supportEmail", "email")          \
  X(supportPhone, SupportPhone, "supportPhone", "phone")

#define PALVERO_SETTINGS_BOOL(X)                                                  \
  X(isSilent, IsSilent, "IsSilent", "Silent")                                    \
  X(backupOnSetTime, BackupOnSetTime, "BackupOnSetTime", "BackupOnSetTime")      \
  X(hasBackupHiddenFiles, HasBackupHiddenFiles, "HasBackupHiddenFiles", "BackupHiddenFiles") \
  X(isInitialized, IsInitialized, "initialized", "initialized")                  \
  X(needRescanning, NeedRescanning, "isScanningPassed", "isScanningPassed")      \
  X(showAlerts, ShowAlerts, "showAlerts", "showAlerts")

#define PALVERO_SETTINGS_INT(X)                                                        \
  X(backupTimingType, BackupTimingType, "BackupTimingType", "BackupTimingType")       \
  X(backupRemindAfterDays, BackupRemindAfterDays, "BackupRemindAfterDays", "BackupRemindAfterDays") \
  X(alertFromFailedFilesAfterRetries, AlertFromFailedFilesAfterRetries, "AlertFromFailedFilesAfterRetries", \
    "AlertFromFailedFilesAfterRetries")                                               \
  X(clientType, ClientType, "ClientType", "ClientType")                               \
  X(accessRights, AccessRights, "AccessRights", "AccessRights")                       \
  X(proxyType, ProxyType, "proxyType", "proxyType")                                   \
  X(numberOfThreads, NumberOfThreads, "numberOfThreads", "numberOfThreads")

// Integer settings that may be unset.
#define PALVERO_SETTINGS_OPTIONAL_INT(X) X(logDetailLevel, LogDetailLevel, "LogDetailLevel", "LogDetailLevel")

#define PALVERO_SETTINGS_DATE(X)                                                  \
  X(backupTimingTime, BackupTimingTime, "BackupTimingTime", "BackupTimingTime")  \
  X(dateBackupStarted, DateBackupStarted, "dateBackupStarted", "dateBackupStarted") \
  X(dateLastScan, DateLastScan, "dateLastScan", "dateLastScan")

// Dictionaries and arrays.
#define PALVERO_SETTINGS_COLLECTION(X)                                                            \
  X(filesAndFoldersForRestore, FilesAndFoldersForRestore, "filesAndFoldersForRestore",          \
    "filesAndFoldersForRestore")                                                                 \
  X(filesAndFoldersRemovedFromRestore, FilesAndFoldersRemovedFromRestore,                        \
    "filesAndFoldersRemovedFromRestore", "filesAndFoldersRemovedFromRestore")                    \
  X(presetsForRestore, PresetsForRestore, "presetsForRestore", "presetsForRestore")             \
  X(devices, Devices, "Devices", "Devices")

class LocalSettings {
 public:
  // Backup timing types.
  static constexpr int32_t kTimingManual = 0;
  static constexpr int32_t kTimingContinuous = 1;
  static constexpr int32_t kTimingDaily = 3;

  // "RequestPause": the seconds the service wants between one worker's
  // requests (before "get_ver", "check_block", "upload_ver"; twice it for
  // listings and restore reloads). The service may set it in its login and
  // "load_settings" replies; without it the pacing is 0.1 s.
  static constexpr const char* kRequestPauseKey = "RequestPause";
  static constexpr double kDefaultRequestPause = 0.1;
  // A larger value is taken as this many seconds.
  static constexpr double kMaxRequestPause = 60;

  // "BandwidthLimit": the share, in percent, of the measured upload peak
  // that uploads may use; 100 (the default) limits nothing. Kept on this
  // computer only: no settings body carries it.
  static constexpr const char* kBandwidthLimitKey = "BandwidthLimit";
  static constexpr int32_t kUnlimitedBandwidth = 100;
  // "UploadPeakRate": the highest upload rate measured without a limit, in
  // bytes per second; 0 until one was measured.
  static constexpr const char* kUploadPeakRateKey = "UploadPeakRate";

  static LocalSettings& sharedManager();
  // Forgets the shared instance; the next call loads from the store again.
  static void resetForTesting();

  LocalSettings();

#define PALVERO_DECLARE(Type, name, Name, key, param) \
  Type name() const;                                  \
  void set##Name(Type value);
#define PALVERO_DECLARE_TEXT(name, Name, key, param) PALVERO_DECLARE(std::optional<std::string>, name, Name, key, param)
#define PALVERO_DECLARE_BOOL(name, Name, key, param) PALVERO_DECLARE(bool, name, Name, key, param)
#define PALVERO_DECLARE_INT(name, Name, key, param) PALVERO_DECLARE(int32_t, name, Name, key, param)
#define PALVERO_DECLARE_OPTIONAL_INT(name, Name, key, param) \
  PALVERO_DECLARE(std::optional<int32_t>, name, Name, key, param)
#define PALVERO_DECLARE_DATE(name, Name, key, param) PALVERO_DECLARE(std::optional<Date>, name, Name, key, param)
#define PALVERO_DECLARE_COLLECTION(name, Name, key, param) PALVERO_DECLARE(Value, name, Name, key, param)
  PALVERO_SETTINGS_TEXT(PALVERO_DECLARE_TEXT)
  PALVERO_SETTINGS_BOOL(PALVERO_DECLARE_BOOL)
  PALVERO_SETTINGS_INT(PALVERO_DECLARE_INT)
  PALVERO_SETTINGS_OPTIONAL_INT(PALVERO_DECLARE_OPTIONAL_INT)
  PALVERO_SETTINGS_DATE(PALVERO_DECLARE_DATE)
  PALVERO_SETTINGS_COLLECTION(PALVERO_DECLARE_COLLECTION)
#undef PALVERO_DECLARE_TEXT
#undef PALVERO_DECLARE_BOOL
#undef PALVERO_DECLARE_INT
#undef PALVERO_DECLARE_OPTIONAL_INT
#undef PALVERO_DECLARE_DATE
#undef PALVERO_DECLARE_COLLECTION
#undef PALVERO_DECLARE

  // The identifier and password a session is opened with, read and
  // replaced as one pair: a request never sees a device's identifier with
  // the account's password (or the other way round).
  struct Credentials {
    std::string clientId;
    std::string password;
    bool operator==(const Credentials&) const = default;
  };
  Credentials credentials() const;
  void setCredentials(const std::string& clientId, const std::string& password);

  double requestPause() const;
  void setRequestPause(double seconds);
  // The pause a reply's value asks for: a number or decimal text of seconds,
  // capped at kMaxRequestPause; the default for anything else (negative,
  // not a number).
  static double requestPauseReading(const Value& value);

  int32_t bandwidthLimit() const;
  void setBandwidthLimit(int32_t percent);
  // The limit a value stands for: its integer reading when 1 to 100, else
  // 100 (a value that would stop every upload, or garbage, limits nothing).
  static int32_t bandwidthLimitReading(const Value& value);
  int64_t uploadPeakRate() const;
  void setUploadPeakRate(int64_t bytesPerSecond);

  // In-memory flags, never stored.
  bool multiplyBlockUpload() const { return multiplyBlockUpload_.load(); }
  void setMultiplyBlockUpload(bool on) { multiplyBlockUpload_.store(on); }
  bool wrongPassInProgress() const { return wrongPassInProgress_.load(); }
  void setWrongPassInProgress(bool on) { wrongPassInProgress_.store(on); }

  // Writes every stored key (unset values removed) and flushes the store;
  // returns whether the flush succeeded. A failed flush is logged with its
  // reason and leaves the file on disk as it was.
  bool save();
  // Sets the setting whose parameter key is `key` (exact match) with the
  // value converted to its type, then saves. An unknown key changes nothing
  // but still saves. A date setting needs a date value (Date::toValue()); any
  // other value changes nothing and returns false.
  bool saveParameter(const std::string& key, const Value& withValue);
  // Applies every pair of a server reply through saveParameter(), then marks
  // the client initialised and saves. On an error the remaining pairs are
  // skipped, "Exception in saveJSONValues: ..." is logged and false returned.
  bool saveJSONValues(const Value& values);

  // The bodies of "save_settings" and of the device registration.
  std::string backupToJSON() const;
  std::string toJSON(bool full) const;
  std::string clientToJSON() const;
  std::string deviceToJSON(const Value& device) const;
  std::string timingToString(int32_t timing) const;

  // Value readings used by saveParameter().
  static int32_t integerReading(const Value& value);
  static bool booleanReading(const Value& value);

 private:
  void load();
  // Throws std::invalid_argument for a value that cannot be applied.
  void applyParameter(const std::string& key, const Value& value);

  mutable std::mutex mutex_;
  std::atomic<bool> multiplyBlockUpload_{true};
  std::atomic<bool> wrongPassInProgress_{false};

  // Every property below is guarded by mutex_.
#define PALVERO_FIELD(Type, name) Type name##_{};
#define PALVERO_FIELD_TEXT(name, Name, key, param) PALVERO_FIELD(std::optional<std::string>, name)
#define PALVERO_FIELD_BOOL(name, Name, key, param) PALVERO_FIELD(bool, name)
#define PALVERO_FIELD_INT(name, Name, key, param) PALVERO_FIELD(int32_t, name)
#define PALVERO_FIELD_OPTIONAL_INT(name, Name, key, param) PALVERO_FIELD(std::optional<int32_t>, name)
#define PALVERO_FIELD_DATE(name, Name, key, param) PALVERO_FIELD(std::optional<Date>, name)
#define PALVERO_FIELD_COLLECTION(name, Name, key, param) PALVERO_FIELD(Value, name)
  PALVERO_SETTINGS_TEXT(PALVERO_FIELD_TEXT)
  PALVERO_SETTINGS_BOOL(PALVERO_FIELD_BOOL)
  PALVERO_SETTINGS_INT(PALVERO_FIELD_INT)
  PALVERO_SETTINGS_OPTIONAL_INT(PALVERO_FIELD_OPTIONAL_INT)
  PALVERO_SETTINGS_DATE(PALVERO_FIELD_DATE)
  PALVERO_SETTINGS_COLLECTION(PALVERO_FIELD_COLLECTION)
  double requestPause_ = kDefaultRequestPause;
  int32_t bandwidthLimit_ = kUnlimitedBandwidth;
  int64_t uploadPeakRate_ = 0;
#undef PALVERO_FIELD_TEXT
#undef PALVERO_FIELD_BOOL
#undef PALVERO_FIELD_INT
#undef PALVERO_FIELD_OPTIONAL_INT
#undef PALVERO_FIELD_DATE
#undef PALVERO_FIELD_COLLECTION
#undef PALVERO_FIELD
};

}  // namespace palvero
