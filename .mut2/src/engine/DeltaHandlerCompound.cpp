// Revisions of several parts (compound files): each member is restored into
// the worker's scratch folder, the members are joined into one zip container,
// and the container is moved into place like any restored file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

#include "base/StringFormat.h"
#include "engine/CompoundFileOperations.h"
#include "engine/DeltaHandler.h"
#include "engine/RestoreFileOperations.h"
#include "engine/RestoreTarget.h"
#include "platform/FileSystem.h"
#include "platform/PrivateFiles.h"
#include "platform/UniqueFd.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// Removes the scratch folder and the joined archive on every way out.
class ScratchGuard {
 public:
  explicit ScratchGuard(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  ~ScratchGuard() {
    std::error_code ignored;
    for (const auto& path : paths_) std::filesystem::remove_all(path, ignored);
  }
  ScratchGuard(const ScratchGuard&) = delete;
  ScratchGuard& operator=(const ScratchGuard&) = delete;

 private:
  std::vector<std::string> paths_;
};

}  // namespace

bool DeltaHandler::RestoreFile(const std::string& target, const FileDesc& Desc) {
  log(kContinuingBackup, kSessionRestore, stringWithFormat("Starting DeltaHandler RestoreFile: %s", target.c_str()),
      kLogDetail);
  try {
    for (const FilePart& part : Desc.FileParts) {
      if (!CompoundFileOperations::isSafePartName(part.PartName)) {
        log(kRestoreError, kSessionRestore,
            stringWithFormat("Restore error: %s. Ex: refused member name \"%s\"", target.c_str(),
                             part.PartName.c_str()),
            kLogFailure);
        restoreError_ = stringWithFormat(kErrorMultipleParts, kErrorRefusedPath);
        return false;
      }
    }
    const std::string scratch = CompoundFileOperations::GetTempPath(Desc.FileName, currentThreadIndex_);
    const std::string joined = scratch + ".joined";
    // A folder left by a crashed restore must not lend members to this one.
    ScratchGuard guard({scratch, joined});
    std::error_code error;
    std::filesystem::remove_all(scratch, error);
    std::filesystem::remove(joined, error);
    if (scratch.empty() || !FileSystem::current().makeFolders(scratch, PrivateFiles::kFolderMode) ||
        !PrivateFiles::ensureFolder(scratch)) {
      log(kRestoreError, kSessionRestore,
          stringWithFormat("Restore error: %s. Ex: cannot create %s", target.c_str(), scratch.c_str()), kLogFailure);
      restoreError_ = kErrorCreateDirectory;
      return false;
    }
    int64_t total = 0;
    for (const FilePart& part : Desc.FileParts) total += bytesOf(part);
    // Members and the joined archive sit in the caches folder at once.
    if (!hasRoomFor(scratch, 2 * total)) return false;

    const std::string changeTime =
        Desc.LastChangedData ? Desc.LastChangedData->format(Date::kSettingsPattern) : std::string();
    for (const FilePart& part : Desc.FileParts) {
      if (Cancel()) {
        restoreError_ = kErrorCancelled;
        return false;
      }
      if (!writePart(scratch + "/" + part.PartName, part, changeTime, scratch, PrivateFiles::kFileMode)) {
        restoreError_ = stringWithFormat(kErrorMultipleParts, restoreError_.c_str());
        return false;
      }
    }
    std::string fileToWrite = RestoreFileOperations::fileToWrite(target, changeTime, replaceFiles_, keepNewerLocal_);
    if (fileToWrite != target) writtenBeside_ = fileToWrite;
    // The archive writer keeps the mode of a file that is already there.
    if (!PrivateFiles::ensureFile(joined) ||
        !CompoundFileOperations::ZipCompoundFile(joined, scratch, Desc.FileParts, currentThreadIndex_)) {
      log(kRestoreError, kSessionRestore,
          stringWithFormat("Restore error: %s. Ex: the members could not be joined", target.c_str()), kLogFailure);
      restoreError_ = kErrorMerging;
      return false;
    }
    return installJoined(joined, fileToWrite, changeTime);
  } catch (const std::exception& e) {
    return restoreFailed(target, e.what());
  }
}

bool DeltaHandler::installJoined(const std::string& joined, const std::string& fileToWrite,
                                 const std::string& changeTime) {
  FileSystem& fs = FileSystem::current();
  UniqueFd source(fs.open(joined, O_RDONLY | O_CLOEXEC));
  if (!source) return restoreFailed(fileToWrite, std::strerror(errno));
  struct stat st {};
  if (fs.status(source.get(), st) != 0) return restoreFailed(fileToWrite, std::strerror(errno));
  std::string folder = fileToWrite.substr(0, std::max<size_t>(fileToWrite.rfind('/'), 1));
  if (!hasRoomFor(folder, st.st_size)) return false;
  RestoreTarget output;
  std::string error;
  if (!output.create(fileToWrite, error, restoreRoot_)) {
    bool retried = false;
    if (restoreRoot_.empty()) {
      fs.makeFolders(folder, 0777);
      retried = output.create(fileToWrite, error);
    }
    if (!retried) return restoreFailed(fileToWrite, error);
  }
  Bytes buffer(1 << 20);
  while (true) {
    ssize_t n = fs.read(source.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return restoreFailed(fileToWrite, std::strerror(errno));
    if (n == 0) break;
    if (!output.append(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), error)) {
      return restoreFailed(fileToWrite, error);
    }
    if (Cancel()) {
      restoreError_ = kErrorCancelled;
      return false;
    }
  }
  if (!output.commit(changeStamp(changeTime), error)) return restoreFailed(fileToWrite, error);
  return true;
}

}  // namespace palvero
