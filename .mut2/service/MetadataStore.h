// The service's metadata in one SQLite file: accounts, their devices, the
// version history of every backed-up path, the settings clients saved and
// those an administrator set for an account, and the status reports and
// hardware identifiers clients sent. Version bytes live in a BlobStore; a
// version row names its object. Records, settings and reports hold request
// fields, which need not be UTF-8: such bytes are stored replaced (U+FFFD)
// rather than failing the request.
//
// Thread contract: every member is safe from any thread; one lock serialises
// the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SqliteDb.h"
#include "base/Value.h"

namespace palvero::service {

struct Account {
  int64_t id = 0;
  std::string username;
  std::string passwordHash;  // PasswordHash of what the user types at login
  std::string clientId;    // the account's guid before a device is registered
  std::string accountKey;  // the "Password" of the login reply, good for "auth" with clientId
  std::string userCipher;
  std::string accountCipher;
  std::string email;
  int64_t maxDevices = 0;
  bool blocked = false;
};

struct Device {
  std::string deviceId;
  int64_t accountId = 0;
  std::string pass;
  Value record;  // the device dictionary as registered, with "DeviceID" filled in
};

struct VersionRow {
  int64_t id = 0;
  std::string owner;  // the guid that uploaded it (device id or account client id)
  std::string path;
  int64_t number = 0;  // 1, 2, ... per (owner, path)
  int64_t size = 0;    // the backed-up file's size as the client sent it
  std::string modified;
  std::string uploaded;  // server time "yyyyMMdd HH:mm:ss"
  std::string object;    // BlobStore name of the version bytes
  int64_t length = 0;    // length of the version bytes
  bool toDelete = false;
};

class MetadataStore {
 public:
  // Opens or creates <path>. Throws std::runtime_error when it cannot.
  // Opens or creates <path> (mode 0600); passwords an older service kept in
  // clear are replaced by their hashes.
  explicit MetadataStore(const std::string& path);

  // Creates the account, or sets the password of an existing one.
  Account addOrUpdateAccount(const std::string& username, const std::string& password, int64_t maxDevices);
  // Whether `password` is the account's login password.
  static bool passwordMatches(const Account& account, const std::string& password);
  // The highest account id so far (0 without accounts).
  int64_t maxAccountId();

  // Facts about the stored data itself, by key.
  std::optional<std::string> meta(const std::string& key);
  void setMeta(const std::string& key, const std::string& value);
  bool setBlocked(const std::string& username, bool blocked);
  std::optional<Account> accountByUsername(const std::string& username);
  std::optional<Account> accountByClientId(const std::string& clientId);
  std::optional<Account> accountById(int64_t id);

  std::vector<Device> devicesOf(int64_t accountId);
  std::optional<Device> device(const std::string& deviceId);
  // Registers a new device (fresh id and pass) with `record`.
  Device addDevice(int64_t accountId, Value record);
  void updateDeviceRecord(const std::string& deviceId, const Value& record);

  // Records the next revision of (owner, path) and clears its deletion mark;
  // returns the row.
  VersionRow addVersion(const std::string& owner, const std::string& path, int64_t size, const std::string& modified,
                        const std::string& object, int64_t length);
  std::optional<VersionRow> latestVersion(const std::string& owner, const std::string& path);
  std::optional<VersionRow> version(const std::string& owner, const std::string& path, int64_t number);
  std::vector<VersionRow> versionsOf(const std::string& owner, const std::string& path);
  void clearDeleteMark(const std::string& owner, const std::string& path);
  // The latest revision of every path of `owner` (for deletion by size or
  // extension, and for listings).
  std::vector<VersionRow> latestVersions(const std::string& owner);
  // Marks every revision of the paths as deleted, or, when `immediately`,
  // removes the rows and returns the objects they named so the caller can
  // drop them.
  std::vector<std::string> deletePaths(const std::string& owner, const std::vector<std::string>& paths,
                                       bool immediately);

  // Every revision of every path of `owner`, by path, then number.
  std::vector<VersionRow> allVersions(const std::string& owner);
  // The guids that own versions in an account: its client id, then its
  // devices in registration order.
  std::vector<std::string> ownersOf(int64_t accountId);

  // Settings a client saved, per guid and type ("backup", "exclusions", ...).
  void putSettings(const std::string& owner, const std::string& type, const Value& data);
  std::optional<Value> settings(const std::string& owner, const std::string& type);
  // Settings an administrator set for every device of an account (null
  // removes them); merged over what the devices saved.
  void putAdminSettings(int64_t accountId, const std::string& type, const Value& data);
  std::optional<Value> adminSettings(int64_t accountId, const std::string& type);

  void addReport(const std::string& owner, const std::string& kind, const Value& fields);
  // Every report, oldest first: [{"owner","kind","fields","received"}].
  Value reports();

 private:
  std::mutex mutex_;
  std::unique_ptr<SqliteDb> db_;  // guarded by mutex_

  Account readAccount(SqliteStatement& st);
  void hashClearPasswords();
  std::optional<Account> accountWhere(const char* column, const std::string& value);
  VersionRow readVersion(SqliteStatement& st);
};

}  // namespace palvero::service
