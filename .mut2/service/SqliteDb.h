// A thin RAII wrapper over the SQLite C API for the service's metadata:
// one connection, prepared statements with bound values. Errors throw
// std::runtime_error with SQLite's message; the request dispatcher turns them
// into a 500 reply.
//
// Thread contract: a connection and its statements belong to one thread at a
// time; MetadataStore serialises access with its own lock.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace palvero::service {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Parameters are numbered from 1.
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bind(int index, int64_t value);
  // Steps once: true while a row is available, false when done.
  bool step();
  // Runs to completion, ignoring rows.
  void run();

  std::string text(int column) const;
  int64_t integer(int column) const;
  bool isNull(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens (creating) the database file; WAL journal, full sync.
  explicit SqliteDb(const std::string& path);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  void exec(std::string_view sql);
  SqliteStatement prepare(std::string_view sql) { return SqliteStatement(db_, sql); }
  int64_t lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }
  int changes() const { return sqlite3_changes(db_); }

 private:
  sqlite3* db_ = nullptr;
};

// Runs BEGIN IMMEDIATE on construction and ROLLBACK on destruction unless
// commit() ran.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace palvero::service
