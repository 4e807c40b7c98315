#include <sys/stat.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "engine/format/Compressor.h"
#include "platform/AtomicFile.h"
#include "platform/Env.h"
#include "platform/SystemInfo.h"
#include "protocol/CommunicationServer.h"
#include "protocol/MultipartForm.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace fs = std::filesystem;

namespace palvero {
namespace {

// Four non-negative numbers separated by "."; nothing otherwise.
std::optional<std::array<uint64_t, 4>> versionTuple(const std::string& text) {
  std::array<uint64_t, 4> parts{};
  size_t index = 0;
  size_t at = 0;
  while (true) {
    if (index == parts.size()) return std::nullopt;
    size_t end = text.find('.', at);
    std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.size() > 18) return std::nullopt;
    for (char c : part) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    parts[index++] = std::stoull(part);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (index != parts.size()) return std::nullopt;
  return parts;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

void logUpdateFailure(const std::string& reason) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "downloadUpdate Fail. Ex: " + reason,
                                     kLogFailure);
}

}  // namespace

bool CommunicationServer::isNewerVersion(const std::string& server, const std::string& local) {
  auto offered = versionTuple(trimmed(server));
  auto running = versionTuple(trimmed(local));
  return offered && running && *offered > *running;
}

void CommunicationServer::sendLogsWithMessage(const std::string& message, bool IsSilent) {
  try {
    std::string path = LogWriter::sharedLogger().currentLogFilepath();
    std::string content;
    // Nothing logged yet is an empty log, not a failure.
    std::error_code missing;
    if (fs::exists(fs::symlink_status(path, missing)) && !AtomicFile::read(path, content)) {
      throw std::runtime_error("cannot read the log file " + path);
    }
    const std::string boundary = "----------" + MultipartForm::uniqueString();
    auto field = [&boundary](const char* name, const std::string& value) {
      return stringWithFormat("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n", boundary.c_str(),
                              name, value.c_str());
    };
    auto body = std::make_shared<std::string>();
    *body += stringWithFormat("\r\n--%s\r\nContent-Disposition: form-data; name=\"request\"\r\n\r\nsend_logs\r\n",
                              boundary.c_str());
    *body += field("guid", clientId());
    *body += field("osVersion", SystemInfo::operatingSystemText());
    *body += field("message", formValue(message));
    *body += stringWithFormat(
        "\r\n--%s\r\nContent-Disposition: form-data; name=\"file[]\"; filename=\"%s\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n",
        boundary.c_str(), formValue(fs::path(path).filename().string()).c_str());
    *body += content;
    *body += MultipartForm::closing(boundary);
    std::string contentType = MultipartForm::contentType(boundary);
    sendAsyncRenewing(
        "sendLogsWithMessage",
        [body, contentType](CommunicationServer& self) {
          return self.sendBody(*body, contentType, self.lastCookie(), true);
        },
        [IsSilent](CommunicationServer& self, const HttpResponse& response) {
          if (response.completed() && response.status == 200 && response.body == "ok") {
            self.updateCookies(response);
            if (!IsSilent) self.postNotification("LogsSentOK");
            return;
          }
          logFailure(stringWithFormat("sendLogsWithMessage Fail. Response: %s with status code: %ld",
                                      bodyForLog(response).c_str(), response.status));
          if (!IsSilent) self.postNotification("LogsSentFail");
        },
        nullptr);
  } catch (const std::exception& e) {
    logFailure(stringWithFormat("sendLogsWithMessage Fail. Response: %s with status code: %ld", e.what(), 0L));
    if (!IsSilent) postNotification("LogsSentFail");
  }
}

bool CommunicationServer::syncCheckVersion(int64_t clientType, std::string& versions) {
  try {
    HttpResponse response = sendForm(
        getStringForRequest(RequestKind::kCheckVersion, stringWithFormat("%lld", static_cast<long long>(clientType))));
    if (response.completed() && response.status == 401) {
      if (!syncAuthorise()) return false;
      return rerunAfterRenewal<bool>("syncCheckVersion", false, [&] { return syncCheckVersion(clientType, versions); });
    }
    if (!response.completed() || response.status != 200) {
      versions = "Can't check version";
      return false;
    }
    updateCookies(response);
    versions = bodyForLog(response);
    return isNewerVersion(response.body, applicationVersion());
  } catch (const std::exception& e) {
    logFailure(std::string("syncCheckVersion Fail. Ex: ") + e.what());
    return false;
  }
}

void CommunicationServer::checkVersion(int64_t clientType) {
  try {
    std::string form =
        getStringForRequest(RequestKind::kCheckVersion, stringWithFormat("%lld", static_cast<long long>(clientType)));
    sendAsyncRenewing(
        "checkVersion", [form](CommunicationServer& self) { return self.sendForm(form); },
        [](CommunicationServer& self, const HttpResponse& response) {
          if (!response.completed() || response.status != 200) {
            self.postNotification("CheckVersionFail");
            return;
          }
          self.updateCookies(response);
          if (isNewerVersion(response.body, self.applicationVersion())) {
            self.postNotification("CheckVersionOK", Value{{"version", trimmed(response.body)}});
          }
        },
        nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("checkVersion Fail. Ex: ") + e.what());
  }
}

void CommunicationServer::downloadUpdate(int64_t clientType) {
  try {
    std::string form =
        getStringForRequest(RequestKind::kDownloadUpdate, stringWithFormat("%lld", static_cast<long long>(clientType)));
    sendAsyncRenewing(
        "downloadUpdate",
        [form](CommunicationServer& self) { return self.sendForm(form, CookieChoice::kLast, kMaxUpdaterReplyBytes); },
        [](CommunicationServer& self, const HttpResponse& response) {
          if (!response.completed() || response.status != 200) {
            self.postNotification("DownloadUpdateFail");
            return;
          }
          if (response.body.empty()) return;
          // Unpacking may take a while: off the main thread, then back to it
          // to post.
          DispatchQueue::global().async([self = self.shared_from_this(), archive = response.body] {
            if (!installUpdater(archive)) return;
            RunLoop::main().async([self] { self->postNotification("DownloadUpdateOK"); });
          });
        },
        nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("downloadUpdate Fail. Ex: ") + e.what());
  }
}

bool CommunicationServer::installUpdater(const std::string& archive) {
  try {
    const std::string support = Env::supportDirectory();
    std::error_code ec;
    fs::create_directories(support, ec);
    std::string error;
    if (!AtomicFile::write(support + "/" + kUpdaterArchiveName, archive, 0600, &error)) {
      logUpdateFailure("cannot write " + std::string(kUpdaterArchiveName) + ": " + error);
      return false;
    }
    Compressor compressor;
    if (!compressor.unzipUpdater()) {
      logUpdateFailure("cannot unpack " + std::string(kUpdaterArchiveName));
      return false;
    }
    const fs::path from = fs::path(support) / kUpdaterFolderName / kUpdaterName;
    const fs::path to = fs::path(support) / kUpdaterName;
    auto status = fs::symlink_status(from, ec);
    if (ec || !fs::exists(status) || fs::is_symlink(status)) {
      logUpdateFailure(std::string("the archive holds no ") + kUpdaterName);
      return false;
    }
    fs::remove_all(to, ec);
    fs::rename(from, to, ec);
    if (ec) {
      logUpdateFailure("cannot move " + std::string(kUpdaterName) + ": " + ec.message());
      return false;
    }
    // Executable by its owner only: a program the client later launches must
    // not be writable by other users.
    if (::chmod(to.c_str(), S_IRWXU) != 0) {
      logUpdateFailure("cannot set the permissions of " + to.string());
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    logUpdateFailure(e.what());
    return false;
  }
}

}  // namespace palvero
