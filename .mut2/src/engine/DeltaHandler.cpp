#include "engine/DeltaHandler.h"

#include <strings.h>

#include <exception>

#include "base/Clock.h"
#include "base/NotificationCenter.h"
#include "base/NumberCast.h"
#include "base/StringFormat.h"
#include "engine/format/VersionFile.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::string textArgument(const Value& args, const char* key) {
  if (!args.is_object() || !args.contains(key)) return {};
  const Value& value = args[key];
  return value.is_string() ? value.get<std::string>() : std::string();
}

int64_t numberArgument(const Value& args, const char* key, int64_t fallback) {
  if (!args.is_object() || !args.contains(key)) return fallback;
  const Value& value = args[key];
  if (value.is_number()) return saturatingInteger<int64_t>(value);
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    char* end = nullptr;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str()) return number;
  }
  return fallback;
}

}  // namespace

DeltaHandler::DeltaHandler(std::shared_ptr<CommunicationServer> server)
    : communicationServer_(server ? std::move(server) : CommunicationServer::create()),
      uploader_(communicationServer_, cancel_),
      prefetcher_(communicationServer_) {}

// The uploader's thread is joined next: a batch it is sending, or an outage
// it is waiting out, ends at the cancel flag instead of holding the caller.
DeltaHandler::~DeltaHandler() { cancel_.store(true); }

bool DeltaHandler::backupFileWithArgs(const Value& args, int64_t WithIterator) {
  currentThreadIndex_ = stringWithFormat("b%ld", static_cast<long>(WithIterator));
  if (!communicationServer_->syncAuthorise()) return false;
  bool ok = false;
  std::string filePath;
  try {
    filePath = textArgument(args, "filePath");
    std::string name = textArgument(args, "name");
    int64_t fileLength = numberArgument(args, "fileLength", 0);
    log(kStartingBackup, kSessionBackup, stringWithFormat("Backup starting: %s", filePath.c_str()), kLogEvent);
    int64_t previousFileSize = 0;
    ok = backUpFile(filePath, name.empty() ? filePath : name, fileLength, previousFileSize);
  } catch (const std::exception& e) {
    log(kBackupError, kSessionBackup, stringWithFormat("Backup error: %s. Ex: %s", filePath.c_str(), e.what()),
        kLogFailure);
    ok = false;
  } catch (...) {
    ok = false;
  }
  post(ok ? kBackupFileOK : kBackupFileFail);
  return ok;
}

bool DeltaHandler::restoreFileWithArgs(const Value& args, int64_t WithIterator) {
  currentThreadIndex_ = stringWithFormat("r%ld", static_cast<long>(WithIterator));
  if (!communicationServer_->syncAuthorise()) return false;
  bool ok = false;
  try {
    std::string filePath = textArgument(args, "filePath");
    std::string targetPath = textArgument(args, "targetPath");
    std::erase(targetPath, ':');
    auto revision = static_cast<int32_t>(numberArgument(args, "revision", -1));
    std::string deviceID = textArgument(args, "deviceID");
    restoreRoot_ = textArgument(args, "restoreRoot");
    // The run may refuse replacing whatever the setting says (--keep-existing).
    replaceFiles_ = args.is_object() && args.contains("replaceFiles") && args["replaceFiles"].is_boolean()
                        ? args["replaceFiles"].get<bool>()
                        : CommonExtensions::sharedExtensionsManager().replaceFiles();
    // Only a restore of the latest state keeps a local file changed since
    // (a dated or chosen revision replaces it, as the user asked).
    keepNewerLocal_ = !(args.is_object() && args.contains("keepNewerLocal") && args["keepNewerLocal"].is_boolean() &&
                        !args["keepNewerLocal"].get<bool>());
    writtenBeside_.clear();
    log(kStartingRestore, kSessionRestore, stringWithFormat("Restore starting: %s", filePath.c_str()), kLogEvent);
    restoreError_.clear();
    ok = RestoreFile(filePath, targetPath, revision, deviceID);
  } catch (const std::exception& e) {
    restoreError_ = stringWithFormat("Exception occured: %s", e.what());
    ok = false;
  } catch (...) {
    restoreError_ = kErrorIOAccess;
    ok = false;
  }
  if (ok) {
    restoreError_.clear();
    post(kRestoreOK, writtenBeside_.empty() ? Value() : Value{{"writtenBeside", writtenBeside_}});
  } else {
    post(kRestoreFail, Value{{"error", restoreError_}});
  }
  return ok;
}

std::optional<FileDesc> DeltaHandler::GetFileVersion(const std::string& path, int32_t Revision, bool ToBackup,
                                                     bool& OfflineBreak, const std::string& DeviceID) {
  log(kContinuingBackup, kSessionOther, stringWithFormat("Starting DeltaHandler GetFileVersion: %s", path.c_str()),
      kLogDetail);
  try {
    std::optional<std::string> encoded = Functions::UrlEncode(path);
    Bytes stored;
    if (!encoded ||
        !communicationServer_->GetFileVersionBin(*encoded, Revision, stored, ToBackup, OfflineBreak, DeviceID)) {
      log(kRestoreError, kSessionRestore, stringWithFormat("Could not get file version: %s", path.c_str()),
          kLogFailure);
      return std::nullopt;
    }
    std::optional<std::string> text = versionText(stored);
    if (!text) return std::nullopt;
    return VersionFile::ParseFileVersionInfo(*text);
  } catch (const std::exception& e) {
    log(kRestoreError, kSessionRestore,
        stringWithFormat("Could not get file version from server: %s. Exception: %s", path.c_str(), e.what()),
        kLogFailure);
    return std::nullopt;
  }
}

std::optional<FileDesc> DeltaHandler::fetchStoredRevision(const std::string& path, int32_t revision, bool toBackup,
                                                          const std::string& deviceID, const std::string& waitName,
                                                          bool& cancelled) {
  cancelled = false;
  bool offline = false;
  std::optional<FileDesc> desc = GetFileVersion(path, revision, toBackup, offline, deviceID);
  while (offline) {
    if (pauseUnlessCancelled(kOfflinePause)) {
      cancelled = true;
      return std::nullopt;
    }
    if (!waitName.empty()) {
      log(kGeneralLogEvent, kSessionOther, stringWithFormat("File %s is in offline break", waitName.c_str()),
          kLogDetail);
    }
    offline = false;
    desc = GetFileVersion(path, revision, false, offline, deviceID);
  }
  return desc;
}

bool DeltaHandler::pauseUnlessCancelled(std::chrono::seconds pause) {
  Clock::current()->sleepUnlessCancelled(pause, cancel_);
  return cancel_.load();
}

void DeltaHandler::log(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

void DeltaHandler::notBackedUp(const std::string& path, const std::string& reason) {
  log(kBackupError, kSessionBackup,
      stringWithFormat("File was not backed up: %s. Reason: %s", path.c_str(), reason.c_str()), kLogFailure);
}

void DeltaHandler::changedWhileRead(const std::string& path, const std::string& reason) {
  identityChanged_ = true;
  log(kBackupError, kSessionBackup, stringWithFormat("File changed while it was read: %s (%s)", path.c_str(),
                                                     reason.c_str()),
      kLogEvent);
}

bool DeltaHandler::sameChecksum(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

void DeltaHandler::post(const char* name, Value userInfo) const {
  NotificationCenter::defaultCenter().post(name, static_cast<const BlockEngine*>(this), std::move(userInfo));
}

std::string DeltaHandler::accountCipher() { return LocalSettings::sharedManager().accountCipher().value_or(""); }

std::string DeltaHandler::userCipher() { return LocalSettings::sharedManager().userCipher().value_or(""); }

}  // namespace palvero
