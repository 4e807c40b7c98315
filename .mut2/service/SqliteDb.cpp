#include "SqliteDb.h"

#include <stdexcept>

namespace palvero::service {
namespace {

[[noreturn]] void fail(sqlite3* db, std::string_view what) {
  throw std::runtime_error(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    fail(db_, "prepare");
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    fail(db_, "bind");
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

bool SqliteStatement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, "step");
}

void SqliteStatement::run() {
  while (step()) {
  }
}

std::string SqliteStatement::text(int column) const {
  const unsigned char* value = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return value ? std::string(reinterpret_cast<const char*>(value), static_cast<size_t>(size)) : std::string();
}

int64_t SqliteStatement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

SqliteDb::SqliteDb(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, 5000);
  exec("PRAGMA journal_mode=WAL");
  exec("PRAGMA synchronous=FULL");
}

SqliteDb::~SqliteDb() { sqlite3_close(db_); }

void SqliteDb::exec(std::string_view sql) {
  std::string owned(sql);
  char* message = nullptr;
  if (sqlite3_exec(db_, owned.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("exec: " + text);
  }
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (!done_) {
    try {
      db_.exec("ROLLBACK");
    } catch (const std::exception&) {
    }
  }
}

void SqliteTransaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace palvero::service
