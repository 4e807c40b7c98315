#include "protocol/NetworkErrorManager.h"

#include <algorithm>
#include <memory>

#include "base/SharedInstance.h"

namespace palvero {

namespace {

SharedInstance<NetworkErrorManager>& holder() {
  static auto* instance = new SharedInstance<NetworkErrorManager>();
  return *instance;
}

}  // namespace

NetworkErrorManager& NetworkErrorManager::sharedErrorManager() {
  return holder().get([] { return std::make_unique<NetworkErrorManager>(); });
}

void NetworkErrorManager::resetForTesting() { holder().reset(); }

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
