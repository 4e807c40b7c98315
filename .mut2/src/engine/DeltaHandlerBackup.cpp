// Backup of one file: stored revision, the ~/Library rule, the blocks
// (cut and sent in DeltaHandlerBlocks.cpp) and the version upload.
#include <cstring>
#include <exception>

#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "engine/PathRules.h"
#include "engine/PrivateCopy.h"
#include "engine/format/VersionFile.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// A new revision of a file under ~/Library is due only a day after the
// stored one; elsewhere every change is due. Unknown times count as due.
bool newRevisionDue(const FileDesc& desc, const FileDesc& stored) {
  if (!desc.isLibraryFile() || !desc.LastChangedData || !stored.LastChangedData) return true;
  return desc.LastChangedData->timeIntervalSince(*stored.LastChangedData) >= DeltaHandler::kLibraryRevisionInterval;
}

}  // namespace

bool DeltaHandler::backUpFile(const std::string& path, const std::string& name, int64_t FileLength,
                              int64_t& PreviousFileSize) {
  log(kContinuingBackup, kSessionBackup, stringWithFormat("Starting DeltaHandler backUpFile: %s", path.c_str()),
      kLogDetail);
  if (path.empty() || path.front() != '/') {
    notBackedUp(path, "not an absolute path");
    return false;
  }
  if (auto problem = PathRules::versionTextProblem(path)) {
    notBackedUp(path, *problem + ", which a version file cannot hold");
    return false;
  }
  SourceFile::Identity identity;
  int error = 0;
  switch (SourceFile::inspect(path, identity, &error)) {
    case SourceFile::Kind::kRegular:
      break;
    case SourceFile::Kind::kMissing:
      // Gone before it was read: nothing to record, as for a file deleted
      // during its backup; the change watcher reports the deletion.
      log(kFileNotFound, kSessionBackup, stringWithFormat("File no longer exists: %s", path.c_str()), kLogEvent);
      return true;
    case SourceFile::Kind::kNotRegular:
      notBackedUp(path, "not a regular file");
      return false;
    case SourceFile::Kind::kUnreadable:
      notBackedUp(path, std::strerror(error));
      return false;
  }

  bool cancelled = false;
  std::string clientId = LocalSettings::sharedManager().clientId().value_or("");
  std::optional<FileDesc> stored = fetchStoredRevision(path, -1, true, clientId, name, cancelled);
  if (cancelled) return false;
  if (stored) PreviousFileSize = stored->Length;
  if (Cancel()) return false;

  FileDesc desc(Functions::GetFileDateTime(path), path, FileLength);
  desc.FileParts.emplace_back(path, FileLength);
  if (!stored) return BackUpNewFile(desc, FileLength, path);
  if (newRevisionDue(desc, *stored)) return BackUpNextVersion(desc, FileLength, path, *stored, false);
  log(kFileNotChanged, kSessionBackup,
      stringWithFormat("Library file changed less than a day after its stored revision: %s", path.c_str()), kLogDetail);
  return true;
}

bool DeltaHandler::BackUpNewFile(FileDesc& desc, int64_t /*FileLength*/, const std::string& OriginalPath) {
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler BackUpNewFile: %s", desc.FileName.c_str()), kLogDetail);
  return backUpParts(desc, OriginalPath);
}

bool DeltaHandler::BackUpNextVersion(FileDesc& desc, int64_t /*FileLength*/, const std::string& OriginalPath,
                                     const FileDesc& /*PreviousMainFile*/, bool /*IsCompoundFile*/) {
  // Unchanged blocks are found by checksum, so the stored revision is not
  // matched against.
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("Starting DeltaHandler BackUpNextVersion: %s", desc.FileName.c_str()), kLogDetail);
  return backUpParts(desc, OriginalPath);
}

const std::string& DeltaHandler::readPath(const std::string& path) const {
  return readPath_.empty() ? path : readPath_;
}

bool DeltaHandler::backUpParts(FileDesc& desc, const std::string& path) {
  const FileDesc original = desc;
  for (int attempt = 1; attempt <= kTriesBeforePrivateCopy; ++attempt) {
    identityChanged_ = false;
    desc = original;
    if (backUpPartsOnce(desc, path)) return true;
    if (!identityChanged_) return false;
    if (Cancel()) {
      notBackedUp(path, "it changed while it was read, and the backup was cancelled");
      return false;
    }
  }
  desc = original;
  return backUpFromPrivateCopy(desc, path);
}

bool DeltaHandler::backUpFromPrivateCopy(FileDesc& desc, const std::string& path) {
  std::string folder = Compressor::scratchFolder(currentThreadIndex_);
  if (folder.empty()) {
    notBackedUp(path, "it changed while it was read on every try, and no scratch folder for a private copy could be "
                      "made");
    return false;
  }
  PrivateCopy copy;
  std::string reason;
  if (!copy.make(path, folder, reason)) {
    notBackedUp(path, "it changed while it was read on every try, and " + reason);
    return false;
  }
  log(kContinuingBackup, kSessionBackup,
      stringWithFormat("File %s changed while it was read on %d tries; it is backed up from a private copy (%s)",
                       path.c_str(), kTriesBeforePrivateCopy, copy.reflinked() ? "reflink" : "copied"),
      kLogEvent);
  struct Reset {
    DeltaHandler& engine;
    ~Reset() {
      engine.readPath_.clear();
      engine.copySource_.reset();
    }
  } reset{*this};
  readPath_ = copy.path();
  copySource_ = copy.sourceIdentity();
  identityChanged_ = false;
  if (backUpPartsOnce(desc, path)) return true;
  if (identityChanged_) notBackedUp(path, "its private copy changed while it was read");
  return false;
}

bool DeltaHandler::backUpPartsOnce(FileDesc& desc, const std::string& path) {
  try {
    for (FilePart& part : desc.FileParts) {
      if (Cancel()) return false;
      switch (cutAndUploadPart(part, path)) {
        case PartOutcome::kDone:
          break;
        case PartOutcome::kGone:
          // Deleted before or while its blocks went out: nothing to record.
          log(kFileNotFound, kSessionBackup, stringWithFormat("File no longer exists: %s", path.c_str()), kLogEvent);
          return true;
        case PartOutcome::kCutFailed:
          return false;
        case PartOutcome::kUploadFailed:
          // A change while it was read is logged as such and tried again.
          if (!identityChanged_) {
            log(kBackupError, kSessionBackup,
                stringWithFormat("File was not backed up: %s. Size: %lu", desc.FileName.c_str(),
                                 static_cast<unsigned long>(part.Length)),
                kLogFailure);
          }
          return false;
      }
      if (Cancel()) return false;
    }
    if (desc.FileParts.size() == 1) {
      // The revision describes the bytes that were cut, not the queue's
      // older idea of the file (a private copy: the file when it was copied).
      desc.Length = desc.FileParts.front().Length;
      desc.LastChangedData = copySource_ ? copySource_->changeTime() : cutIdentity_.changeTime();
    }

    SourceFile::Identity now;
    SourceFile::Kind kind = SourceFile::inspect(readPath(path), now);
    if (kind == SourceFile::Kind::kMissing) {
      log(kFileNotFound, kSessionBackup, stringWithFormat("File no longer exists: %s", path.c_str()), kLogEvent);
      return true;
    }
    if (kind != SourceFile::Kind::kRegular || !now.sameAs(cutIdentity_)) {
      changedWhileRead(path, "it changed during the backup; no revision was recorded");
      return false;
    }
    std::string modified =
        desc.LastChangedData ? desc.LastChangedData->format(Date::kSettingsPattern) : Functions::getCurrentTime();
    if (!UpdateFileVersion(path, desc, modified)) return false;
    log(kContinuingBackup, kSessionBackup, stringWithFormat("File version uploaded: %s", path.c_str()), kLogEvent);
    return true;
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("Backup error: %s. Ex: %s", desc.FileName.c_str(), e.what()),
        kLogFailure);
    return false;
  }
}

bool DeltaHandler::UpdateFileVersion(const std::string& path, const FileDesc& Details,
                                     const std::string& ModifiedTime) {
  log(kContinuingBackup, kSessionBackup, stringWithFormat("Starting DeltaHandler UpdateFileVersion: %s", path.c_str()),
      kLogDetail);
  try {
    std::string text = VersionFile::FormatFileVersionInfo(Details);
    if (text.empty()) {
      log(kBackupError, kSessionBackup, "Could not upload verfile to server.  Version string is nil", kLogFailure);
      return false;
    }
    std::optional<Bytes> bytes = versionBytes(text, path);
    if (!bytes) return false;
    if (Cancel()) return false;
    bool offline = false;
    bool sent =
        communicationServer_->updateFileVersionWithFilename(path, Details.Length, ModifiedTime, *bytes, offline);
    while (!sent && offline) {
      if (pauseUnlessCancelled(kVersionUploadPause)) return false;
      offline = false;
      sent = communicationServer_->updateFileVersionWithFilename(path, Details.Length, ModifiedTime, *bytes, offline);
    }
    if (!sent) {
      log(kGeneralLogEvent, kSessionOther,
          stringWithFormat("Error occured, while sending file version for file %s", path.c_str()), kLogFailure);
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup,
        stringWithFormat("Could not upload verfile to server: %s. Ex: %s", path.c_str(), e.what()), kLogFailure);
    return false;
  }
}

std::optional<Bytes> DeltaHandler::versionBytes(const std::string& text, const std::string& path) {
  Bytes plain = bytesFromString(text);
  std::string cipher = userCipher();
  if (cipher.empty()) return plain;
  Bytes packed;
  std::string errorText;
  int32_t errorType = 0;
  if (!compressor_.CompressPackageStream(plain, packed, path, "Octet", errorText, errorType, currentThreadIndex_)) {
    return std::nullopt;
  }
  Bytes chosen = packed.size() < plain.size() ? std::move(packed) : std::move(plain);
  if (!versionSecurity_.EncryptStream(chosen, cipher)) {
    log(kBackupError, kSessionBackup, stringWithFormat("Could not encrypt data block: %s", path.c_str()), kLogFailure);
    return std::nullopt;
  }
  return chosen;
}

std::optional<std::string> DeltaHandler::versionText(const Bytes& stored) {
  std::string cipher = userCipher();
  if (cipher.empty()) return stringFromBytes(stored);
  std::optional<Bytes> decrypted = versionSecurity_.DecryptStream(stored, cipher);
  if (!decrypted || decrypted->empty()) return std::nullopt;
  Bytes unpacked;
  if (compressor_.DecompressFromStream(*decrypted, unpacked, false, "TempFileVerFile.tmp", currentThreadIndex_)) {
    return stringFromBytes(unpacked);
  }
  return stringFromBytes(*decrypted);
}

}  // namespace palvero
