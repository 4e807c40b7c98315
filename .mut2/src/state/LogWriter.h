// The process-wide diagnostic log: one line per entry in the current file
// "<support folder>/log<N>.log", a new numbered file once the current one
// passes 5,000,000 bytes, at most 50 files kept. The file number and path
// survive restarts in the preferences store ("logNum", "logFilepath").
//
// Line: "Log<N> | <thread> | <entry type> | <local date and time> | <session type> | <text>\n"
//
// Thread contract: every member is safe from any thread; one recursive lock
// serialises entries and file switches. Nothing here throws: a failure loses
// the entry and is reported to the system log.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace palvero {

// Entry types (`LogEntryType`).
enum LogEntryType : uint32_t {
  kSessionStarted = 0,
  kSessionEnded = 1,
  kGeneralLogEvent = 2,
  kStartingBackup = 3,
  kContinuingBackup = 4,
  kBackupFinished = 5,
  kBackupError = 6,
  kStartingRestore = 7,
  kRestoreFinished = 8,
  kRestoreError = 9,
  kFileNotFound = 10,
  kFileNotChanged = 11,
  kNotSupported = 12,
};

// Session types (`LogSessionType`).
enum LogSessionType : int32_t {
  kSessionBackup = 0,
  kSessionRestore = 1,
  kSessionOther = 2,
};

// Detail levels: 1 failures, 2 events, 3 detail. Written nowhere, filters nothing.
enum LogDetailLevel : int {
  kLogFailure = 1,
  kLogEvent = 2,
  kLogDetail = 3,
};

class LogWriter {
 public:
  static constexpr int64_t kMaxFileSize = 5000000;
  static constexpr size_t kMaxFiles = 50;

  static LogWriter& sharedLogger();
  // Forgets the shared instance; the next call reads the preferences again.
  static void resetForTesting();

  // Appends one line. `logEntry` is the entry type, `LogType` the session type.
  void logEntry(uint32_t logEntry, int32_t LogType, const std::string& Entry, int logLevel);
  // Switches to file number `logNum` + 1, unless another caller already did.
  void createNewLogFile(int64_t logNum);
  // Deletes the oldest files whose names contain ".log" beyond the 50 newest.
  void cleanLogFiles(const std::string& folder);
  // Stores "logNum" and "logFilepath" in the preferences store.
  void save();

  std::string currentLogFilepath() const;
  int64_t logNum() const;

  static const char* entryTypeName(uint32_t type);
  static const char* sessionTypeName(int32_t type);

  LogWriter();

 private:
  std::string filePathForNumber(int64_t number) const;

  mutable std::recursive_mutex mutex_;
  std::string folder_;              // guarded by mutex_
  int64_t logNum_ = 0;              // guarded by mutex_
  std::string currentLogFilepath_;  // guarded by mutex_
};

}  // namespace palvero
