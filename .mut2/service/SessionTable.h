// Sessions opened by "auth": a random cookie value mapped to the principal
// that authorised. Sessions live in memory only, so a restarted service
// answers 401 and clients authorise again, as they would after an expiry.
// A session ends 24 hours after it was opened (every client instance opens
// its own, so they would otherwise pile up in a long-running service).
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ServiceTypes.h"

namespace palvero::service {

class SessionTable {
 public:
  static constexpr const char* kCookieName = "PVSESSID";
  static constexpr std::chrono::hours kLifetime{24};

  // Opens a session and returns its cookie value.
  std::string open(const Principal& principal);
  std::optional<Principal> find(const std::string& token) const;
  // Ends every session (tests use it to force a renewal).
  void expireAll();
  size_t size() const;

 private:
  struct Session {
    Principal principal;
    std::chrono::steady_clock::time_point opened;
  };
  void dropExpired(std::chrono::steady_clock::time_point now);

  mutable std::mutex mutex_;
  std::map<std::string, Session> sessions_;            // guarded by mutex_
  std::chrono::steady_clock::time_point nextSweep_{};  // guarded by mutex_
};

}  // namespace palvero::service
