// A restore worker: one engine restoring one file at a time, each file on a
// new thread of its own; the restore queue (RestoreManager) drives it.
// `iterator` is the index of its entry in the queue's current list and
// `currentPath` that entry's path (a completion is recorded only for the
// entry the worker really holds).
#pragma once

#include "restore/WorkerRecord.h"

namespace palvero {

class RestoreThread final : public WorkerRecord {
 public:
  using WorkerRecord::WorkerRecord;
  // Bumped at every hand-out: a completion carries the number it was
  // started with, so a late one from a replaced hand-out changes nothing.
  // Guarded by the queue lock.
  uint64_t handout = 0;
  // The hand-out `handout` has been reported by the engine. Guarded by the
  // queue lock.
  bool reported = false;
};

}  // namespace palvero
