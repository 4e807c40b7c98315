#include "base/DispatchQueue.h"

namespace palvero {

DispatchQueue::DispatchQueue(std::string label, size_t maxThreads)
    : label_(std::move(label)), maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

DispatchQueue::~DispatchQueue() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  work_.notify_all();
  for (auto& thread : threads_) thread.join();
}

DispatchQueue& DispatchQueue::global() {
  static auto* queue = new DispatchQueue("global", 8);
  return *queue;
}

void DispatchQueue::async(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  if (idleThreads_ == 0 && threads_.size() < maxThreads_) {
    threads_.emplace_back([this] { workerLoop(); });
  } else {
    work_.notify_one();
  }
}

void DispatchQueue::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
}

void DispatchQueue::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idleThreads_;
    work_.wait(lock, [this] { return !tasks_.empty() || shuttingDown_; });
    --idleThreads_;
    if (tasks_.empty()) return;  // shutting down with nothing left
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    ++running_;
    lock.unlock();
    task();
    lock.lock();
    --running_;
    if (tasks_.empty() && running_ == 0) idle_.notify_all();
  }
}

}  // namespace palvero
