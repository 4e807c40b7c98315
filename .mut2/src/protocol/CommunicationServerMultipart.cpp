#include "base/StringFormat.h"
#include "protocol/CommunicationServer.h"
#include "protocol/MultipartForm.h"

namespace palvero {

bool CommunicationServer::sendFilePostHTTP(const std::string& fileName, std::map<std::string, std::string> Params,
                                           const Bytes& File, bool Multipart, bool& OfflineBreak) {
  try {
    if (File.empty()) return true;
    if (!Multipart || static_cast<int64_t>(File.size()) <= kSplitPartSize) {
      return sendSingleFile(fileName, Params, File, Multipart, OfflineBreak);
    }
    return sendFileInParts(fileName, std::move(Params), File, OfflineBreak);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method sendFilePostHTTP: ") + e.what());
    return false;
  }
}

std::string CommunicationServer::multipartBody(const std::string& boundary, const std::string& fileName,
                                               const std::map<std::string, std::string>& params, const uint8_t* data,
                                               size_t size) const {
  std::string body;
  for (const auto& [key, value] : params) {
    if (key != "cookie") body += MultipartForm::field(boundary, key, value);
  }
  body += MultipartForm::fileHeader(boundary, "file", fileName);
  std::string closing = MultipartForm::closing(boundary);
  body.reserve(body.size() + size + closing.size());
  body.append(reinterpret_cast<const char*>(data), size);
  body += closing;
  return body;
}

CommunicationServer::UploadOutcome CommunicationServer::sendUploadRequest(const std::string& body,
                                                                          const std::string& contentType,
                                                                          const std::optional<HTTPCookie>& cookie,
                                                                          bool renewWhenUnanswered,
                                                                          bool& offlineBreak) {
  for (int failed = 0; failed < kMaxAttempts; ++failed) {
    HttpResponse response = sendBody(body, contentType, cookie, true);
    if (isOutage(response)) {
      offlineBreak = true;
      return UploadOutcome::kOffline;
    }
    offlineBreak = false;
    if (!response.completed()) {
      if (renewWhenUnanswered) syncAuthorise();
      continue;
    }
    if (response.status == 200) {
      if (response.body != "ok") return UploadOutcome::kAnsweredOtherwise;
      updateCookies(response);
      return UploadOutcome::kStored;
    }
    if (response.status == 401) return syncAuthorise() ? UploadOutcome::kRenewed : UploadOutcome::kRefused;
    if (response.status == 503) {
      offlineBreak = true;
      return UploadOutcome::kOffline;
    }
    if (response.status == 502) pause(std::chrono::seconds(1));
  }
  return UploadOutcome::kExhausted;
}

bool CommunicationServer::sendSingleFile(const std::string& fileName, const std::map<std::string, std::string>& params,
                                         const Bytes& file, bool multipart, bool& offlineBreak) {
  std::string boundary = MultipartForm::newBoundary();
  std::string body = multipartBody(boundary, fileName, params, file.data(), file.size());
  UploadOutcome outcome =
      sendUploadRequest(body, MultipartForm::contentType(boundary), firstCookie(), true, offlineBreak);
  if (outcome == UploadOutcome::kStored) return true;
  if (outcome != UploadOutcome::kRenewed) return false;
  logFailure(
      stringWithFormat("Authorisation failed in uploadFileVersion, reauthorising for file %s", fileName.c_str()));
  return rerunAfterRenewal<bool>("sendFilePostHTTP", false, [&] {
    auto fresh = params;
    if (fresh.count("cookie")) fresh["cookie"] = cookieHeader(lastCookie()).value_or("");
    return sendFilePostHTTP(fileName, fresh, file, multipart, offlineBreak);
  });
}

bool CommunicationServer::sendFileInParts(const std::string& fileName, std::map<std::string, std::string> params,
                                          const Bytes& file, bool& offlineBreak) {
  const auto original = params;
  params["finalpart"] = "False";
  std::optional<HTTPCookie> cookie;
  if (auto it = params.find("cookie"); it != params.end() && !it->second.empty()) {
    size_t eq = it->second.find('=');
    cookie = HTTPCookie{it->second.substr(0, eq), eq == std::string::npos ? "" : it->second.substr(eq + 1)};
  }
  const size_t total = file.size();
  for (size_t offset = 0; offset < total;) {
    size_t size = std::min(static_cast<size_t>(kSplitPartSize), total - offset);
    if (offset + size == total) params["finalpart"] = "True";
    // The offset lets the service place a part it sees twice (after an
    // outage the engine sends the whole file again).
    params["offset"] = std::to_string(offset);
    std::string boundary = MultipartForm::newBoundary();
    std::string body = multipartBody(boundary, fileName, params, file.data() + offset, size);
    switch (sendUploadRequest(body, MultipartForm::contentType(boundary), cookie, false, offlineBreak)) {
      case UploadOutcome::kStored:
        return true;
      case UploadOutcome::kAnsweredOtherwise:
        offset += size;
        continue;
      case UploadOutcome::kRenewed:
        return rerunAfterRenewal<bool>("sendFilePostHTTP", false, [&] {
          auto fresh = original;
          fresh["cookie"] = cookieHeader(lastCookie()).value_or("");
          return sendFilePostHTTP(fileName, fresh, file, true, offlineBreak);
        });
      case UploadOutcome::kExhausted:
        // Going on past a part the service never took would store a file
        // with a hole in it; the upload fails instead and is tried again whole.
        logFailure(stringWithFormat("sendFilePostHTTP FAIL. The part at byte %zu of %s was not accepted", offset,
                                    fileName.c_str()));
        return false;
      case UploadOutcome::kRefused:
      case UploadOutcome::kOffline:
        return false;
    }
  }
  return false;
}

}  // namespace palvero
