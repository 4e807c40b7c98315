// The table of transport error codes that mean "the network or the service
// cannot be reached" (an outage), as opposed to a failure of one request.
// Codes are the platform URL-loading codes; HttpClient maps libcurl's errors
// onto them.
//
// Thread contract: every member is safe from any thread; the table is built
// once under the manager's lock.
#pragma once

#include <mutex>
#include <vector>

namespace palvero {

// Transport error codes used by HttpClient. Only those in the outage table
// raise the offline break.
enum NetworkErrorCode : int {
  kNetworkErrorUnknown = -1,
  kNetworkErrorCancelled = -999,
  kNetworkErrorBadURL = -1000,
  kNetworkErrorTimedOut = -1001,
  kNetworkErrorUnsupportedURL = -1002,
  kNetworkErrorCannotConnectToHost = -1004,
  kNetworkErrorConnectionLost = -1005,
  kNetworkErrorDNSLookupFailed = -1006,
  kNetworkErrorResourceUnavailable = -1008,
  kNetworkErrorNotConnectedToInternet = -1009,
  kNetworkErrorBadServerResponse = -1011,
  kNetworkErrorInternationalRoamingOff = -1018,
  kNetworkErrorCallIsActive = -1019,
  kNetworkErrorFileDoesNotExist = -1100,
  kNetworkErrorNoPermissionsToReadFile = -1102,
  // A reply larger than the request allows (not an outage).
  kNetworkErrorDataLengthExceedsMaximum = -1103,
  kNetworkErrorSecureConnectionFailed = -1200,
  kNetworkErrorServerCertificateUntrusted = -1202,
};

class NetworkErrorManager {
 public:
  static NetworkErrorManager& sharedErrorManager();
  // Forgets the shared instance (its table never changes, so this only
  // keeps the convention of the process-wide services).
  static void resetForTesting();

  // The ten outage codes.
  const std::vector<int>& networkErrorCodes();
  // True exactly when `code` is an outage code (the name is historical:
  // callers read true as "the network is down").
  bool isNetworkAlive(int code);

 private:
  std::mutex mutex_;
  std::vector<int> codes_;  // guarded by mutex_; filled once, never changed after
};

}  // namespace palvero
