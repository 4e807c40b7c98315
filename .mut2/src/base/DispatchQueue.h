// Background work: a queue of tasks served by a bounded pool of threads that
// are started on demand. global() is the process-wide pool for network and
// scan work started from timers and the interface; a queue made with one
// thread runs its tasks in order.
//
// Thread contract: every member is safe from any thread. The destructor waits
// for the queued tasks to finish.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace palvero {

class DispatchQueue {
 public:
  DispatchQueue(std::string label, size_t maxThreads);
  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  // The process-wide pool (8 threads at most); never destroyed.
  static DispatchQueue& global();

  void async(std::function<void()> task);
  // Blocks until no task is queued or running.
  void waitUntilIdle();
  const std::string& label() const { return label_; }

 private:
  void workerLoop();

  const std::string label_;
  const size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  std::vector<std::thread> threads_;         // guarded by mutex_
  size_t idleThreads_ = 0;                   // guarded by mutex_
  size_t running_ = 0;                       // guarded by mutex_
  bool shuttingDown_ = false;                // guarded by mutex_
};

}  // namespace palvero
