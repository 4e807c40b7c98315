// One backup run in the foreground, without a window: the main window
// controller's own start-up, status check and startBackup, its workers and
// batches, driven on the calling thread's run loop until the run ends.
// The CLI's "backup" command and the demo use it.
//
// Thread contract: run() on the thread that drives `loop` (it becomes the
// main loop's thread for the run); `interrupt` may be set from any thread
// (a signal thread), which then should wake the loop with loop.async({}).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/MainViewController.h"
#include "app/ServerLink.h"
#include "app/StatusModel.h"
#include "base/StdRunLoop.h"

namespace palvero {

class BackupRunner {
 public:
  enum class Outcome {
    kFinished,      // the queue is empty (some files may have failed)
    kNothingToDo,   // nothing was waiting
    kNotLoggedIn,   // the client is not initialised
    kRefused,       // the service refused the session
    kUnreachable,   // the service did not answer
    kNotAllowed,    // the status check forbids runs (storage full, new version)
    kInterrupted,   // stopped by the caller
    kStopped,       // stopped from inside (an engine without a session)
  };

  struct Progress {
    int64_t filesDone = 0;
    int64_t filesTotal = 0;
    int64_t bytesDone = 0;
    int64_t bytesTotal = 0;
    double seconds = 0;
  };

  struct Result {
    Outcome outcome = Outcome::kFinished;
    RunSummary summary;
    CheckStatusModel rows;
    int64_t queuedAtStart = 0;
    int64_t bytesAtStart = 0;
    int64_t deletedOnServer = 0;  // removed files marked deleted on the service
    std::string message;
  };

  struct Options {
    std::shared_ptr<ServerLink> server;               // CommunicationServerLink when null
    MainViewController::EngineFactory engineFactory;  // DeltaHandler when null
    std::chrono::milliseconds progressInterval{500};
  };

  explicit BackupRunner(Options options);

  Result run(StdRunLoop& loop, const std::function<void(const Progress&)>& onProgress,
             const std::atomic<bool>& interrupt);

 private:
  Options options_;
};

}  // namespace palvero
