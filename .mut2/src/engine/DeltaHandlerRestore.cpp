// Restore of one file: the revision, the file to write, each block fetched
// (inline hex or downloaded, decrypted, unpacked) and verified, written to a
// temporary file that replaces the target only when whole.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "engine/PathRules.h"
#include "engine/RestoreFileOperations.h"
#include "engine/RestoreTarget.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "protocol/WorkerActivity.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool DeltaHandler::RestoreFile(const std::string& path, const std::string& TargetPath, int32_t revision,
                               const std::string& DeviceID) {
  if (TargetPath.empty() || TargetPath.front() != '/' || PathRules::hasParentComponent(TargetPath) ||
      PathRules::hasParentComponent(path) || (!restoreRoot_.empty() && !PathRules::isBeneath(TargetPath, restoreRoot_))) {
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Restore error: refused target %s for file %s", TargetPath.c_str(), path.c_str()),
        kLogFailure);
    restoreError_ = kErrorRefusedPath;
    return false;
  }
  bool cancelled = false;
  std::optional<FileDesc> desc = fetchStoredRevision(path, revision, false, DeviceID, "", cancelled);
  if (cancelled) {
    restoreError_ = kErrorCancelled;
    return false;
  }
  if (!desc || desc->FileName.empty()) {
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Restore error: No file version returned from server for file %s", path.c_str()), kLogFailure);
    restoreError_ = kErrorNoVersion;
    return false;
  }
  log(kContinuingBackup, kSessionRestore,
      stringWithFormat("Starting DeltaHandler RestoreFile: %s with size %ld", path.c_str(),
                       static_cast<long>(desc->Length)),
      kLogDetail);
  if (desc->FileParts.empty()) return restoreFolder(TargetPath);
  std::string changeTime = desc->LastChangedData ? desc->LastChangedData->format(Date::kSettingsPattern) : "";
  if (desc->FileParts.size() == 1) return RestoreFile(TargetPath, desc->FileParts.front(), true, changeTime);
  return RestoreFile(TargetPath, *desc);
}

bool DeltaHandler::restoreFolder(const std::string& target) {
  std::error_code error;
  auto status = std::filesystem::symlink_status(target, error);
  if (std::filesystem::is_directory(status)) return true;
  if (std::filesystem::exists(status)) {
    // A file of that name is kept: the folder's content cannot go there.
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Restore error: %s. Ex: %s", target.c_str(), "a file is in the way of the folder"),
        kLogFailure);
    restoreError_ = "Exception occured: File exists";
    return false;
  }
  std::string reason;
  if (!RestoreTarget::makeFolder(target, restoreRoot_, reason)) return restoreFailed(target, reason);
  return true;
}

bool DeltaHandler::RestoreFile(const std::string& target, const FilePart& Desc, bool /*IsFilePart*/,
                               const std::string& changeTime) {
  std::string fileToWrite;
  try {
    fileToWrite = RestoreFileOperations::fileToWrite(target, changeTime, replaceFiles_, keepNewerLocal_);
    if (fileToWrite != target) writtenBeside_ = fileToWrite;
  } catch (const std::exception& e) {
    return restoreFailed(target, e.what());
  }
  return writePart(fileToWrite, Desc, changeTime, restoreRoot_);
}

bool DeltaHandler::writePart(const std::string& fileToWrite, const FilePart& part, const std::string& changeTime,
                             const std::string& confineTo, unsigned mode) {
  try {
    if (!hasRoomFor(parentOf(fileToWrite), bytesOf(part))) return false;
    RestoreTarget output;
    std::string error;
    if (!output.create(fileToWrite, error, confineTo, mode)) {
      bool retried = false;
      if (confineTo.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(parentOf(fileToWrite), ignored);
        retried = output.create(fileToWrite, error, "", mode);
      }
      if (!retried) return restoreFailed(fileToWrite, error);
    }
    for (size_t j = 0; j < part.FileBlocks.size(); ++j) {
      Bytes data;
      const FileBlock* next = j + 1 < part.FileBlocks.size() ? &part.FileBlocks[j + 1] : nullptr;
      if (!fetchBlock(data, part.FileBlocks[j], fileToWrite, next)) return false;
      if (!writeDataFromBlock(data, output, j)) return false;
      if (Cancel()) {
        restoreError_ = kErrorCancelled;
        return false;
      }
    }
    if (!output.commit(changeStamp(changeTime), error)) return restoreFailed(fileToWrite, error);
    return true;
  } catch (const std::exception& e) {
    return restoreFailed(fileToWrite, e.what());
  }
}

std::optional<Date> DeltaHandler::changeStamp(const std::string& changeTime) {
  // An empty date reads as the distant past, which no file system keeps.
  std::optional<Date> date = Date::parse(changeTime, Date::kSettingsPattern);
  if (!date || date->timeIntervalSince1970() < 0) return std::nullopt;
  return date;
}

bool DeltaHandler::restoreFailed(const std::string& target, const std::string& reason) {
  log(kRestoreError, kSessionRestore, stringWithFormat("Restore error: %s. Ex: %s", target.c_str(), reason.c_str()),
      kLogFailure);
  restoreError_ = reason.empty() ? std::string(kErrorIOAccess) : "Exception occured: " + reason;
  return false;
}

bool DeltaHandler::hasRoomFor(const std::string& folder, int64_t bytes) {
  int64_t free = Functions::getFreeDiskspaceForPath(folder);
  if (free < 0 || bytes <= free) return true;
  log(kRestoreError, kSessionRestore,
      stringWithFormat("Restore error: %s. Ex: %s (%lld bytes needed, %lld free)", folder.c_str(),
                       kErrorInsufficientSpace, static_cast<long long>(bytes), static_cast<long long>(free)),
      kLogFailure);
  restoreError_ = kErrorInsufficientSpace;
  return false;
}

int64_t DeltaHandler::bytesOf(const FilePart& part) {
  int64_t total = 0;
  for (const FileBlock& block : part.FileBlocks) total += std::max<int64_t>(block.length, 0);
  return total;
}

bool DeltaHandler::fetchBlock(Bytes& data, const FileBlock& block, const std::string& target, const FileBlock* next) {
  // The next block comes down while this one is decoded and written, never
  // beside the worker's own download: a worker has one download under way,
  // and an outage is waited out by the worker alone.
  auto prefetchNext = [&] {
    if (next && FileBlock::IfSizeIsBlock(next->length) && !Cancel()) {
      prefetcher_.start(next->checksum, stringWithFormat("%ld", static_cast<long>(next->length)));
    }
  };
  Bytes stored;
  bool packed = false;
  if (prefetcher_.take(block.checksum, stored, packed)) {
    // As for a block fetched now: cancelled before it is had, it is missing;
    // then the worker shows life as its own download would.
    if (Cancel()) {
      restoreError_ = kErrorMissingPart;
      return false;
    }
    WorkerActivity::stamp(WorkerActivity::Kind::kRestore);
    prefetchNext();
    if (decodeBlock(data, block, stored, packed) == BlockFetch::kFetched) return true;
    restoreError_ = kErrorMissingPart;
    return false;
  }
  bool offline = false;
  bool fetched = GetDataBlock(data, block, offline);
  while (!fetched && offline) {
    if (pauseUnlessCancelled(kOfflinePause)) {
      restoreError_ = kErrorCancelled;
      return false;
    }
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("File or block %s is in wait mode", target.c_str()),
        kLogDetail);
    offline = false;
    fetched = GetDataBlock(data, block, offline);
  }
  if (!fetched) {
    restoreError_ = kErrorMissingPart;
    return false;
  }
  prefetchNext();
  return true;
}

bool DeltaHandler::GetDataBlock(Bytes& data, const FileBlock& Target, bool& OfflineBreak) {
  return fetchBlockBytes(data, Target, OfflineBreak) == BlockFetch::kFetched;
}

DeltaHandler::BlockFetch DeltaHandler::fetchBlockBytes(Bytes& data, const FileBlock& Target, bool& OfflineBreak) {
  std::string size = stringWithFormat("%ld", static_cast<long>(Target.length));
  log(kContinuingBackup, kSessionRestore,
      stringWithFormat("Starting DeltaHandler GetDataBlock: %s with size: %s", Target.checksum.c_str(), size.c_str()),
      kLogDetail);
  if (Cancel()) return BlockFetch::kCancelled;
  try {
    if (!FileBlock::IfSizeIsBlock(Target.length)) {
      data = RestoreFileOperations::getDataFromHexString(Target.checksum);
      if (static_cast<int64_t>(data.size()) == Target.length &&
          sameChecksum(Functions::HexStr(data), Target.checksum)) {
        return BlockFetch::kFetched;
      }
      log(kRestoreError, kSessionRestore,
          stringWithFormat("Restore error: the inline block %s is not %s bytes of hexadecimal", Target.checksum.c_str(),
                           size.c_str()),
          kLogFailure);
      return BlockFetch::kMismatch;
    }
    Bytes stored;
    bool packed = false;
    if (!communicationServer_->downloadDataBlock(Target.checksum, size, stored, packed, OfflineBreak)) {
      if (!OfflineBreak) {
        log(kGeneralLogEvent, kSessionRestore,
            stringWithFormat("Could not get part datablock: %s", Target.checksum.c_str()), kLogFailure);
      }
      return OfflineBreak ? BlockFetch::kOffline : BlockFetch::kNotFetched;
    }
    return decodeBlock(data, Target, stored, packed);
  } catch (const std::exception& e) {
    log(kGeneralLogEvent, kSessionRestore,
        stringWithFormat("Could not download data block from server, Exception: %s", e.what()), kLogFailure);
    return BlockFetch::kNotFetched;
  }
}

DeltaHandler::BlockFetch DeltaHandler::decodeBlock(Bytes& data, const FileBlock& Target, const Bytes& stored,
                                                   bool packed) {
  std::optional<Bytes> decrypted = security_.DecryptStream(stored, accountCipher());
  if (!decrypted || decrypted->empty()) {
    log(kGeneralLogEvent, kSessionRestore, "Error: Could not decompress data block", kLogFailure);
    return BlockFetch::kUndecryptable;
  }
  data = std::move(*decrypted);
  if (packed) {
    Bytes unpacked;
    if (compressor_.DecompressFromStream(data, unpacked, false, "TempFileVerFile.tmp", currentThreadIndex_,
                                         Compressor::kMaxBlockSize)) {
      data = std::move(unpacked);
    }
  }
  // A damaged copy on the service is reported as a missing part, never
  // written.
  if (static_cast<int64_t>(data.size()) != Target.length ||
      !sameChecksum(BlockCutter::sha256StringFromData(data), Target.checksum)) {
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Restore error: block %s from the server does not match its checksum",
                         Target.checksum.c_str()),
        kLogFailure);
    data.clear();
    return BlockFetch::kMismatch;
  }
  return BlockFetch::kFetched;
}

bool DeltaHandler::writeDataFromBlock(const Bytes& data, RestoreTarget& TempFile, size_t /*IteratorJ*/) {
  if (data.empty()) return true;
  if (Cancel()) {
    restoreError_ = kErrorCancelled;
    return false;
  }
  std::string error;
  if (!TempFile.append(data, error)) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in writeDataFromBlock: %s", error.c_str()),
        kLogFailure);
    restoreError_ = "Exception occured: " + error;
    return false;
  }
  return true;
}

}  // namespace palvero
