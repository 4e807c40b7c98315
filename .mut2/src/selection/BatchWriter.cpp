#include "selection/BatchWriter.h"

#include <exception>

#include "base/StringFormat.h"
#include "state/LogWriter.h"

namespace palvero {

BatchWriter::BatchWriter(std::shared_ptr<BackupQueueStore> store, size_t depth)
    : store_(std::move(store)), depth_(depth == 0 ? 1 : depth) {}

BatchWriter::~BatchWriter() { finish(); }

void BatchWriter::writeFiles(std::vector<BackupFile> records) {
  if (!records.empty()) enqueue(std::move(records));
}

void BatchWriter::writeDeleted(std::vector<std::string> paths) {
  if (!paths.empty()) enqueue(std::move(paths));
}

void BatchWriter::enqueue(Batch batch) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < depth_; });
  queue_.push_back(std::move(batch));
  // A scan of one batch never starts a thread.
  if (!thread_.joinable() && queue_.size() > 1) thread_ = std::thread([this] { run(); });
  changed_.notify_all();
}

size_t BatchWriter::finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  // Whatever no thread took (no thread, or it ended before the last batch).
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Batch batch = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    size_t accepted = write(batch);
    lock.lock();
    written_ += accepted;
  }
  return written_;
}

size_t BatchWriter::write(const Batch& batch) {
  try {
    if (const auto* files = std::get_if<std::vector<BackupFile>>(&batch)) {
      return store_->insertOrUpdateFiles(*files) ? files->size() : 0;
    }
    const auto& paths = std::get<std::vector<std::string>>(batch);
    return store_->insertDeletedFiles(paths) ? paths.size() : 0;
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       stringWithFormat("FileScanner exception: %s", e.what()), kLogFailure);
    return 0;
  }
}

void BatchWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
    if (queue_.empty()) return;
    // The batch stays queued while it is written, so `depth` counts it.
    Batch& batch = queue_.front();
    lock.unlock();
    size_t accepted = write(batch);
    lock.lock();
    written_ += accepted;
    queue_.pop_front();
    changed_.notify_all();
  }
}

}  // namespace palvero
