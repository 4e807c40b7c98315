// The blocks of one part: batches of ten, the local table and "check_block",
// re-reading and verifying the missing blocks, packing, encryption and the
// multi-block upload, and the re-check with its five attempts.
#include <algorithm>
#include <exception>
#include <unordered_set>

#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "protocol/CommunicationServer.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
bool DeltaHandler::UploadBlocks(const std::vector<FileBlock>& blocks, const std::string& FilePath) {
  log(kContinuingBackup, kSessionBackup, stringWithFormat("Starting DeltaHandler UploadBlocks: %s", FilePath.c_str()),
      kLogDetail);
  std::vector<FileBlock> batch;
  batch.reserve(kBlocksPerCheck);
  for (const FileBlock& block : blocks) {
    if (Cancel()) return false;
    batch.push_back(block);
    if (batch.size() == kBlocksPerCheck) {
      if (!CheckBlocksExistsAndUploadToServer(batch, FilePath, 0) || Cancel()) return false;
      batch.clear();
    }
  }
  if (!batch.empty() && (!CheckBlocksExistsAndUploadToServer(batch, FilePath, 0) || Cancel())) return false;
  return true;
}

bool DeltaHandler::CheckBlocksExistsAndUploadToServer(const std::vector<FileBlock>& batch, const std::string& FilePath,
                                                      int Iterator) {
  if (Iterator >= kAttemptsPerBatch) {
    communicationServer_->sendStatus(
        "backupError",
        stringWithFormat("Some blocks were sent to server, but not saved for file %s", FilePath.c_str()));
    return false;
  }
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler CheckBlocksExistsAndUploadToServer: %s with attempt %d", FilePath.c_str(),
                       Iterator),
      kLogDetail);
  try {
    // Only blocks above 256 bytes are stored as blocks; each once.
    std::vector<FileBlock> large;
    std::unordered_set<FileBlock> seen;
    for (const FileBlock& block : batch) {
      if (FileBlock::IfSizeIsBlock(block.length) && seen.insert(block).second) large.push_back(block);
    }
    if (large.empty()) return true;
    std::vector<FileBlock> unknown = DBManager::sharedDBManager().checkBlocks(large);
    if (unknown.empty()) return true;
    std::optional<std::vector<FileBlock>> missing = communicationServer_->hasServerFileBlocks(unknown);
    if (!missing) return false;
    if (missing->empty()) return true;
    if (!sendMissingBlocks(*missing, FilePath)) return false;

    std::optional<std::vector<FileBlock>> stillMissing = communicationServer_->hasServerFileBlocks(large);
    if (!stillMissing) return false;
    if (stillMissing->empty()) {
      DBManager::sharedDBManager().insertOrUpdateBlocks(batch);
      return true;
    }
    log(kBackupError, kSessionBackup,
        stringWithFormat("Some blocks were sent to server, but not saved for file %s. Count is: %lu; iterator is %d",
                         FilePath.c_str(), static_cast<unsigned long>(stillMissing->size()), Iterator),
        kLogFailure);
    return CheckBlocksExistsAndUploadToServer(*stillMissing, FilePath, Iterator + 1);
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception in CheckBlocksExistsAndUpoadToServer: %s. Ex: %s", FilePath.c_str(), e.what()),
        kLogFailure);
    return false;
  }
}

bool DeltaHandler::sendMissingBlocks(const std::vector<FileBlock>& missing, const std::string& FilePath) {
  SourceFile source;
  std::string reason;
  if (!source.open(readPath(FilePath), cutIdentity_, reason)) {
    changedWhileRead(FilePath, reason);
    return false;
  }
  for (const FileBlock& block : missing) {
    if (Cancel()) return false;
    Bytes data;
    if (!source.readExactly(block.offset, block.length, data, reason)) {
      changedWhileRead(FilePath, "it shrank after it was cut (" + reason + ")");
      return false;
    }
    // The bytes must be those the version text will name; otherwise the
    // file changed under us and its revision would mix old and new content.
    if (!sameChecksum(BlockCutter::sha256StringFromData(data), block.checksum)) {
      changedWhileRead(FilePath, stringWithFormat("the block at offset %lld changed after it was cut",
                                                  static_cast<long long>(block.offset)));
      return false;
    }
    // A send that fails does not stop the others; the re-check finds it.
    SendDataBlock(std::move(data), block.offset, block, missing.size());
  }
  return true;
}

bool DeltaHandler::SendDataBlock(Bytes data, int64_t /*Offset*/, const FileBlock& Addition, size_t MaxBlocksCount) {
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler SendDataBlock: %s", Addition.checksum.c_str()), kLogDetail);
  if (data.empty()) {
    log(kBackupError, kSessionBackup, "Not enough data for wanted data block", kLogFailure);
    return false;
  }
  if (data.size() < static_cast<size_t>(FileBlock::kLargestInlineBlock)) return true;
  const auto plainLength = static_cast<int64_t>(data.size());
  Bytes body;
  bool packed = false;
  // The packed form is only ever used from 4,000 bytes on, so smaller blocks
  // are not packed at all.
  if (plainLength >= kSmallestPackedBlock) {
    Bytes zipped;
    std::string errorText;
    int32_t errorType = 0;
    if (!compressor_.CompressPackageStream(data, zipped, Addition.checksum, "Octet", errorText, errorType,
                                           currentThreadIndex_)) {
      log(kBackupError, kSessionBackup, "Error: Could not compress data block", kLogFailure);
      return false;
    }
    if (!zipped.empty() && static_cast<int64_t>(zipped.size()) < plainLength) {
      body = std::move(zipped);
      packed = true;
    }
  }
  if (!packed) body = std::move(data);
  std::string name = packed ? Addition.checksum + ".pvzip" : Addition.checksum;

  if (Cancel()) return false;
  if (!security_.EncryptStream(body, accountCipher())) {
    log(kBackupError, kSessionBackup, "Error: Could not encrypt data block", kLogFailure);
    return false;
  }
  if (Cancel()) return false;

  if (!LocalSettings::sharedManager().multiplyBlockUpload()) {
    bool offline = false;
    return communicationServer_->uploadDataBlockStream(
        body, name, stringWithFormat("%ld", static_cast<long>(plainLength)), offline);
  }
  // A block kept from a failed send is the same bytes under the same name.
  bool queued = std::any_of(_blocksToSend.begin(), _blocksToSend.end(),
                            [&](const FileBlockToSend& waiting) { return waiting.checksum() == name; });
  if (!queued) {
    FileBlockToSend record(std::move(body), name, plainLength);
    _blockSizesToSend += record.fullLength();
    _blocksToSend.push_back(std::move(record));
  }
  if (_blocksToSend.size() >= MaxBlocksCount) return sendWaitingBlocks(Addition.checksum);
  return true;
}

bool DeltaHandler::sendWaitingBlocks(const std::string& checksum) {
  bool offline = false;
  if (communicationServer_->uploadDataBlockList(_blocksToSend, offline)) {
    clearWaitingBlocks();
    return true;
  }
  if (!offline) {
    // Kept for the next send; the re-check counts the attempt.
    log(kBackupError, kSessionBackup, "Method uploadDataBlockList returned NO for blocks", kLogFailure);
    return true;
  }
  bool sent = false;
  while (offline) {
    if (pauseUnlessCancelled(kOfflinePause)) return false;
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("File or block %s is in wait mode", checksum.c_str()),
        kLogDetail);
    offline = false;
    sent = communicationServer_->uploadDataBlockList(_blocksToSend, offline);
  }
  if (!sent) log(kBackupError, kSessionBackup, "Error: Could not upload data block list to server,", kLogFailure);
  clearWaitingBlocks();
  return sent;
}

void DeltaHandler::clearWaitingBlocks() {
  _blocksToSend.clear();
  _blockSizesToSend = 0;
}

}  // namespace palvero
