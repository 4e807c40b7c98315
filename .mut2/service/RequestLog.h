// What clients sent: one entry per request to /server.php with its kind,
// decoded fields, file parts (name, file name, size), the headers tests care
// about, the raw body of forms, the status answered and the fault applied.
//
// Bounded, because refused requests are logged too: an entry keeps at most
// 32 fields and 64 file parts, every text is cut at 16 KiB, the newest
// entries are kept in memory up to 10,000 of them or 4 MiB of text, and the
// file <data>/requests.jsonl (one JSON object per line, mode 0600) is
// renamed to requests.jsonl.1 (replacing the one before) once it would pass
// its size limit.
//
// Secrets (LogRedaction) never reach the file. The entries in memory, read
// only through the test control, keep them when `keepSecretsInMemory`, so
// that tests can check what a client sent.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "base/Value.h"

namespace palvero::service {

class RequestLog {
 public:
  static constexpr size_t kMemoryEntries = 10000;
  static constexpr size_t kMemoryBytes = 4 * 1024 * 1024;
  static constexpr size_t kMaxFields = 32;
  static constexpr size_t kMaxParts = 64;
  static constexpr size_t kMaxValueBytes = 16 * 1024;

  // Throws std::runtime_error when the file cannot be opened.
  RequestLog(const std::string& path, int64_t maxFileBytes, bool keepSecretsInMemory);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Adds "seq" and "time", cuts the entry to the bounds above and appends.
  void append(Value entry);
  // The kept entries, oldest first.
  Value entries() const;
  void clear();
  uint64_t count() const;
  // Text bytes of the entries kept in memory.
  size_t memoryBytes() const;

 private:
  void writeLine(const std::string& line);

  const std::string path_;
  const int64_t maxFileBytes_;
  const bool keepSecrets_;
  mutable std::mutex mutex_;
  int fd_ = -1;                 // guarded by mutex_
  int64_t fileBytes_ = 0;       // guarded by mutex_
  std::deque<Value> entries_;   // guarded by mutex_
  std::deque<size_t> sizes_;    // guarded by mutex_: text bytes of each entry
  size_t memoryBytes_ = 0;      // guarded by mutex_
  uint64_t seq_ = 0;            // guarded by mutex_
};

// A text cut to at most `limit` bytes, with a note of what was cut.
std::string clipForLog(const std::string& text, size_t limit = RequestLog::kMaxValueBytes);
// JSON text that never throws on bytes that are not UTF-8 (they are replaced).
std::string dumpJson(const Value& value);

}  // namespace palvero::service
