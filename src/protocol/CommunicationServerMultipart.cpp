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

bool CommunicationServer::sendSingleFile(const std::string& fileName, const std::map<std::string, std::string>& params,
                                         const Bytes& file, bool multipart, bool& offlineBreak) {
  std::string boundary = MultipartForm::newBoundary();
  std::string body = multipartBody(boundary, fileName, params, file.data(), file.size());
  std::string contentType = MultipartForm::contentType(boundary);
  for (int failed = 0; failed < kMaxAttempts;) {
    HttpResponse response = sendBody(body, contentType, firstCookie(), true);
    if (!response.completed()) {
      if (isOutage(response)) {
        offlineBreak = true;
        return false;
      }
      offlineBreak = false;
      syncAuthorise();
      ++failed;
      continue;
    }
    offlineBreak = false;
    if (response.status == 200 && response.body == "ok") {
      updateCookies(response);
      return true;
    }
    if (response.status == 401) {
      if (!syncAuthorise()) return false;
      logFailure(
          stringWithFormat("Authorisation failed in uploadFileVersion, reauthorising for file %s", fileName.c_str()));
      return rerunAfterRenewal<bool>("sendFilePostHTTP", false, [&] {
        auto fresh = params;
        if (fresh.count("cookie")) fresh["cookie"] = cookieHeader(lastCookie()).value_or("");
        return sendFilePostHTTP(fileName, fresh, file, multipart, offlineBreak);
      });
    }
    if (response.status == 502) {
      pause(std::chrono::seconds(1));
    } else if (response.status == 503) {
      offlineBreak = true;
      return false;
    } else if (response.status == 200) {
      return false;
    }
    ++failed;
  }
  return false;
}

bool CommunicationServer::sendFileInParts(const std::string& fileName, std::map<std::string, std::string> params,
                                          const Bytes& file, bool& offlineBreak) {
  const auto original = params;
  params["finalpart"] = "False";
  const size_t total = file.size();
  for (size_t offset = 0; offset < total;) {
    size_t size = std::min(static_cast<size_t>(kSplitPartSize), total - offset);
    if (offset + size == total) params["finalpart"] = "True";
    // The offset lets the service place a part it sees twice (after an
    // outage the engine sends the whole file again).
    params["offset"] = std::to_string(offset);
    std::string boundary = MultipartForm::newBoundary();
    std::string body = multipartBody(boundary, fileName, params, file.data() + offset, size);
    std::string contentType = MultipartForm::contentType(boundary);
    std::optional<HTTPCookie> cookie;
    if (auto it = params.find("cookie"); it != params.end() && !it->second.empty()) {
      size_t eq = it->second.find('=');
      cookie = HTTPCookie{it->second.substr(0, eq), eq == std::string::npos ? "" : it->second.substr(eq + 1)};
    }
    bool accepted = false;
    for (int failed = 0; failed < kMaxAttempts && !accepted;) {
      HttpResponse response = sendBody(body, contentType, cookie, true);
      if (!response.completed()) {
        if (isOutage(response)) {
          offlineBreak = true;
          return false;
        }
        offlineBreak = false;
        ++failed;
        continue;
      }
      offlineBreak = false;
      if (response.status == 200 && response.body == "ok") {
        updateCookies(response);
        return true;
      }
      if (response.status == 401) {
        if (!syncAuthorise()) return false;
        return rerunAfterRenewal<bool>("sendFilePostHTTP", false, [&] {
          auto fresh = original;
          fresh["cookie"] = cookieHeader(lastCookie()).value_or("");
          return sendFilePostHTTP(fileName, fresh, file, true, offlineBreak);
        });
      }
      if (response.status == 502) {
        pause(std::chrono::seconds(1));
        ++failed;
      } else if (response.status == 503) {
        offlineBreak = true;
        return false;
      } else if (response.status == 200) {
        accepted = true;
      } else {
        ++failed;
      }
    }
    // Going on past a part the service never took would store a file with a
    // hole in it; the upload fails instead and is tried again whole.
    if (!accepted) {
      logFailure(stringWithFormat("sendFilePostHTTP FAIL. The part at byte %zu of %s was not accepted", offset,
                                  fileName.c_str()));
      return false;
    }
    offset += size;
  }
  return false;
}

}  // namespace palvero
