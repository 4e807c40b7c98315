#include "state/SqliteStatement.h"

#include <sqlite3.h>

#include <utility>

#include "state/SqliteError.h"

namespace palvero {

bool SqliteError::isCorruption() const { return code() == SQLITE_CORRUPT || code() == SQLITE_NOTADB; }

bool SqliteError::isConnectionLost() const {
  return code() == SQLITE_IOERR || code() == SQLITE_CANTOPEN || code() == SQLITE_READONLY || code() == SQLITE_FULL ||
         code() == SQLITE_MISUSE;
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

void SqliteStatement::fail(int code) const {
  sqlite3* db = statement_ ? sqlite3_db_handle(statement_) : nullptr;
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  if (db) code = sqlite3_extended_errcode(db);
  throw SqliteError(code, message);
}

void SqliteStatement::bind(int index, int64_t value) {
  int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) fail(rc);
}

void SqliteStatement::bind(int index, std::string_view text) {
  // A null data pointer would bind NULL; an empty text must stay ''.
  const char* data = text.data() ? text.data() : "";
  int rc = sqlite3_bind_text64(statement_, index, data, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) fail(rc);
}

void SqliteStatement::bindNull(int index) {
  int rc = sqlite3_bind_null(statement_, index);
  if (rc != SQLITE_OK) fail(rc);
}

bool SqliteStatement::step() {
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3* db = sqlite3_db_handle(statement_);
  SqliteError error(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
  // Reset so that a failed statement does not keep a read snapshot open.
  sqlite3_reset(statement_);
  throw error;
}

void SqliteStatement::run() {
  while (step()) {
  }
}

void SqliteStatement::reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

bool SqliteStatement::columnIsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

int64_t SqliteStatement::columnInt64(int column) const { return sqlite3_column_int64(statement_, column); }

std::string SqliteStatement::columnText(int column) const {
  const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  if (!data) return {};
  return std::string(data, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

}  // namespace palvero
