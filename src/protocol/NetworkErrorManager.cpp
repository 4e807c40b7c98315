#include "protocol/NetworkErrorManager.h"

#include <algorithm>

namespace palvero {

NetworkErrorManager& NetworkErrorManager::sharedErrorManager() {
  static NetworkErrorManager* manager = new NetworkErrorManager();
  return *manager;
}

const std::vector<int>& NetworkErrorManager::networkErrorCodes() {
  std::lock_guard lock(mutex_);
  if (codes_.empty()) {
    codes_ = {kNetworkErrorCannotConnectToHost,     kNetworkErrorConnectionLost,         kNetworkErrorDNSLookupFailed,
              kNetworkErrorResourceUnavailable,     kNetworkErrorNotConnectedToInternet, kNetworkErrorBadServerResponse,
              kNetworkErrorInternationalRoamingOff, kNetworkErrorCallIsActive,           kNetworkErrorFileDoesNotExist,
              kNetworkErrorNoPermissionsToReadFile};
  }
  return codes_;
}

bool NetworkErrorManager::isNetworkAlive(int code) {
  const auto& codes = networkErrorCodes();
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace palvero
