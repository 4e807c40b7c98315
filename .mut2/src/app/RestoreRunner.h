// One restore run in the foreground, without a window: the user's request
// (everything, items, one revision; latest or as at a date; in place or into
// a folder) resolved against the service's listings into a RestoreChoice,
// then the restore queue with its workers, driven on the calling thread's
// run loop until it ends. An interrupted run (a signal, a kill) stays in the
// restore table and continues with `resume`. The CLI's "restore" command and
// the demo use it.
//
// Thread contract: run() on the thread that drives `loop` (it becomes the
// main loop's thread for the run); `interrupt` may be set from any thread,
// which then should wake the loop with loop.async({}).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BackupRunner.h"
#include "base/Date.h"
#include "base/StdRunLoop.h"
#include "restore/RestoreChoice.h"
#include "restore/RestoreManager.h"

namespace palvero {

class CommunicationServer;

class RestoreRunner {
 public:
  enum class Outcome {
    kFinished,     // every entry handled (some may have failed)
    kNothingToDo,  // nothing matched, or no interrupted restore to resume
    kBadRequest,   // an item is not on the service, a revision does not exist...
    kNotLoggedIn,
    kRefused,      // the service refused the session
    kUnreachable,  // the service did not answer
    kInterrupted,  // stopped by the caller; the rest stays for `resume`
    kStopped,      // stopped from inside (no disk space, no session)
  };

  struct Request {
    bool all = false;
    std::vector<std::string> items;  // server paths of files or folders
    std::optional<Date> at;          // the state at this date; nothing: latest
    std::string to;                  // destination folder; empty: original paths
    bool keepExisting = false;       // never replace a local file
    std::string device;              // another device's id; empty: this one
    std::optional<int64_t> revision; // one revision of the single file item
    bool resume = false;             // continue the interrupted restore
  };

  using Progress = BackupRunner::Progress;

  struct Result {
    Outcome outcome = Outcome::kFinished;
    int64_t filesRestored = 0;
    int64_t bytesRestored = 0;
    int64_t filesPlanned = 0;
    double seconds = 0;
    std::vector<FailedRestore> failures;
    // Written beside a local file that was kept: path backed up, name written.
    std::vector<std::pair<std::string, std::string>> keptBeside;
    std::string message;
  };

  struct Options {
    std::shared_ptr<CommunicationServer> server;                    // CommunicationServer::create() when null
    std::function<std::shared_ptr<BlockEngine>()> engineFactory;  // DeltaHandler when null
    size_t workers = 0;                                             // numberOfThreads when 0
    std::chrono::milliseconds progressInterval{500};
  };

  explicit RestoreRunner(Options options);

  Result run(StdRunLoop& loop, const Request& request, const std::function<void(const Progress&)>& onProgress,
             const std::atomic<bool>& interrupt);

  // The choice a request stands for, items looked up in their folders'
  // listings; nothing with `message` set when the request cannot be met.
  std::optional<RestoreChoice> choiceFor(const Request& request, std::string& message, Outcome& outcome);

 private:
  Options options_;
};

}  // namespace palvero
