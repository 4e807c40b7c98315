// Starts the threads that run one file each and counts them while they run,
// so that shutdown can wait for the last one before the objects it uses go.
// The threads are detached: a completion starts the next file's thread from
// the finishing one, which cannot join itself; the count stands in for the
// join.
//
// Thread contract: every member is safe from any thread. The object must
// outlive its threads (wait for them before it goes).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "restore/WorkerRecord.h"

namespace palvero {

class WorkerThreads {
 public:
  // Runs `body` on a new thread that is `worker`'s thread from before `body`
  // starts until it returns.
  void start(const std::shared_ptr<WorkerRecord>& worker, std::function<void()> body);
  // Blocks until no thread runs or `timeout` passed; true when none runs.
  bool waitForNone(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  int running_ = 0;  // guarded by mutex_
};

}  // namespace palvero
