// The threads that serve connections. The server library gives each
// connection one thread for as long as it lasts, so a fixed pool is held by
// as many slow or idle clients as it has threads. This pool keeps `threads`
// and starts another whenever every thread is busy, up to `maxThreads`;
// only past that do new connections wait. Together with the time limits of
// Service (silence, request body) a few slow clients cannot shut others out.
//
// Thread contract: enqueue() and shutdown() from any thread; shutdown()
// once, last.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace palvero::service {

class ConnectionPool : public httplib::TaskQueue {
 public:
  ConnectionPool(size_t threads, size_t maxThreads);
  ~ConnectionPool() override;

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

  size_t threadCount() const;

 private:
  void startThread();  // call with mutex_ held
  void work();

  const size_t maxThreads_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_
  std::vector<std::thread> threads_;        // guarded by mutex_
  size_t idle_ = 0;                         // guarded by mutex_
  bool stopping_ = false;                   // guarded by mutex_
};

}  // namespace palvero::service
