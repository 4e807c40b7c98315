// Rebuilds the backup queue from a fresh scan of a folder (the rules of the
// selection changed, a full backup is due, a rescan was interrupted): the
// table is emptied, rows waiting for their deletion on the server are kept
// (a scan cannot bring them back, the files are gone), and the folder is
// scanned into it again.
//
// Nothing that was waiting is lost on the way: the filter refuses a file
// that the in-memory batch holds ("already queued"), so the batch is
// emptied before the scan and every file in it that still passes the rules
// is scanned in like any other.
//
// Thread contract: blocks the calling thread for the scan. Rebuilds and
// replaceBatch() take turns on a lock of this class, so no rebuild
// interleaves with another nor has its batch replaced half-way (the scan
// would refuse the replaced batch's files as queued, and lose them).
// Callers stop a running backup first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "state/BackupFile.h"

namespace palvero {

class QueueRebuild {
 public:
  // Scans `folder` (status 10 rows for a full-backup scan) into the emptied
  // table; the first waiting rows become the in-memory batch and are
  // returned. Nothing when `folder` is not a folder (then nothing changes)
  // or the scan failed (the batch is then the table's waiting rows).
  static std::optional<std::vector<BackupFile>> rebuild(const std::string& folder, bool forFullBackup);
  // The in-memory batch becomes `rows`, or the table's waiting rows when
  // there are none; never in the middle of a rebuild.
  static void replaceBatch(std::optional<std::vector<BackupFile>> rows);
};

}  // namespace palvero
