// Writes a scan's batches to the queue store on a thread of its own while
// the walk goes on, so that walking and database writes overlap. Batches are
// written one statement each, in the order given; at most `depth` wait, which
// keeps memory flat whatever the size of the tree.
//
// Thread contract: one producer thread calls write*() and finish(); the
// writer thread only calls the store. The destructor finishes.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "selection/BackupQueueStore.h"

namespace palvero {

class BatchWriter {
 public:
  explicit BatchWriter(std::shared_ptr<BackupQueueStore> store, size_t depth = 2);
  ~BatchWriter();
  BatchWriter(const BatchWriter&) = delete;
  BatchWriter& operator=(const BatchWriter&) = delete;

  // Blocks while `depth` batches are waiting.
  void writeFiles(std::vector<BackupFile> records);
  void writeDeleted(std::vector<std::string> paths);
  // Waits until every batch is written; returns the number of records the
  // store accepted.
  size_t finish();

 private:
  using Batch = std::variant<std::vector<BackupFile>, std::vector<std::string>>;

  void enqueue(Batch batch);
  // Writes one batch; returns the number of records accepted.
  size_t write(const Batch& batch);
  void run();

  const std::shared_ptr<BackupQueueStore> store_;
  const size_t depth_;
  std::thread thread_;  // started with the second batch; one batch alone is written in finish()

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> queue_;  // guarded by mutex_
  bool finishing_ = false;   // guarded by mutex_
  size_t written_ = 0;       // guarded by mutex_
};

}  // namespace palvero
