// The status area while a restore is shown, as plain data: the files left
// and the sizes, "Preparing to restore..." while the list is built,
// "restorePaused" while the user holds it, an interrupted restore waiting to
// be continued, and the files that failed with their reasons.
//
// Thread contract: of() reads the restore side's atomics and the database
// (its own lock); call it from the main thread's timer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "restore/RestoreManager.h"

namespace palvero {

class RestoreQueueControl;

struct RestoreStatus {
  static constexpr const char* kPreparing = "Preparing to restore...";

  enum class Phase { kNone, kPreparing, kRunning, kPaused, kInterrupted };

  Phase phase = Phase::kNone;
  std::string filesLabel;
  std::string sizeText;
  double progress = 0;  // 0 ... 100
  // The pause/resume button: pause while running, resume while paused or
  // interrupted.
  bool buttonShowsResume = false;
  bool buttonEnabled = false;
  int64_t filesLeft = 0;
  std::vector<FailedRestore> failures;

  bool shown() const { return phase != Phase::kNone; }

  static RestoreStatus of(const RestoreQueueControl& control);
  // The texts alone, from the figures (tests, and the CLI).
  static std::string filesLabelFor(Phase phase, int64_t filesLeft);
  // "RestoringFilesSizeTotal" + " %.2f %@/%.2f %@": megabytes up to 10^9
  // bytes, gigabytes above.
  static std::string sizeTextFor(int64_t restoredBytes, int64_t totalBytes);
};

}  // namespace palvero
