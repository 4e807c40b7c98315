// The restore side as the backup core sees it: the emergency stop and
// start, the watchdog, the pause/resume button and the update installation
// consult it. The restore queue implements it; without one, no restore
// runs.
//
// Thread contract: every member may be called from any thread.
#pragma once

#include "restore/RestoreChoice.h"

namespace palvero {

class RestoreControl {
 public:
  virtual ~RestoreControl() = default;

  virtual bool isRestoring() const = 0;
  virtual bool isRestorePausedByUser() const = 0;
  // Stops the restore workers; the unfinished entries stay in the database.
  virtual void pauseRestore() = 0;
  // Continues the restore from the database.
  virtual void startRestore() = 0;
  // Starts a new restore of `choice` (the restore the first run chose).
  virtual void startNewRestore(const RestoreChoice& choice) = 0;
  // The pause/resume button while a restore is shown.
  virtual void statusButtonPressed() = 0;
};

}  // namespace palvero
