// Sends the batches of one file on a thread of its own, so that the worker
// cuts, checks and packs the next batch while the previous one uploads. A
// batch arrives with the sent forms of the blocks the service lacked; the
// uploader sends them ("upload_blocks_multi", or one "upload_block" each
// without multi-block upload; 15-second waits while the service cannot be
// reached), asks again ("check_block") and, while blocks are still missing,
// runs the remaining attempts (1 to 4) of the batch: check, send, re-check.
// A block it holds no sent form for is read again from the file, whose
// identity and bytes must still match. A confirmed batch goes into the block
// table; after five attempts "backupError" is reported and the file fails.
//
// Memory: one batch is sent while the worker prepares the next; submit()
// waits until the uploader is free, so a worker holds at most two batches.
//
// Thread contract: beginFile(), submit() and finishFile() on the worker's
// thread, one file at a time; the batches are sent on the uploader's thread,
// which lives as long as the uploader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/BlockPacker.h"
#include "engine/SourceFile.h"
#include "engine/format/FileBlock.h"
#include "engine/format/FileBlockToSend.h"

namespace palvero {

class CommunicationServer;

class BlockUploader {
 public:
  static constexpr int kAttemptsPerBatch = 5;
  static constexpr std::chrono::seconds kOfflinePause{15};

  struct Batch {
    std::vector<FileBlock> blocks;         // the whole batch, recorded when confirmed
    std::vector<FileBlock> large;          // its blocks above 256 bytes, once each: what the re-check asks
    std::vector<FileBlockToSend> bodies;   // sent forms of the blocks the service lacked
  };

  BlockUploader(std::shared_ptr<CommunicationServer> server, const std::atomic<bool>& cancel);
  ~BlockUploader();
  BlockUploader(const BlockUploader&) = delete;
  BlockUploader& operator=(const BlockUploader&) = delete;

  // Starts a file: `path` names it in the log, blocks are read again from
  // `readPath` (the file, or a private copy of it), and `identity` is what
  // that must still be when they are.
  void beginFile(const std::string& path, const std::string& readPath, const SourceFile::Identity& identity);
  // Hands a batch over, waiting while the previous one is being sent. False
  // (the batch dropped) once a batch of the file has failed or the engine is
  // cancelled.
  bool submit(Batch batch);
  // Waits until the submitted batches are sent; true when every one was
  // confirmed.
  bool finishFile();
  // Why a block of the current file could not be read again as it was cut
  // (the file changed while it was read), or nothing.
  std::optional<std::string> changeReason() const;

 private:
  void run();
  bool sendBatch(Batch& batch);
  // Sends the sent forms of `missing`, reading those it lacks from the file.
  bool sendMissing(const std::vector<FileBlock>& missing, std::vector<FileBlockToSend>& bodies);
  bool upload(std::vector<FileBlockToSend>& list, const std::string& checksum);
  // A missing block's sent form, from the file as it was cut.
  std::optional<FileBlockToSend> reread(const FileBlock& block);
  // Keeps the first reason the file was found changed.
  void changedWhileRead(const std::string& reason);
  // Waits on `condition` and stamps the worker whenever the uploader moves on.
  void waitStamping(std::unique_lock<std::mutex>& lock, const std::function<bool()>& condition);

  const std::shared_ptr<CommunicationServer> server_;
  const std::atomic<bool>& cancel_;
  // Used on the uploader's thread only.
  BlockPacker packer_;
  std::optional<SourceFile> source_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Batch> waiting_;        // guarded by mutex_
  bool busy_ = false;                   // guarded by mutex_: a batch is being sent
  bool failed_ = false;                 // guarded by mutex_: a batch of this file failed
  bool stopping_ = false;               // guarded by mutex_
  uint64_t progress_ = 0;               // guarded by mutex_: batches and uploads begun so far
  uint64_t file_ = 0;                   // guarded by mutex_: files begun so far
  std::string path_;                    // guarded by mutex_; read by the uploader while busy
  std::string readPath_;                // guarded by mutex_; read by the uploader while busy
  SourceFile::Identity identity_;       // guarded by mutex_; read by the uploader while busy
  std::optional<std::string> changeReason_;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace palvero
