// What a new front end does when another Palvero holds the instance lock:
// tell who holds it (a desktop app, which is brought forward; `palvero
// daemon`, which may be stopped cleanly; or a short command, which is waited
// for) and, when asked, stop the daemon and take the lock once it has let go.
//
// Thread contract: stopDaemonAndLock() blocks for up to its timeout; call
// it off a window's main thread. The rest returns at once.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/InstanceLock.h"

namespace palvero {

class InstanceTakeover {
 public:
  enum class Holder { kUnknown, kDaemon, kDesktop, kCommand };

  // Reads the holder's command line: "palvero ... daemon" is the daemon,
  // "palvero-desktop" the desktop app, another "palvero" command a command.
  static Holder classify(const std::vector<std::string>& arguments);
  static Holder holder(std::optional<long> pid);

  // Sends the daemon SIGTERM (it writes its queue and saves its settings on
  // the way out) and waits until the lock is free, then holds it. Nothing
  // when the daemon could not be signalled or did not let go in time.
  static std::unique_ptr<InstanceLock> stopDaemonAndLock(long pid, std::chrono::milliseconds timeout);
};

}  // namespace palvero
