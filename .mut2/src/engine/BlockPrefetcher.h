// Downloads the next block of a restore on a thread of its own while the
// worker decrypts, checks and writes the current one, so that the network
// and the worker's computing overlap. One download at a time; what it brings
// is still encrypted and is checked by the worker like any other block. A
// download that failed (or was never started for the block asked) is not
// retried here: the worker fetches that block itself, with its outage waits.
//
// Thread contract: start() and take() on the worker's thread; downloads run
// on the prefetcher's thread, through the engine's request object.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/Bytes.h"

namespace palvero {

class CommunicationServer;

class BlockPrefetcher {
 public:
  explicit BlockPrefetcher(std::shared_ptr<CommunicationServer> server);
  ~BlockPrefetcher();
  BlockPrefetcher(const BlockPrefetcher&) = delete;
  BlockPrefetcher& operator=(const BlockPrefetcher&) = delete;

  // Starts downloading the block stored as `checksum` ("get_block" with
  // `sizeClass`); a download started before and not taken is dropped.
  void start(const std::string& checksum, const std::string& sizeClass);
  // The download started for `checksum`, once it is done: true with the
  // stored bytes and the packed flag. False when none was started for it or
  // it failed; any other download under way is waited for and dropped.
  bool take(const std::string& checksum, Bytes& stored, bool& packed);

 private:
  struct Job {
    std::string checksum;
    std::string sizeClass;
    bool done = false;
    bool ok = false;
    bool packed = false;
    Bytes stored;
  };
  void run();
  // Waits for the job under way and drops it.
  void dropLocked(std::unique_lock<std::mutex>& lock);

  const std::shared_ptr<CommunicationServer> server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Job> job_;  // guarded by mutex_: the download started and not taken
  bool stopping_ = false;   // guarded by mutex_
  std::thread thread_;
};

}  // namespace palvero
