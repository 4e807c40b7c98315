// The failure of one SQLite call: the engine's primary result code and its
// message. Thrown only by the Sqlite* wrappers and caught by their callers at
// the operation boundary.
#pragma once

#include <stdexcept>
#include <string>

namespace palvero {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

  // The primary result code (SQLITE_ERROR, SQLITE_CORRUPT, ...).
  int code() const { return code_ & 0xff; }
  int extendedCode() const { return code_; }
  // The file is damaged or is not a database at all.
  bool isCorruption() const;
  // The connection itself is unusable (I/O error, file gone or unopenable).
  bool isConnectionLost() const;

 private:
  int code_;
};

}  // namespace palvero
