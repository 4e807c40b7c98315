// What a backup or restore worker is: its fixed number, its engine, whether
// it holds a file, which one, the thread running that file, and its last
// sign of life. RestoreThread (here) and BackupThread (app) are the two
// kinds.
//
// Thread contract: `countIterator` and `deltaHandler` are fixed at
// construction. isActive, the thread id and lastRequestDate are atomics, read
// from any thread (the watchdog, the thread lookup, the request layer's
// stamp). The other fields are guarded by the owning queue's lock
// (the backup run's lock for backup workers, the restore queue lock for restore
// workers).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "base/Date.h"
#include "base/Timer.h"
#include "engine/BlockEngine.h"

namespace palvero {

class WorkerRecord {
 public:
  WorkerRecord(int64_t countIterator, std::shared_ptr<BlockEngine> engine);
  virtual ~WorkerRecord() = default;
  WorkerRecord(const WorkerRecord&) = delete;
  WorkerRecord& operator=(const WorkerRecord&) = delete;

  const int64_t countIterator;  // 0 .. n-1, the engine's thread index
  const std::shared_ptr<BlockEngine> deltaHandler;

  bool isActive() const { return isActive_.load(); }
  void setIsActive(bool active) { isActive_.store(active); }
  // The thread that runs the worker's current file; a fresh worker has none.
  std::thread::id thread() const { return thread_.load(); }
  void setThread(std::thread::id id) { thread_.store(id); }
  // Forgets `id` unless the worker has moved on to another thread.
  void clearThread(std::thread::id id) { thread_.compare_exchange_strong(id, std::thread::id()); }
  Date lastRequestDate() const;
  void setLastRequestDate(Date date);

  // Guarded by the owner's lock.
  int64_t iterator = 0;
  std::string currentPath;
  // A hand-out waiting for its file to be quiet; invalidated when the worker
  // is given up.
  Timer::Handle pendingStart;

 private:
  std::atomic<bool> isActive_{false};
  std::atomic<std::thread::id> thread_{};
  std::atomic<int64_t> lastRequestMicros_;
};

}  // namespace palvero
