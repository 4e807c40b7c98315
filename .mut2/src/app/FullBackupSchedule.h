// When the whole backup folder goes through a backup again: thirty days
// after the last full backup (the catalogue's "lastFullBackup"), the
// catalogue's "needFullBackup" is set and the main window's time-remaining
// update rebuilds the queue. A client that has never scanned its folder (a
// login without the first scan, or a first run that went to a restore
// first) has no "lastFullBackup": it is due its first scan, which stamps it,
// and is not treated as thirty days late.
//
// Thread contract: decideAtStart() on the thread that starts the controller.
#pragma once

#include "base/Date.h"

namespace palvero {

class FullBackupSchedule {
 public:
  static constexpr double kInterval = 2592000;  // thirty days, in seconds

  enum class AtStart {
    kNothing,
    kFullBackupDue,  // "needFullBackup" set, "lastFullBackup" = now; both saved
    kFirstScanDue,   // the folder was never scanned: run the first scan
  };

  // Decides at the controller's start and stores what it decided. A
  // catalogue without "lastFullBackup" whose folder was scanned before
  // ("dateLastScan" set, from an older build) gets "lastFullBackup" = now.
  static AtStart decideAtStart(Date now);
};

}  // namespace palvero
