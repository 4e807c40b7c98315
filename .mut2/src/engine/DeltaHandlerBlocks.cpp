// The blocks of one part, cut and sent in one pass: each batch of ten is
// checked against the local table and the service ("check_block") as soon
// as it is cut, the blocks the service lacks are packed and encrypted from
// the bytes just read, and the batch goes to the engine's uploader, which
// sends and confirms it while the next batch is cut.
#include <algorithm>
#include <cstring>
#include <exception>
#include <unordered_set>

#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "protocol/CommunicationServer.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"

namespace palvero {

DeltaHandler::PartOutcome DeltaHandler::cutAndUploadPart(FilePart& part, const std::string& path) {
  const std::string& source = readPath(path);
  SourceFile::Identity before;
  int error = 0;
  SourceFile::Kind kind = SourceFile::inspect(source, before, &error);
  if (kind == SourceFile::Kind::kMissing) return PartOutcome::kGone;
  if (kind != SourceFile::Kind::kRegular) {
    notBackedUp(path, kind == SourceFile::Kind::kNotRegular ? "not a regular file" : std::strerror(error));
    return PartOutcome::kCutFailed;
  }
  log(kContinuingBackup, kSessionBackup, stringWithFormat("Starting DeltaHandler UploadBlocks: %s", path.c_str()),
      kLogDetail);
  uploader_.beginFile(path, source, before);
  PartBatch batch;
  bool uploadFailed = false;
  auto sink = [&](const FileBlock& block, std::span<const uint8_t> bytes) {
    if (Cancel()) return false;
    batch.blocks.push_back(block);
    // Only the bytes of blocks that may have to go out are kept, once each.
    if (FileBlock::IfSizeIsBlock(block.length) && !batch.submitted.count(block.checksum)) {
      batch.plain.try_emplace(block.checksum, bytes.begin(), bytes.end());
    }
    if (batch.blocks.size() < kBlocksPerCheck) return true;
    if (!CheckBlocksExistsAndUploadToServer(batch, path, 0) || Cancel()) {
      uploadFailed = true;
      return false;
    }
    return true;
  };
  bool opened = false;
  std::optional<std::vector<FileBlock>> blocks = cutter_.CreateBlocksList(before.size, source, &opened, sink);
  if (blocks && !uploadFailed && !batch.blocks.empty()) {
    uploadFailed = !CheckBlocksExistsAndUploadToServer(batch, path, 0);
  }
  // Whatever happened, nothing of this file may still be under way.
  uploadFailed = !uploader_.finishFile() || uploadFailed;
  if (auto reason = uploader_.changeReason()) changedWhileRead(path, *reason);

  SourceFile::Identity after;
  SourceFile::Kind afterKind = SourceFile::inspect(source, after);
  if (afterKind == SourceFile::Kind::kMissing) return PartOutcome::kGone;
  if (Cancel()) return PartOutcome::kCutFailed;
  // A file that changed is tried again, whatever else went wrong with it.
  if (afterKind != SourceFile::Kind::kRegular || !after.sameAs(before)) {
    changedWhileRead(path, "it changed while it was cut");
    return PartOutcome::kCutFailed;
  }
  if (uploadFailed) return PartOutcome::kUploadFailed;
  if (!blocks) {
    notBackedUp(path, "it could not be read");
    return PartOutcome::kCutFailed;
  }
  if (!opened) {
    notBackedUp(path, "it could not be opened");
    return PartOutcome::kCutFailed;
  }
  int64_t total = 0;
  for (const FileBlock& block : *blocks) total += block.length;
  if (total != before.size) {
    changedWhileRead(path, "it changed while it was cut");
    return PartOutcome::kCutFailed;
  }
  part.Length = before.size;
  part.FileBlocks = std::move(*blocks);
  cutIdentity_ = before;
  return PartOutcome::kDone;
}

bool DeltaHandler::CheckBlocksExistsAndUploadToServer(PartBatch& batch, const std::string& FilePath, int Iterator) {
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler CheckBlocksExistsAndUploadToServer: %s with attempt %d", FilePath.c_str(),
                       Iterator),
      kLogDetail);
  struct ClearBatch {
    DeltaHandler& engine;
    PartBatch& batch;
    ~ClearBatch() {
      batch.blocks.clear();
      batch.plain.clear();
      engine.clearWaitingBlocks();
    }
  } clearAtEnd{*this, batch};
  try {
    // Only blocks above 256 bytes are stored as blocks; each once.
    std::vector<FileBlock> large;
    std::unordered_set<FileBlock> seen;
    for (const FileBlock& block : batch.blocks) {
      if (FileBlock::IfSizeIsBlock(block.length) && seen.insert(block).second) large.push_back(block);
    }
    if (large.empty()) return true;
    // Blocks an earlier batch of this file is sending count as known: they
    // are confirmed before this batch is.
    std::vector<FileBlock> toAsk;
    for (const FileBlock& block : large) {
      if (!batch.submitted.count(block.checksum)) toAsk.push_back(block);
    }
    std::vector<FileBlock> unknown = DBManager::sharedDBManager().checkBlocks(toAsk);
    if (unknown.empty()) return true;
    std::optional<std::vector<FileBlock>> missing = communicationServer_->hasServerFileBlocks(unknown);
    if (!missing) return false;
    if (missing->empty()) return true;
    for (const FileBlock& block : *missing) {
      if (Cancel()) return false;
      SendDataBlock(batch, block);
      batch.submitted.insert(block.checksum);
    }
    BlockUploader::Batch sent{std::move(batch.blocks), std::move(large), std::move(_blocksToSend)};
    return uploader_.submit(std::move(sent));
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception in CheckBlocksExistsAndUpoadToServer: %s. Ex: %s", FilePath.c_str(), e.what()),
        kLogFailure);
    return false;
  }
}

void DeltaHandler::SendDataBlock(PartBatch& batch, const FileBlock& Addition) {
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler SendDataBlock: %s", Addition.checksum.c_str()), kLogDetail);
  auto held = batch.plain.find(Addition.checksum);
  // A block without its bytes here is read again by the uploader, whose
  // re-check finds it missing; so is one that could not be packed.
  if (held == batch.plain.end()) return;
  Bytes data = std::move(held->second);
  // Erased, so that a block named twice is packed once.
  batch.plain.erase(held);
  if (auto record = packer_.pack(std::move(data), Addition, accountCipher())) _blocksToSend.push_back(std::move(*record));
}

void DeltaHandler::clearWaitingBlocks() { _blocksToSend.clear(); }

}  // namespace palvero
