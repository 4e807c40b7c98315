#include "state/SqliteConnection.h"

#include <sqlite3.h>

#include <utility>

#include "state/SqliteError.h"

namespace palvero {

SqliteConnection SqliteConnection::open(const std::string& path) {
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw SqliteError(rc, message);
  }
  sqlite3_extended_result_codes(db, 1);
  return SqliteConnection(db);
}

SqliteConnection::~SqliteConnection() { close(); }

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), cache_(std::move(other.cache_)) {}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
  if (this != &other) {
    close();
    db_ = std::exchange(other.db_, nullptr);
    cache_ = std::move(other.cache_);
  }
  return *this;
}

void SqliteConnection::close() {
  cache_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void SqliteConnection::fail() const {
  if (!db_) throw SqliteError(SQLITE_MISUSE, "database is closed");
  throw SqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_));
}

void SqliteConnection::exec(const std::string& sql) {
  if (!db_) fail();
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail();
}

SqliteStatement SqliteConnection::prepare(std::string_view sql) {
  if (!db_) fail();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), 0, &statement, nullptr);
  if (rc != SQLITE_OK) fail();
  return SqliteStatement(statement);
}

SqliteConnection::Lease SqliteConnection::cached(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it == cache_.end()) {
    if (!db_) fail();
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                                nullptr);
    if (rc != SQLITE_OK) fail();
    it = cache_.emplace(sql, std::make_unique<SqliteStatement>(statement)).first;
  }
  return Lease(*it->second);
}

int64_t SqliteConnection::changes() const { return db_ ? sqlite3_changes64(db_) : 0; }

void SqliteConnection::setBusyTimeout(int milliseconds) {
  if (db_) sqlite3_busy_timeout(db_, milliseconds);
}

SqliteTransaction::SqliteTransaction(SqliteConnection& connection) : connection_(connection) {
  connection_.exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
  if (!open_) return;
  try {
    connection_.exec("ROLLBACK");
  } catch (const SqliteError&) {
    // The engine already rolled back (for example after SQLITE_FULL).
  }
}

void SqliteTransaction::commit() {
  connection_.exec("COMMIT");
  open_ = false;
}

}  // namespace palvero
