// What "palvero status" tells: whether this computer is logged in, the
// check-status rows (server, storage, last backup, failed files, version)
// and the queue's figures.
//
// Thread contract: gather() blocks for the status check's requests; call
// it on the thread that drives the main run loop, or with none running.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/ServerLink.h"
#include "app/StatusModel.h"
#include "base/Date.h"
#include "base/Value.h"

namespace palvero {

struct StatusReport {
  bool loggedIn = false;
  bool reachable = false;
  bool authorised = false;
  std::string serverURL;
  std::string user;
  std::string device;
  CheckStatusModel rows;
  int64_t pendingFiles = 0;
  int64_t pendingBytes = 0;
  int64_t failedFiles = 0;         // five tries or more: the failed-files list
  int64_t failedRetrying = 0;      // fewer than five: retried by the next run
  int64_t filesToDelete = 0;
  std::optional<Date> lastBackup;  // "dateBackupStarted"
  std::optional<Date> lastScan;

  // Checks with the service through `server` (unless not logged in).
  static StatusReport gather(const std::shared_ptr<ServerLink>& server);
  Value toJSON() const;
};

}  // namespace palvero
