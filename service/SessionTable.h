// Sessions opened by "auth": a random cookie value mapped to the principal
// that authorised. Sessions live in memory only, so a restarted service
// answers 401 and clients authorise again, as they would after an expiry.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ServiceTypes.h"

namespace palvero::service {

class SessionTable {
 public:
  static constexpr const char* kCookieName = "PVSESSID";

  // Opens a session and returns its cookie value.
  std::string open(const Principal& principal);
  std::optional<Principal> find(const std::string& token) const;
  // Ends every session (tests use it to force a renewal).
  void expireAll();
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Principal> sessions_;  // guarded by mutex_
};

}  // namespace palvero::service
