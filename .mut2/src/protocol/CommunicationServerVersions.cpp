#include "base/StringFormat.h"
#include "protocol/CommunicationServer.h"
#include "protocol/WorkerActivity.h"

namespace palvero {

bool CommunicationServer::GetFileVersionBin(const std::string& filePath, int32_t Version, Bytes& Stream, bool ToBackup,
                                            bool& Offlinebreak, const std::optional<std::string>& DeviceID) {
  try {
    paceRequest();
    std::string version = stringWithFormat("%i", Version);
    std::string undelete = ToBackup ? "1" : "0";
    bool otherDevice = DeviceID && !DeviceID->empty() && DeviceID->find("null") == std::string::npos;
    std::string form =
        otherDevice ? getStringForRequest(RequestKind::kGetVersionOfDevice, filePath, version, undelete, *DeviceID)
                    : getStringForRequest(RequestKind::kGetVersion, filePath, version, undelete);
    RetryPolicy policy;
    policy.special = [](const HttpResponse& r) {
      return r.status == 404 ? SpecialReply::kFailNow : SpecialReply::kNone;
    };
    policy.succeeded = [](const HttpResponse& r) { return r.status == 200; };
    policy.logFailure = [&filePath](int attempt, const HttpResponse& r) {
      logFailure(stringWithFormat("GetFileVersionBin FAIL on attempt %d. File: %s. Response: %s with status code: %ld",
                                  attempt, filePath.c_str(), bodyForLog(r).c_str(), r.status));
    };
    policy.maxReplyBytes = kMaxVersionReplyBytes;
    HttpResponse response;
    switch (exchangeWithRetries(form, policy, Offlinebreak, response)) {
      case RetryResult::kSucceeded:
        Stream = bytesOfBody(response);
        return true;
      case RetryResult::kRenewed:
        return rerunAfterRenewal<bool>("GetFileVersionBin", false, [&] {
          return GetFileVersionBin(filePath, Version, Stream, ToBackup, Offlinebreak, DeviceID);
        });
      case RetryResult::kFailed:
        break;
    }
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method getFileVersion: ") + e.what());
    return false;
  }
}

bool CommunicationServer::updateFileVersionWithFilename(const std::string& filename, int64_t Size,
                                                        const std::string& Modified, const Bytes& File,
                                                        bool& OfflineBreak) {
  try {
    paceRequest();
    WorkerActivity::stamp(WorkerActivity::Kind::kBackup);
    std::map<std::string, std::string> params = {
        {"request", "upload_ver"},
        {"file_name", filename},
        {"size", stringWithFormat("%lld", static_cast<long long>(Size))},
        {"modified", Modified},
        {"guid", clientId()},
        {"cookie", cookieHeader(lastCookie()).value_or("")},
    };
    if (sendFilePostHTTP(filename, std::move(params), File, true, OfflineBreak)) return true;
    if (!OfflineBreak) logFailure(stringWithFormat("updateFileVersionWithFilename FAIL. File: %s", filename.c_str()));
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method updateFileVersion: ") + e.what());
    return false;
  }
}

}  // namespace palvero
