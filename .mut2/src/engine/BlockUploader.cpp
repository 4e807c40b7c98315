#include "engine/BlockUploader.h"

#include <strings.h>

#include <algorithm>
#include <exception>
#include <unordered_set>

#include "base/Clock.h"
#include "base/StringFormat.h"
#include "engine/format/BlockCutter.h"
#include "protocol/CommunicationServer.h"
#include "protocol/WorkerActivity.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

void log(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

void notBackedUp(const std::string& path, const std::string& reason) {
  log(kBackupError, kSessionBackup,
      stringWithFormat("File was not backed up: %s. Reason: %s", path.c_str(), reason.c_str()), kLogFailure);
}

// The block's checksum without the ".pvzip" of a packed record.
std::string plainName(const std::string& name) {
  static constexpr std::string_view kPacked = ".pvzip";
  if (name.size() > kPacked.size() && name.compare(name.size() - kPacked.size(), kPacked.size(), kPacked) == 0) {
    return name.substr(0, name.size() - kPacked.size());
  }
  return name;
}

}  // namespace

BlockUploader::BlockUploader(std::shared_ptr<CommunicationServer> server, const std::atomic<bool>& cancel)
    : server_(std::move(server)), cancel_(cancel) {}

BlockUploader::~BlockUploader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BlockUploader::beginFile(const std::string& path, const std::string& readPath,
                              const SourceFile::Identity& identity) {
  std::lock_guard lock(mutex_);
  path_ = path;
  readPath_ = readPath;
  identity_ = identity;
  failed_ = false;
  changeReason_.reset();
  ++file_;
  // Started with the first backup: an engine that only restores needs none.
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void BlockUploader::waitStamping(std::unique_lock<std::mutex>& lock, const std::function<bool()>& condition) {
  uint64_t seen = progress_;
  while (!condition()) {
    changed_.wait(lock);
    if (progress_ != seen) {
      seen = progress_;
      // The worker's record shows life while its uploads go out on this
      // thread; the stamper takes the application's locks, so not under ours.
      lock.unlock();
      WorkerActivity::stamp(WorkerActivity::Kind::kBackup);
      lock.lock();
    }
  }
}

bool BlockUploader::submit(Batch batch) {
  std::unique_lock lock(mutex_);
  waitStamping(lock, [this] { return failed_ || (!busy_ && !waiting_); });
  if (failed_ || cancel_.load()) return false;
  waiting_ = std::move(batch);
  changed_.notify_all();
  return true;
}

bool BlockUploader::finishFile() {
  std::unique_lock lock(mutex_);
  waitStamping(lock, [this] { return !busy_ && !waiting_; });
  return !failed_;
}

std::optional<std::string> BlockUploader::changeReason() const {
  std::lock_guard lock(mutex_);
  return changeReason_;
}

void BlockUploader::changedWhileRead(const std::string& reason) {
  std::lock_guard lock(mutex_);
  if (!changeReason_) changeReason_ = reason;
}

void BlockUploader::run() {
  std::unique_lock lock(mutex_);
  uint64_t sourceFile = 0;
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || waiting_; });
    if (stopping_) return;
    Batch batch = std::move(*waiting_);
    waiting_.reset();
    busy_ = true;
    ++progress_;
    if (sourceFile != file_) {
      // A descriptor opened for the previous file must not serve this one.
      source_.reset();
      sourceFile = file_;
    }
    lock.unlock();
    changed_.notify_all();
    bool sent = sendBatch(batch);
    batch = Batch();
    lock.lock();
    if (!sent) failed_ = true;
    busy_ = false;
    changed_.notify_all();
  }
}

bool BlockUploader::sendBatch(Batch& batch) {
  // Fixed while a batch of the file is under way.
  const std::string path = path_;
  try {
    if (!batch.bodies.empty()) {
      std::string last = plainName(batch.bodies.back().checksum());
      if (!upload(batch.bodies, last)) return false;
    }
    std::vector<FileBlock> asked = batch.large;
    std::vector<FileBlock> record = batch.blocks;
    for (int attempt = 0;;) {
      if (cancel_.load()) return false;
      std::optional<std::vector<FileBlock>> still = server_->hasServerFileBlocks(asked);
      if (!still) return false;
      if (still->empty()) {
        DBManager::sharedDBManager().insertOrUpdateBlocks(record);
        return true;
      }
      log(kBackupError, kSessionBackup,
          stringWithFormat("Some blocks were sent to server, but not saved for file %s. Count is: %lu; iterator is %d",
                           path.c_str(), static_cast<unsigned long>(still->size()), attempt),
          kLogFailure);
      if (++attempt >= kAttemptsPerBatch) {
        server_->sendStatus(
            "backupError",
            stringWithFormat("Some blocks were sent to server, but not saved for file %s", path.c_str()));
        return false;
      }
      log(kContinuingBackup, kSessionBackup,
          stringWithFormat("Starting DeltaHandler CheckBlocksExistsAndUploadToServer: %s with attempt %d",
                           path.c_str(), attempt),
          kLogDetail);
      std::vector<FileBlock> large;
      std::unordered_set<FileBlock> seen;
      for (const FileBlock& block : *still) {
        if (FileBlock::IfSizeIsBlock(block.length) && seen.insert(block).second) large.push_back(block);
      }
      if (large.empty()) return true;
      std::vector<FileBlock> unknown = DBManager::sharedDBManager().checkBlocks(large);
      if (unknown.empty()) return true;
      std::optional<std::vector<FileBlock>> missing = server_->hasServerFileBlocks(unknown);
      if (!missing) return false;
      if (missing->empty()) return true;
      if (!sendMissing(*missing, batch.bodies)) return false;
      asked = std::move(large);
      record = std::move(*still);
    }
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception in CheckBlocksExistsAndUpoadToServer: %s. Ex: %s", path.c_str(), e.what()),
        kLogFailure);
    return false;
  }
}

bool BlockUploader::sendMissing(const std::vector<FileBlock>& missing, std::vector<FileBlockToSend>& bodies) {
  std::vector<FileBlockToSend> list;
  for (const FileBlock& block : missing) {
    if (cancel_.load()) return false;
    log(kContinuingBackup, kSessionBackup,
        stringWithFormat("Starting DeltaHandler SendDataBlock: %s", block.checksum.c_str()), kLogDetail);
    auto held = std::find_if(bodies.begin(), bodies.end(),
                             [&](const FileBlockToSend& body) { return plainName(body.checksum()) == block.checksum; });
    if (held != bodies.end()) {
      list.push_back(*held);
      continue;
    }
    std::optional<FileBlockToSend> read = reread(block);
    if (!read) return false;
    bodies.push_back(*read);
    list.push_back(std::move(*read));
  }
  return list.empty() || upload(list, missing.back().checksum);
}

bool BlockUploader::upload(std::vector<FileBlockToSend>& list, const std::string& checksum) {
  {
    std::lock_guard lock(mutex_);
    ++progress_;
  }
  changed_.notify_all();
  if (!LocalSettings::sharedManager().multiplyBlockUpload()) {
    // One request per block; a failed one is found missing by the re-check.
    for (const FileBlockToSend& record : list) {
      bool offline = false;
      server_->uploadDataBlockStream(record.body(), record.checksum(),
                                     stringWithFormat("%ld", static_cast<long>(record.length())), offline);
    }
    return true;
  }
  bool offline = false;
  if (server_->uploadDataBlockList(list, offline)) return true;
  if (!offline) {
    // The re-check finds what did not arrive and counts the attempt.
    log(kBackupError, kSessionBackup, "Method uploadDataBlockList returned NO for blocks", kLogFailure);
    return true;
  }
  bool sent = false;
  while (offline) {
    Clock::current()->sleepUnlessCancelled(kOfflinePause, cancel_);
    if (cancel_.load()) return false;
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("File or block %s is in wait mode", checksum.c_str()),
        kLogDetail);
    offline = false;
    sent = server_->uploadDataBlockList(list, offline);
  }
  if (!sent) log(kBackupError, kSessionBackup, "Error: Could not upload data block list to server,", kLogFailure);
  return sent;
}

std::optional<FileBlockToSend> BlockUploader::reread(const FileBlock& block) {
  const std::string path = path_;
  std::string reason;
  if (!source_) {
    source_.emplace();
    if (!source_->open(readPath_, identity_, reason)) {
      source_.reset();
      changedWhileRead(reason);
      return std::nullopt;
    }
  }
  Bytes data;
  if (!source_->readExactly(block.offset, block.length, data, reason)) {
    changedWhileRead("it shrank after it was cut (" + reason + ")");
    return std::nullopt;
  }
  // The bytes must be those the version text will name; otherwise the file
  // changed under us and its revision would mix old and new content.
  const std::string read = BlockCutter::sha256StringFromData(data);
  if (read.size() != block.checksum.size() ||
      ::strncasecmp(read.data(), block.checksum.data(), read.size()) != 0) {
    changedWhileRead(stringWithFormat("the block at offset %lld changed after it was cut",
                                      static_cast<long long>(block.offset)));
    return std::nullopt;
  }
  std::optional<FileBlockToSend> record =
      packer_.pack(std::move(data), block, LocalSettings::sharedManager().accountCipher().value_or(""));
  if (!record) notBackedUp(path, "its block at offset " + std::to_string(block.offset) + " could not be packed");
  return record;
}

}  // namespace palvero
