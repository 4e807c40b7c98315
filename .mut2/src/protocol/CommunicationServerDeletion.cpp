#include "base/StringFormat.h"
#include "protocol/CommunicationServer.h"
#include "state/LogWriter.h"

namespace palvero {

bool CommunicationServer::syncDeleteVerFile(const std::optional<std::string>& path, int64_t Size,
                                            const std::optional<std::string>& Extension, bool Immediately) {
  try {
    // An empty path or extension would be read by a service as "everything".
    bool hasPath = path && !path->empty();
    bool hasExtension = Extension && !Extension->empty();
    std::string base = "guid=" + clientId() + "&request=delete&immediately=" + (Immediately ? "1" : "0");
    std::string form;
    if (hasPath) {
      form = base + "&path=" + *path;
    } else if (Size != 0) {
      form = base + stringWithFormat("&size=%lld", static_cast<long long>(Size));
    } else if (hasExtension) {
      form = base + "&extension=" + *Extension;
    } else {
      return false;
    }
    HttpResponse response = sendForm(form);
    if (response.completed() && response.status == 401) {
      if (!syncAuthorise()) return false;
      return rerunAfterRenewal<bool>("syncDeleteVerFile", false,
                                     [&] { return syncDeleteVerFile(path, Size, Extension, Immediately); });
    }
    if (response.completed() && response.status == 200) {
      if (response.body != "ok") return false;
      updateCookies(response);
      if (hasPath) {
        logEntry(kStartingBackup, kSessionBackup,
                 stringWithFormat("Deleting file versions. Path %s removed successfully", path->c_str()), kLogEvent);
      }
      return true;
    }
    logFailure(stringWithFormat("syncDeleteVerFile FAIL. File: %s Response: %s with status code: %ld",
                                hasPath ? path->c_str() : "(null)", bodyForLog(response).c_str(), response.status));
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method syncDeleteVerFile: ") + e.what());
    return false;
  }
}

}  // namespace palvero
