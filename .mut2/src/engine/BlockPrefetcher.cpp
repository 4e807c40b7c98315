#include "engine/BlockPrefetcher.h"

#include "protocol/CommunicationServer.h"

namespace palvero {

BlockPrefetcher::BlockPrefetcher(std::shared_ptr<CommunicationServer> server) : server_(std::move(server)) {}

BlockPrefetcher::~BlockPrefetcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BlockPrefetcher::dropLocked(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !job_ || job_->done; });
  job_.reset();
}

void BlockPrefetcher::start(const std::string& checksum, const std::string& sizeClass) {
  std::unique_lock lock(mutex_);
  dropLocked(lock);
  job_.emplace();
  job_->checksum = checksum;
  job_->sizeClass = sizeClass;
  // Started with the first restore of several blocks.
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  changed_.notify_all();
}

bool BlockPrefetcher::take(const std::string& checksum, Bytes& stored, bool& packed) {
  std::unique_lock lock(mutex_);
  if (!job_) return false;
  if (job_->checksum != checksum) {
    dropLocked(lock);
    return false;
  }
  changed_.wait(lock, [this] { return job_->done; });
  bool ok = job_->ok;
  if (ok) {
    stored = std::move(job_->stored);
    packed = job_->packed;
  }
  job_.reset();
  changed_.notify_all();
  return ok;
}

void BlockPrefetcher::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || (job_ && !job_->done); });
    if (stopping_) return;
    std::string checksum = job_->checksum;
    std::string sizeClass = job_->sizeClass;
    lock.unlock();
    Bytes stored;
    bool packed = false;
    bool offline = false;
    bool ok = false;
    try {
      ok = server_->downloadDataBlock(checksum, sizeClass, stored, packed, offline);
    } catch (const std::exception&) {
      ok = false;
    }
    lock.lock();
    // Only this thread marks a job done, and a job under way is never
    // replaced (start() and take() wait for it), so it is still the one.
    job_->ok = ok;
    job_->packed = packed;
    job_->stored = std::move(stored);
    job_->done = true;
    changed_.notify_all();
  }
}

}  // namespace palvero
