// A restore that writes nothing: the revision and every block it lists are
// fetched and checked exactly as a restore would, and only the verdict is
// kept.
#include <exception>

#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::string blockProblem(const char* what, const FileBlock& block) {
  return stringWithFormat("block %s (%lld bytes) %s", block.checksum.c_str(), static_cast<long long>(block.length),
                          what);
}

}  // namespace

DeltaHandler::RevisionCheck DeltaHandler::verifyFile(const std::string& path, int32_t revision,
                                                     const std::string& deviceID) {
  currentThreadIndex_ = "v0";
  RevisionCheck check = checkRevision(path, revision, deviceID);
  if (!check.restorable && !check.cancelled) {
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Verify: %s cannot be restored: %s", path.c_str(), check.problem.c_str()), kLogFailure);
  }
  return check;
}

DeltaHandler::RevisionCheck DeltaHandler::checkRevision(const std::string& path, int32_t revision,
                                                        const std::string& deviceID) {
  RevisionCheck check;
  try {
    bool cancelled = false;
    std::optional<FileDesc> desc = fetchStoredRevision(path, revision, false, deviceID, "", cancelled);
    if (cancelled) {
      check.cancelled = true;
      return check;
    }
    if (!desc || desc->FileName.empty()) {
      check.problem = "its version text cannot be fetched or read";
      return check;
    }
    for (const FilePart& part : desc->FileParts) {
      int64_t partBytes = 0;
      for (const FileBlock& block : part.FileBlocks) {
        Bytes data;
        bool offline = false;
        BlockFetch fetched = fetchBlockBytes(data, block, offline);
        while (fetched == BlockFetch::kOffline) {
          if (pauseUnlessCancelled(kOfflinePause)) {
            check.cancelled = true;
            return check;
          }
          offline = false;
          fetched = fetchBlockBytes(data, block, offline);
        }
        switch (fetched) {
          case BlockFetch::kFetched:
            break;
          case BlockFetch::kCancelled:
            check.cancelled = true;
            return check;
          case BlockFetch::kUndecryptable:
            check.problem = blockProblem("cannot be decrypted", block);
            return check;
          case BlockFetch::kMismatch:
            check.problem = blockProblem("does not match its checksum or length", block);
            return check;
          case BlockFetch::kOffline:
          case BlockFetch::kNotFetched:
            check.problem = blockProblem("cannot be fetched from the service", block);
            return check;
        }
        ++check.blocks;
        check.bytes += static_cast<int64_t>(data.size());
        partBytes += static_cast<int64_t>(data.size());
      }
      // A restore writes what the blocks hold; a version text whose blocks
      // do not make up the part would give back a file of the wrong length.
      if (partBytes != part.Length) {
        check.problem = stringWithFormat("its blocks hold %lld bytes, the version text says %lld",
                                         static_cast<long long>(partBytes), static_cast<long long>(part.Length));
        return check;
      }
    }
    check.restorable = true;
  } catch (const std::exception& e) {
    check.problem = stringWithFormat("Exception occured: %s", e.what());
  }
  return check;
}

}  // namespace palvero
