#include "restore/WorkerThreads.h"

#include <thread>

namespace palvero {

void WorkerThreads::start(const std::shared_ptr<WorkerRecord>& worker, std::function<void()> body) {
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  std::thread([this, worker, body = std::move(body)] {
    auto self = std::this_thread::get_id();
    worker->setThread(self);
    body();
    // The id of an ended thread is given to later threads: a record must not
    // keep it, or a new thread would find this worker as its own.
    worker->clearThread(self);
    std::lock_guard lock(mutex_);
    if (--running_ == 0) finished_.notify_all();
  }).detach();
}

bool WorkerThreads::waitForNone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return finished_.wait_for(lock, timeout, [this] { return running_ == 0; });
}

}  // namespace palvero
