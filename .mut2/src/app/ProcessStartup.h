// The one start-up of every Palvero process (each palvero command, the
// daemon, the desktop app): the main run loop, and the process-wide
// collaborators that lower layers reach through small interfaces without
// knowing the layers above (the extension catalogue of the settings
// requests). A front end calls start() first thing; AppDelegate and
// FirstRun install the collaborators again on their own (installing twice
// changes nothing), so no front end can leave one out.
//
// Thread contract: start() on the thread that will run the main loop,
// before other threads use the core; installCollaborators() from any thread.
#pragma once

#include <memory>

namespace palvero {

class RunLoop;

class ProcessStartup {
 public:
  // Makes `mainLoop` the main run loop (when given) and installs the
  // collaborators.
  static void start(std::shared_ptr<RunLoop> mainLoop);
  // The extension catalogue for the settings requests (the shared
  // CommonExtensions); one a test installed is kept.
  static void installCollaborators();
};

}  // namespace palvero
