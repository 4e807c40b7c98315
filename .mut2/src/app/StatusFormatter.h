// The texts of the status area and the check-status rows, as pure
// functions of the figures (so that they are tested without a window).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Date.h"
#include "base/Value.h"

namespace palvero {

class StatusFormatter {
 public:
  // "%lu " + "filesToBackup".
  static std::string filesLabel(int64_t count);
  // Files left: filesToBackupCount - totalFilesItr, never negative.
  static int64_t remainingFiles(int64_t filesToBackupCount, int64_t totalFilesItr);
  // "BackupedFilesSizeTotal" + " %.2f %@/%.2lf %@": done in MB (GB above
  // 10^9 bytes), total in GB above 10^9 bytes, else MB.
  static std::string sizeText(int64_t doneBytes, int64_t totalBytes);
  // The time-since label outside a run: "xSeconds", "xMinutes", "xHours" or
  // "moreThan9Hours" for a negative interval; empty below one second.
  static std::string timeSince(double seconds);
  // m minutes: "%ld mins ", "%ld hrs %ld mins ", "More than 72 hours ", each
  // followed by "left".
  static std::string timeRemaining(int64_t minutes);
  // The mean of the files and the size estimate (minutes), or nothing while
  // it cannot be trusted (counter below 2, 1.0 or less, negative, infinite).
  static std::optional<double> estimateMinutes(int64_t counter, int64_t filesToBackupCount, int64_t totalFilesItr,
                                               double totalGigabytes, double doneGigabytes);
  // "backupDone" + " dd.MM.yyyy hh:mm", or "-".
  static std::string lastBackupText(const std::optional<Date>& dateBackupStarted);

  // The storage row: "Used %.2f MB / %@ GB" etc. `full` is set when the
  // allowance (units of 10^9 bytes, number or text; 0 and -1 unlimited) is
  // exceeded.
  static std::string storageText(int64_t totalUsed, const Value& allowance, bool& full);
  // The allowance as a number, nothing for unlimited or unreadable.
  static std::optional<double> allowanceGigabytes(const Value& allowance);
  // "Last backup was more than 30 days" or "dd.MM.yyyy HH:mm"; `ok` false
  // for a backup older than 30 days.
  static std::string lastBackupRow(const std::optional<Date>& dateBackupStarted, Date now, bool& ok);
  // "%ld" in a localised format replaced by `value` (the tables are data,
  // never printf formats).
  static std::string fillNumber(const std::string& format, int64_t value);
};

}  // namespace palvero
