// The two kinds of worker: BackupThread (driven by the backup run under its
// lock) and RestoreThread (driven by the restore queue). What a
// worker holds is WorkerRecord, kept beside the restore queue because that
// layer sits below this one.
#pragma once

#include "restore/RestoreThread.h"
#include "restore/WorkerRecord.h"

namespace palvero {

// A backup worker.
class BackupThread final : public WorkerRecord {
 public:
  using WorkerRecord::WorkerRecord;
};

}  // namespace palvero
