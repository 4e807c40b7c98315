// The restore side of the running application: a RestoreManager on the
// process's restore workers (ThreadWorker::restoreThreads, threads counted by
// ThreadManager), offered to the main window controller as its
// RestoreControl. At start it reports an unfinished restore (the stored
// "restoring" flag with rows left in the restore table) as running, so the
// controller's initialisation continues it.
//
// Thread contract: as RestoreControl (any thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/RestoreControl.h"
#include "restore/RestoreManager.h"

namespace palvero {

class CommunicationServer;

class RestoreQueueControl final : public RestoreControl {
 public:
  explicit RestoreQueueControl(std::shared_ptr<CommunicationServer> server);

  bool isRestoring() const override;
  bool isRestorePausedByUser() const override;
  void pauseRestore() override;
  void startRestore() override;
  void startNewRestore(const RestoreChoice& choice) override;
  void statusButtonPressed() override;

  // Files left of a restore that is not running (interrupted, or paused
  // before a restart), to be continued with startRestore(); 0 when none.
  int64_t unfinishedFiles() const;

  RestoreManager& manager() { return *manager_; }
  const RestoreManager& manager() const { return *manager_; }

 private:
  std::unique_ptr<RestoreManager> manager_;
  // Whether this process has started or continued a restore yet.
  std::atomic<bool> started_{false};
};

}  // namespace palvero
