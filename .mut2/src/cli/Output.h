// What the palvero command prints: sizes, the progress line of a run, the
// run's summary and the status report, as text (and JSON for status).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "app/BackupRunner.h"
#include "app/RestoreRunner.h"
#include "app/StatusReport.h"
#include "app/VerifyRunner.h"

namespace palvero::cli {

// The progress line of a run, rewritten in place on a terminal (nothing
// otherwise).
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
  void show(const BackupRunner::Progress& progress);
  // Blanks the line, before the summary.
  void clear();

 private:
  std::ostream& out_;
  const bool terminal_;
  size_t width_ = 0;
};

class Output {
 public:
  // "0 B", "999 B", "1.0 kB", "12.3 MB", "4.56 GB" (powers of 1000).
  static std::string bytes(int64_t count);
  // "3 s", "2 min 5 s", "1 h 02 min".
  static std::string duration(double seconds);
  // "  120/400 files  12.3 MB/45.6 MB  10.2 MB/s  about 3 s left".
  static std::string progressLine(const BackupRunner::Progress& progress);
  // The end of a run: files, bytes, rate, failures.
  static std::string summary(const BackupRunner::Result& result);
  static std::string status(const StatusReport& report);
  // The end of a restore: files, bytes, rate, and every file that failed
  // with its reason.
  static std::string restoreSummary(const RestoreRunner::Result& result);
  // The end of a verify: what was checked, then every file that cannot be
  // restored with the reason.
  static std::string verifySummary(const VerifyRunner::Result& result);
};

}  // namespace palvero::cli
