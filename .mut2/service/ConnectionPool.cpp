#include "ConnectionPool.h"

namespace palvero::service {

ConnectionPool::ConnectionPool(size_t threads, size_t maxThreads) : maxThreads_(std::max(threads, maxThreads)) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < threads; ++i) startThread();
}

ConnectionPool::~ConnectionPool() { shutdown(); }

void ConnectionPool::startThread() {
  threads_.emplace_back([this] { work(); });
}

void ConnectionPool::enqueue(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(fn));
  if (idle_ < jobs_.size() && threads_.size() < maxThreads_) startThread();
  wake_.notify_one();
}

void ConnectionPool::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) thread.join();
}

size_t ConnectionPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void ConnectionPool::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (jobs_.empty()) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace palvero::service
