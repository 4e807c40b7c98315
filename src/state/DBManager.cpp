#include "state/DBManager.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/PrivateFiles.h"
#include "state/LogWriter.h"
#include "state/SqliteError.h"

namespace palvero {
namespace fs = std::filesystem;
namespace {

constexpr int kBusyTimeoutMs = 10000;

const char* const kCreateStatements[] = {
    "CREATE TABLE IF NOT EXISTS DBVERSION (ID TEXT PRIMARY KEY, VERSION INTEGER)",
    "CREATE TABLE IF NOT EXISTS FILESTOBACKUP (PATH TEXT PRIMARY KEY, STATUS INTEGER, SIZE LONG, BACKUPDATE TEXT, "
    "ERROR TEXT, NUMBEROFTRIES INTEGER DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS FILESTORESTORE (PATH TEXT PRIMARY KEY, STATUS INTEGER, SIZE LONG, BACKUPDATE TEXT, "
    "ERROR TEXT, NUMBEROFTRIES INTEGER DEFAULT 0, DEVICEID TEXT, REVISION INTEGER DEFAULT -1)",
    "CREATE TABLE IF NOT EXISTS BLOCKS (ID TEXT PRIMARY KEY, DATE TEXT)",
};

struct ColumnUpgrade {
  const char* table;
  const char* column;
  const char* alter;
};
const ColumnUpgrade kColumnUpgrades[] = {
    {"FILESTOBACKUP", "ERROR", "ALTER TABLE FILESTOBACKUP ADD COLUMN ERROR TEXT"},
    {"FILESTOBACKUP", "NUMBEROFTRIES", "ALTER TABLE FILESTOBACKUP ADD COLUMN NUMBEROFTRIES INTEGER DEFAULT 0"},
    {"FILESTORESTORE", "ERROR", "ALTER TABLE FILESTORESTORE ADD COLUMN ERROR TEXT"},
    {"FILESTORESTORE", "NUMBEROFTRIES", "ALTER TABLE FILESTORESTORE ADD COLUMN NUMBEROFTRIES INTEGER DEFAULT 0"},
    {"FILESTORESTORE", "DEVICEID", "ALTER TABLE FILESTORESTORE ADD COLUMN DEVICEID TEXT"},
    {"FILESTORESTORE", "REVISION", "ALTER TABLE FILESTORESTORE ADD COLUMN REVISION INTEGER DEFAULT -1"},
};

std::mutex gSharedMutex;
std::unique_ptr<DBManager>& sharedInstance() {  // guarded by gSharedMutex
  static auto* instance = new std::unique_ptr<DBManager>();
  return *instance;
}
// Reset instances stay alive: another thread may still hold a reference.
std::vector<std::unique_ptr<DBManager>>& retiredInstances() {  // guarded by gSharedMutex
  static auto* retired = new std::vector<std::unique_ptr<DBManager>>();
  return *retired;
}

void systemLog(const std::string& text) { syslog(LOG_NOTICE, "%s", text.c_str()); }

void logLine(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

std::string substitute(const char* format, const char* placeholder, const std::string& value) {
  std::string text = format;
  auto at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, std::char_traits<char>::length(placeholder), value);
  return text;
}

bool statIdentity(const std::string& path, dev_t& device, ino_t& inode) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}

}  // namespace

DBManager& DBManager::sharedDBManager() {
  std::lock_guard lock(gSharedMutex);
  auto& instance = sharedInstance();
  if (!instance) instance = std::make_unique<DBManager>();
  return *instance;
}

void DBManager::resetForTesting() {
  std::lock_guard lock(gSharedMutex);
  if (!sharedInstance()) return;
  sharedInstance()->closeDatabase();
  retiredInstances().push_back(std::move(sharedInstance()));
}

DBManager::DBManager() : DBManager(Env::supportDirectory() + "/" + kDatabaseFileName) {}

DBManager::DBManager(std::string databasePath) : databasePath_(std::move(databasePath)) {}

DBManager::~DBManager() = default;

std::string DBManager::timestampText(const Date& date) {
  auto micros = date.timePoint().time_since_epoch().count();
  std::time_t seconds = static_cast<std::time_t>(micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0));
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string DBManager::EscapeSymbols(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  return escaped;
}

// --- Opening -----------------------------------------------------------------

bool DBManager::CreateDatabase() {
  std::lock_guard lock(mutex_);
  try {
    closeLocked();
    if (openLocked(true)) return true;
    logLine("Failed to open/create database", kLogEvent);
  } catch (const std::exception& e) {
    logLine(substitute("Exception in open/create database: %@", "%@", e.what()), kLogEvent);
  }
  return false;
}

void DBManager::closeDatabase() {
  std::lock_guard lock(mutex_);
  closeLocked();
}

bool DBManager::deleteDatabase() {
  std::lock_guard lock(mutex_);
  closeLocked();
  std::error_code ec;
  bool removed = fs::remove(databasePath_, ec);
  for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(databasePath_ + suffix, ec);
  return removed;
}

void DBManager::closeLocked() {
  connection_.close();
  cachedBlockCount_.reset();
  openedDevice_ = 0;
  openedInode_ = 0;
}

bool DBManager::ensureOpenLocked() {
  if (connection_.isOpen()) {
    dev_t device = 0;
    ino_t inode = 0;
    if (statIdentity(databasePath_, device, inode) && device == openedDevice_ && inode == openedInode_) return true;
    // Someone removed or replaced the file: writing on would go to a file
    // nobody will ever open again.
    logLine("Database file was removed or replaced; opening it again", kLogEvent);
    closeLocked();
  }
  try {
    return openLocked(false);
  } catch (const std::exception& e) {
    logLine(substitute("Exception in open/create database: %@", "%@", e.what()), kLogEvent);
    closeLocked();
    return false;
  }
}

bool DBManager::openLocked(bool announce) {
  std::error_code ec;
  PrivateFiles::ensureFolder(fs::path(databasePath_).parent_path().string());
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool existed = fs::exists(databasePath_, ec) && fs::file_size(databasePath_, ec) > 0;
    // SQLite gives its journal files the database file's mode, so a file
    // made 0600 here keeps the journals private too.
    for (const char* suffix : {"", "-wal", "-shm"}) PrivateFiles::tightenFile(databasePath_ + suffix);
    if (!existed) PrivateFiles::ensureFile(databasePath_);
    try {
      connection_ = SqliteConnection::open(databasePath_);
      connection_.setBusyTimeout(kBusyTimeoutMs);
      // The first statement reads the file: a damaged one fails here.
      connection_.exec("PRAGMA journal_mode=WAL");
      connection_.exec("PRAGMA synchronous=NORMAL");
      // Checkpoints (the only fsyncs with NORMAL) every ~40 MB of journal
      // rather than every 4 MB: a scan writes hundreds of batches in a row.
      // The journal is cut back to 8 MB once checkpointed.
      connection_.exec("PRAGMA wal_autocheckpoint=10000");
      connection_.exec("PRAGMA journal_size_limit=8388608");
      if (existed) {
        if (announce) systemLog("Database found");
        upgradeLocked();
      } else {
        prepareNewFileLocked();
      }
      if (!statIdentity(databasePath_, openedDevice_, openedInode_)) {
        closeLocked();
        return false;
      }
      return true;
    } catch (const SqliteError& e) {
      closeLocked();
      if (!e.isCorruption() || attempt > 0) return false;
      setAsideLocked(e.what());
    }
  }
  return false;
}

void DBManager::prepareNewFileLocked() {
  createTablesLocked();
  storeVersionLocked();
}

void DBManager::upgradeLocked() {
  int64_t version = 0;
  try {
    auto select = connection_.prepare("SELECT VERSION FROM DBVERSION WHERE ID == 'KEY'");
    if (select.step()) version = select.columnInt64(0);
  } catch (const SqliteError& e) {
    if (e.isCorruption() || e.isConnectionLost()) throw;
    systemLog("Fileversion table not found in database");
    try {
      connection_.exec(kCreateStatements[0]);
    } catch (const SqliteError& createError) {
      if (createError.isCorruption() || createError.isConnectionLost()) throw;
      systemLog("Failed to create table");
    }
  }
  if (version >= kDatabaseVersion) return;
  createTablesLocked();
  alterTablesLocked();
  storeVersionLocked();
}

void DBManager::createTablesLocked() {
  for (const char* statement : kCreateStatements) {
    try {
      connection_.exec(statement);
    } catch (const SqliteError& e) {
      if (e.isCorruption() || e.isConnectionLost()) throw;
      systemLog("Failed to create table");
    }
  }
  logLine("Database succesfully created", kLogEvent);
}

void DBManager::alterTablesLocked() {
  for (const ColumnUpgrade& upgrade : kColumnUpgrades) {
    try {
      connection_.prepare(stringWithFormat("SELECT %s from %s", upgrade.column, upgrade.table));
      systemLog(stringWithFormat("Comlumn %s exists in database", upgrade.column));
      continue;
    } catch (const SqliteError& e) {
      if (e.isCorruption() || e.isConnectionLost()) throw;
    }
    try {
      connection_.exec(upgrade.alter);
    } catch (const SqliteError& e) {
      if (e.isCorruption() || e.isConnectionLost()) throw;
      systemLog("Failed to create table");
    }
  }
  logLine("Database succesfully updated", kLogEvent);
}

bool DBManager::storeVersionLocked() {
  try {
    auto insert = connection_.prepare("INSERT OR REPLACE INTO DBVERSION (ID, VERSION) VALUES ('KEY', ?)");
    insert.bind(1, int64_t{kDatabaseVersion});
    insert.run();
    return true;
  } catch (const SqliteError& e) {
    if (e.isCorruption() || e.isConnectionLost()) throw;
    logLine("Couldn't update db version", kLogFailure);
    return false;
  }
}

void DBManager::setAsideLocked(const std::string& reason) {
  closeLocked();
  std::string stamp = Date::now().format("yyyyMMdd-HHmmss");
  std::string aside = databasePath_ + ".corrupt-" + stamp;
  std::error_code ec;
  for (int n = 1; fs::exists(aside, ec); ++n) aside = databasePath_ + ".corrupt-" + stamp + "-" + std::to_string(n);
  fs::rename(databasePath_, aside, ec);
  if (ec) fs::remove(databasePath_, ec);
  // A journal left beside the new file would be replayed into it.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::error_code moveError;
    if (!fs::exists(databasePath_ + suffix, moveError)) continue;
    fs::rename(databasePath_ + suffix, aside + suffix, moveError);
    if (moveError) fs::remove(databasePath_ + suffix, moveError);
  }
  logLine(stringWithFormat("Database file %s is damaged (%s); moved it to %s and created a new one",
                           databasePath_.c_str(), reason.c_str(), aside.c_str()),
          kLogFailure);
}

// --- Running operations ------------------------------------------------------

bool DBManager::perform(Operation operation, const std::function<void(SqliteConnection&)>& body) {
  const OperationMessages& messages = messagesFor(operation);
  std::lock_guard lock(mutex_);
  if (!ensureOpenLocked()) {
    logLine(messages.cannotOpen, kLogFailure);
    return false;
  }
  try {
    body(connection_);
    return true;
  } catch (const SqliteError& e) {
    logLine(substitute(messages.sqliteProblem, "%i", std::to_string(e.code())), kLogFailure);
    // The code alone does not tell a user that the disk is full.
    logLine(stringWithFormat("Database error: %s", e.what()), kLogFailure);
    handleFailureLocked(e);
  } catch (const std::exception& e) {
    logLine(substitute(messages.exception, "%@", e.what()), kLogFailure);
    cachedBlockCount_.reset();
  }
  return false;
}

void DBManager::handleFailureLocked(const SqliteError& error) {
  cachedBlockCount_.reset();
  if (error.isCorruption()) {
    setAsideLocked(error.what());
    try {
      openLocked(false);
    } catch (const std::exception&) {
      closeLocked();
    }
  } else if (error.isConnectionLost()) {
    closeLocked();
  }
}

}  // namespace palvero
