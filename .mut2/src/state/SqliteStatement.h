// One prepared SQLite statement (RAII over sqlite3_stmt). Values are bound,
// never formatted into the text: text is bound with its explicit byte length,
// so quotes, NUL bytes and bytes that are not UTF-8 are stored unchanged.
//
// Thread contract: none of its own; used under the lock of whoever owns the
// connection. Every failure throws SqliteError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3_stmt;

namespace palvero {

class SqliteStatement {
 public:
  SqliteStatement() = default;
  explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Parameter indexes start at 1.
  void bind(int index, int64_t value);
  void bind(int index, std::string_view text);
  void bindNull(int index);

  // Runs to the next row: true when a row is ready, false when done.
  bool step();
  // Steps until done (for statements that return no rows).
  void run();
  // Makes the statement ready to run again and clears its bindings.
  void reset();

  bool columnIsNull(int column) const;
  int64_t columnInt64(int column) const;
  // The column's bytes as stored (empty for NULL).
  std::string columnText(int column) const;

  explicit operator bool() const { return statement_ != nullptr; }

 private:
  [[noreturn]] void fail(int code) const;

  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace palvero
