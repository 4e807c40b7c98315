#include "MetadataStore.h"

#include "PasswordHash.h"
#include "PrivateFiles.h"
#include "Random.h"
#include "RequestLog.h"
#include "base/Date.h"

namespace palvero::service {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY,
  username TEXT UNIQUE NOT NULL,
  password TEXT NOT NULL,
  client_id TEXT UNIQUE NOT NULL,
  account_key TEXT NOT NULL,
  user_cipher TEXT NOT NULL,
  account_cipher TEXT NOT NULL,
  email TEXT NOT NULL,
  max_devices INTEGER NOT NULL,
  blocked INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS devices(
  device_id TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL,
  pass TEXT NOT NULL,
  record TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS versions(
  id INTEGER PRIMARY KEY,
  owner TEXT NOT NULL,
  path TEXT NOT NULL,
  number INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified TEXT NOT NULL,
  uploaded TEXT NOT NULL,
  object TEXT NOT NULL,
  length INTEGER NOT NULL,
  to_delete INTEGER NOT NULL DEFAULT 0,
  UNIQUE(owner, path, number));
CREATE TABLE IF NOT EXISTS settings(
  owner TEXT NOT NULL,
  type TEXT NOT NULL,
  data TEXT NOT NULL,
  PRIMARY KEY(owner, type));
CREATE TABLE IF NOT EXISTS admin_settings(
  account_id INTEGER NOT NULL,
  type TEXT NOT NULL,
  data TEXT NOT NULL,
  PRIMARY KEY(account_id, type));
CREATE TABLE IF NOT EXISTS service_meta(
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reports(
  id INTEGER PRIMARY KEY,
  owner TEXT NOT NULL,
  kind TEXT NOT NULL,
  fields TEXT NOT NULL,
  received TEXT NOT NULL);
)sql";

constexpr const char* kAccountColumns =
    "id, username, password, client_id, account_key, user_cipher, account_cipher, email, max_devices, blocked";
constexpr const char* kVersionColumns = "id, owner, path, number, size, modified, uploaded, object, length, to_delete";

std::string serverTime() { return Date::now().format(Date::kSettingsPattern); }

// SQLite makes its journal files with the mode of the database file, so a
// database created 0600 keeps them private too.
std::unique_ptr<SqliteDb> openPrivate(const std::string& path) {
  createPrivateFile(path);
  for (const char* suffix : {"", "-wal", "-shm"}) tightenMode(path + suffix);
  return std::make_unique<SqliteDb>(path);
}

}  // namespace

MetadataStore::MetadataStore(const std::string& path) : db_(openPrivate(path)) {
  db_->exec(kSchema);
  hashClearPasswords();
}

void MetadataStore::hashClearPasswords() {
  std::vector<std::pair<int64_t, std::string>> clear;
  {
    auto st = db_->prepare("SELECT id, password FROM accounts");
    while (st.step()) {
      if (!PasswordHash::isHash(st.text(1))) clear.emplace_back(st.integer(0), st.text(1));
    }
  }
  if (clear.empty()) return;
  SqliteTransaction tx(*db_);
  for (const auto& [id, password] : clear) {
    db_->prepare("UPDATE accounts SET password = ? WHERE id = ?").bind(1, PasswordHash::make(password)).bind(2, id).run();
  }
  tx.commit();
}

bool MetadataStore::passwordMatches(const Account& account, const std::string& password) {
  return !password.empty() && PasswordHash::verify(password, account.passwordHash);
}

int64_t MetadataStore::maxAccountId() {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT COALESCE(MAX(id), 0) FROM accounts");
  st.step();
  return st.integer(0);
}

std::optional<std::string> MetadataStore::meta(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT value FROM service_meta WHERE key = ?");
  st.bind(1, key);
  if (!st.step()) return std::nullopt;
  return st.text(0);
}

void MetadataStore::setMeta(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  db_->prepare("INSERT OR REPLACE INTO service_meta(key, value) VALUES(?, ?)").bind(1, key).bind(2, value).run();
}

Account MetadataStore::readAccount(SqliteStatement& st) {
  Account a;
  a.id = st.integer(0);
  a.username = st.text(1);
  a.passwordHash = st.text(2);
  a.clientId = st.text(3);
  a.accountKey = st.text(4);
  a.userCipher = st.text(5);
  a.accountCipher = st.text(6);
  a.email = st.text(7);
  a.maxDevices = st.integer(8);
  a.blocked = st.integer(9) != 0;
  return a;
}

std::optional<Account> MetadataStore::accountWhere(const char* column, const std::string& value) {
  auto st = db_->prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE " + column + " = ?");
  st.bind(1, value);
  if (!st.step()) return std::nullopt;
  return readAccount(st);
}

Account MetadataStore::addOrUpdateAccount(const std::string& username, const std::string& password,
                                          int64_t maxDevices) {
  // Hashing takes a while on purpose; not under the lock.
  const std::string hash = PasswordHash::make(password);
  std::lock_guard lock(mutex_);
  if (auto existing = accountWhere("username", username)) {
    db_->prepare("UPDATE accounts SET password = ?, max_devices = ? WHERE id = ?")
        .bind(1, hash)
        .bind(2, maxDevices)
        .bind(3, existing->id)
        .run();
    existing->passwordHash = hash;
    existing->maxDevices = maxDevices;
    return *existing;
  }
  Account a;
  a.username = username;
  a.passwordHash = hash;
  a.clientId = randomUuid();
  a.accountKey = randomAlphanumeric(24);
  a.userCipher = randomAlphanumeric(32);
  a.accountCipher = randomAlphanumeric(32);
  a.email = username.find('@') != std::string::npos ? username : username + "@example.invalid";
  a.maxDevices = maxDevices;
  db_->prepare(
         "INSERT INTO accounts(username, password, client_id, account_key, user_cipher, account_cipher, email, "
         "max_devices) VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
      .bind(1, a.username)
      .bind(2, a.passwordHash)
      .bind(3, a.clientId)
      .bind(4, a.accountKey)
      .bind(5, a.userCipher)
      .bind(6, a.accountCipher)
      .bind(7, a.email)
      .bind(8, a.maxDevices)
      .run();
  a.id = db_->lastInsertRowId();
  return a;
}

bool MetadataStore::setBlocked(const std::string& username, bool blocked) {
  std::lock_guard lock(mutex_);
  db_->prepare("UPDATE accounts SET blocked = ? WHERE username = ?").bind(1, int64_t{blocked}).bind(2, username).run();
  return db_->changes() > 0;
}

std::optional<Account> MetadataStore::accountByUsername(const std::string& username) {
  std::lock_guard lock(mutex_);
  return accountWhere("username", username);
}

std::optional<Account> MetadataStore::accountByClientId(const std::string& clientId) {
  std::lock_guard lock(mutex_);
  return accountWhere("client_id", clientId);
}

std::optional<Account> MetadataStore::accountById(int64_t id) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE id = ?");
  st.bind(1, id);
  if (!st.step()) return std::nullopt;
  return readAccount(st);
}

std::vector<Device> MetadataStore::devicesOf(int64_t accountId) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT device_id, account_id, pass, record FROM devices WHERE account_id = ? ORDER BY rowid");
  st.bind(1, accountId);
  std::vector<Device> out;
  while (st.step()) {
    out.push_back({st.text(0), st.integer(1), st.text(2), Value::parse(st.text(3), nullptr, false)});
  }
  return out;
}

std::optional<Device> MetadataStore::device(const std::string& deviceId) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT device_id, account_id, pass, record FROM devices WHERE device_id = ?");
  st.bind(1, deviceId);
  if (!st.step()) return std::nullopt;
  return Device{st.text(0), st.integer(1), st.text(2), Value::parse(st.text(3), nullptr, false)};
}

Device MetadataStore::addDevice(int64_t accountId, Value record) {
  std::lock_guard lock(mutex_);
  Device d;
  d.deviceId = randomUuid();
  d.accountId = accountId;
  d.pass = randomAlphanumeric(24);
  record["DeviceID"] = d.deviceId;
  d.record = std::move(record);
  db_->prepare("INSERT INTO devices(device_id, account_id, pass, record) VALUES(?, ?, ?, ?)")
      .bind(1, d.deviceId)
      .bind(2, accountId)
      .bind(3, d.pass)
      .bind(4, dumpJson(d.record))
      .run();
  return d;
}

void MetadataStore::updateDeviceRecord(const std::string& deviceId, const Value& record) {
  std::lock_guard lock(mutex_);
  db_->prepare("UPDATE devices SET record = ? WHERE device_id = ?").bind(1, dumpJson(record)).bind(2, deviceId).run();
}

VersionRow MetadataStore::readVersion(SqliteStatement& st) {
  VersionRow v;
  v.id = st.integer(0);
  v.owner = st.text(1);
  v.path = st.text(2);
  v.number = st.integer(3);
  v.size = st.integer(4);
  v.modified = st.text(5);
  v.uploaded = st.text(6);
  v.object = st.text(7);
  v.length = st.integer(8);
  v.toDelete = st.integer(9) != 0;
  return v;
}

VersionRow MetadataStore::addVersion(const std::string& owner, const std::string& path, int64_t size,
                                     const std::string& modified, const std::string& object, int64_t length) {
  std::lock_guard lock(mutex_);
  SqliteTransaction tx(*db_);
  auto next = db_->prepare("SELECT COALESCE(MAX(number), 0) + 1 FROM versions WHERE owner = ? AND path = ?");
  next.bind(1, owner).bind(2, path);
  next.step();
  VersionRow v;
  v.owner = owner;
  v.path = path;
  v.number = next.integer(0);
  v.size = size;
  v.modified = modified;
  v.uploaded = serverTime();
  v.object = object;
  v.length = length;
  db_->prepare(
         "INSERT INTO versions(owner, path, number, size, modified, uploaded, object, length) "
         "VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
      .bind(1, owner)
      .bind(2, path)
      .bind(3, v.number)
      .bind(4, size)
      .bind(5, modified)
      .bind(6, v.uploaded)
      .bind(7, object)
      .bind(8, length)
      .run();
  v.id = db_->lastInsertRowId();
  db_->prepare("UPDATE versions SET to_delete = 0 WHERE owner = ? AND path = ?").bind(1, owner).bind(2, path).run();
  tx.commit();
  return v;
}

std::optional<VersionRow> MetadataStore::latestVersion(const std::string& owner, const std::string& path) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare(std::string("SELECT ") + kVersionColumns +
                         " FROM versions WHERE owner = ? AND path = ? ORDER BY number DESC LIMIT 1");
  st.bind(1, owner).bind(2, path);
  if (!st.step()) return std::nullopt;
  return readVersion(st);
}

std::optional<VersionRow> MetadataStore::version(const std::string& owner, const std::string& path, int64_t number) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare(std::string("SELECT ") + kVersionColumns +
                         " FROM versions WHERE owner = ? AND path = ? AND number = ?");
  st.bind(1, owner).bind(2, path).bind(3, number);
  if (!st.step()) return std::nullopt;
  return readVersion(st);
}

std::vector<VersionRow> MetadataStore::versionsOf(const std::string& owner, const std::string& path) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare(std::string("SELECT ") + kVersionColumns +
                         " FROM versions WHERE owner = ? AND path = ? ORDER BY number");
  st.bind(1, owner).bind(2, path);
  std::vector<VersionRow> out;
  while (st.step()) out.push_back(readVersion(st));
  return out;
}

void MetadataStore::clearDeleteMark(const std::string& owner, const std::string& path) {
  std::lock_guard lock(mutex_);
  db_->prepare("UPDATE versions SET to_delete = 0 WHERE owner = ? AND path = ?").bind(1, owner).bind(2, path).run();
}

std::vector<VersionRow> MetadataStore::latestVersions(const std::string& owner) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare(std::string("SELECT ") + kVersionColumns +
                         " FROM versions v WHERE owner = ? AND number = "
                         "(SELECT MAX(number) FROM versions w WHERE w.owner = v.owner AND w.path = v.path) "
                         "ORDER BY path");
  st.bind(1, owner);
  std::vector<VersionRow> out;
  while (st.step()) out.push_back(readVersion(st));
  return out;
}

std::vector<std::string> MetadataStore::deletePaths(const std::string& owner, const std::vector<std::string>& paths,
                                                    bool immediately) {
  std::lock_guard lock(mutex_);
  SqliteTransaction tx(*db_);
  std::vector<std::string> objects;
  for (const auto& path : paths) {
    if (immediately) {
      auto st = db_->prepare("SELECT object FROM versions WHERE owner = ? AND path = ?");
      st.bind(1, owner).bind(2, path);
      while (st.step()) objects.push_back(st.text(0));
      db_->prepare("DELETE FROM versions WHERE owner = ? AND path = ?").bind(1, owner).bind(2, path).run();
    } else {
      db_->prepare("UPDATE versions SET to_delete = 1 WHERE owner = ? AND path = ?").bind(1, owner).bind(2, path).run();
    }
  }
  tx.commit();
  return objects;
}

std::vector<VersionRow> MetadataStore::allVersions(const std::string& owner) {
  std::lock_guard lock(mutex_);
  auto st =
      db_->prepare(std::string("SELECT ") + kVersionColumns + " FROM versions WHERE owner = ? ORDER BY path, number");
  st.bind(1, owner);
  std::vector<VersionRow> out;
  while (st.step()) out.push_back(readVersion(st));
  return out;
}

std::vector<std::string> MetadataStore::ownersOf(int64_t accountId) {
  std::vector<std::string> owners;
  if (auto account = accountById(accountId)) owners.push_back(account->clientId);
  for (const auto& device : devicesOf(accountId)) owners.push_back(device.deviceId);
  return owners;
}

void MetadataStore::putSettings(const std::string& owner, const std::string& type, const Value& data) {
  std::lock_guard lock(mutex_);
  db_->prepare("INSERT OR REPLACE INTO settings(owner, type, data) VALUES(?, ?, ?)")
      .bind(1, owner)
      .bind(2, type)
      .bind(3, dumpJson(data))
      .run();
}

std::optional<Value> MetadataStore::settings(const std::string& owner, const std::string& type) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT data FROM settings WHERE owner = ? AND type = ?");
  st.bind(1, owner).bind(2, type);
  if (!st.step()) return std::nullopt;
  return Value::parse(st.text(0), nullptr, false);
}

void MetadataStore::putAdminSettings(int64_t accountId, const std::string& type, const Value& data) {
  std::lock_guard lock(mutex_);
  if (data.is_null()) {
    db_->prepare("DELETE FROM admin_settings WHERE account_id = ? AND type = ?").bind(1, accountId).bind(2, type).run();
    return;
  }
  db_->prepare("INSERT OR REPLACE INTO admin_settings(account_id, type, data) VALUES(?, ?, ?)")
      .bind(1, accountId)
      .bind(2, type)
      .bind(3, dumpJson(data))
      .run();
}

std::optional<Value> MetadataStore::adminSettings(int64_t accountId, const std::string& type) {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT data FROM admin_settings WHERE account_id = ? AND type = ?");
  st.bind(1, accountId).bind(2, type);
  if (!st.step()) return std::nullopt;
  return Value::parse(st.text(0), nullptr, false);
}

void MetadataStore::addReport(const std::string& owner, const std::string& kind, const Value& fields) {
  std::lock_guard lock(mutex_);
  db_->prepare("INSERT INTO reports(owner, kind, fields, received) VALUES(?, ?, ?, ?)")
      .bind(1, owner)
      .bind(2, kind)
      .bind(3, dumpJson(fields))
      .bind(4, serverTime())
      .run();
}

Value MetadataStore::reports() {
  std::lock_guard lock(mutex_);
  auto st = db_->prepare("SELECT owner, kind, fields, received FROM reports ORDER BY id");
  Value out = Value::array();
  while (st.step()) {
    out.push_back({{"owner", st.text(0)},
                   {"kind", st.text(1)},
                   {"fields", Value::parse(st.text(2), nullptr, false)},
                   {"received", st.text(3)}});
  }
  return out;
}

}  // namespace palvero::service
