// One SQLite connection (RAII over sqlite3*), with a cache of prepared
// statements that live as long as the connection.
//
// Thread contract: none of its own; the owner serialises every use under its
// lock. Every failure throws SqliteError.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "state/SqliteStatement.h"

struct sqlite3;

namespace palvero {

class SqliteConnection {
 public:
  // Opens (creating when missing) the database file at `path`. The file is
  // not read until the first statement runs.
  static SqliteConnection open(const std::string& path);

  SqliteConnection() = default;
  ~SqliteConnection();
  SqliteConnection(SqliteConnection&& other) noexcept;
  SqliteConnection& operator=(SqliteConnection&& other) noexcept;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Runs one or more statements that return nothing of interest.
  void exec(const std::string& sql);
  // A fresh statement, finalized by its owner.
  SqliteStatement prepare(std::string_view sql);

  // A statement prepared once per connection and reused; it is reset and its
  // bindings cleared when the lease ends.
  class Lease {
   public:
    explicit Lease(SqliteStatement& statement) : statement_(&statement) {}
    ~Lease() { statement_->reset(); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    SqliteStatement* operator->() const { return statement_; }
    SqliteStatement& operator*() const { return *statement_; }

   private:
    SqliteStatement* statement_;
  };
  Lease cached(const std::string& sql);

  // Rows changed by the last INSERT, UPDATE or DELETE.
  int64_t changes() const;
  void setBusyTimeout(int milliseconds);
  bool isOpen() const { return db_ != nullptr; }
  // Finalizes the cached statements and closes; safe to call twice.
  void close();

 private:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  [[noreturn]] void fail() const;

  sqlite3* db_ = nullptr;
  std::map<std::string, std::unique_ptr<SqliteStatement>, std::less<>> cache_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back when destroyed uncommitted.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteConnection& connection);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  void commit();

 private:
  SqliteConnection& connection_;
  bool open_ = true;
};

}  // namespace palvero
