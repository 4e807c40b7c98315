// What the main window shows, as plain data: the status area of the backup
// page, the check-status rows and the failed-files list. The controller
// fills it; a window (Qt) or a terminal (the CLI) only renders it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero {

struct StatusModel {
  enum class ButtonImage { kPause, kResume };  // "Pause.png", "Resume.png"

  std::string filesLabel;         // "%lu " + "filesToBackup"
  std::string sizeText;           // "BackupedFilesSizeTotal" + " %.2f MB/%.2lf GB"
  std::string timeRemainingText;  // estimate, "CalculationRemainingTime" or empty
  std::string timeSinceText;      // in-progress caption or the time since the run started
  bool timeSinceIsInProgressCaption = false;
  std::string lastBackupText;     // "backupDone" + " dd.MM.yyyy hh:mm", or "-"
  double progress = 0;            // 0 ... 100
  ButtonImage buttonImage = ButtonImage::kResume;
  bool buttonEnabled = false;
  bool threadSliderEnabled = true;
  int threadSliderPosition = 1;   // 1 ... 5
  bool scanning = false;

  bool backuping = false;
  int64_t filesToBackupCount = 0;
  int64_t totalFilesItr = 0;
  int64_t backedUpBytes = 0;
  int64_t totalBackupBytes = 0;
};

struct CheckStatusRow {
  static constexpr const char* kCheckImage = "backup_icon_check.png";
  static constexpr const char* kNotBackedUpImage = "backup_not_backed_up_icon.png";

  std::string text;
  bool ok = true;  // the check image, else the not-backed-up image
  bool enabled = true;

  const char* image() const { return ok ? kCheckImage : kNotBackedUpImage; }
};

struct CheckStatusModel {
  CheckStatusRow server;
  CheckStatusRow storage;
  CheckStatusRow lastBackup;
  CheckStatusRow other;
  CheckStatusRow failedFiles;
  CheckStatusRow version;
  bool statusOK = true;  // the view's button image
  bool evaluated = false;
};

struct FailedFile {
  std::string path;
  int64_t size = 0;
  std::string date;
  std::string error;
};

// One backup run as it ended, for the CLI's summary.
struct RunSummary {
  int64_t filesBackedUp = 0;
  int64_t filesFailed = 0;
  int64_t bytesBackedUp = 0;
  double seconds = 0;
  bool finished = false;  // false: stopped, paused or cancelled before the queue was empty
  std::string stopReason;
  std::vector<std::string> failedPaths;
};

}  // namespace palvero
