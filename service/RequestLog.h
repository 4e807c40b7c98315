// What clients sent: one entry per request to /server.php with its kind,
// decoded fields, file parts (name, file name, size), the headers tests care
// about, the raw body of small forms, the status answered and the fault
// applied. Entries are appended to <data>/requests.jsonl (one JSON object per
// line) and the newest 10,000 are kept in memory for the control request.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>

#include "base/Value.h"

namespace palvero::service {

class RequestLog {
 public:
  static constexpr size_t kMemoryEntries = 10000;
  static constexpr size_t kMaxValueBytes = 65536;

  explicit RequestLog(const std::string& path);

  // Adds "seq" and appends. Values longer than kMaxValueBytes are cut.
  void append(Value entry);
  // The kept entries, oldest first.
  Value entries() const;
  void clear();
  uint64_t count() const;

 private:
  mutable std::mutex mutex_;
  std::ofstream file_;         // guarded by mutex_
  std::deque<Value> entries_;  // guarded by mutex_
  uint64_t seq_ = 0;           // guarded by mutex_
};

// A text cut to at most `limit` bytes, with a note of what was cut.
std::string clipForLog(const std::string& text, size_t limit = RequestLog::kMaxValueBytes);
// JSON text that never throws on bytes that are not UTF-8 (they are replaced).
std::string dumpJson(const Value& value);

}  // namespace palvero::service
