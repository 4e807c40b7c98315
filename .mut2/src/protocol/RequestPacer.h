// Spaces the requests of one request object (one worker) as the service
// asks: a paced request ("get_ver", "check_block", "upload_ver") starts no
// sooner than its gap after the end of the object's previous exchange, and a
// listing request no sooner than twice that after the previous listing's
// reply. Whatever the worker did in between (cutting, hashing, packing)
// counts towards the wait, so pacing never adds a sleep to work that already
// took that long; with a gap of zero nothing sleeps.
//
// Thread contract: every member is safe from any thread; waits go through
// Clock::current() outside the lock.
#pragma once

#include <mutex>
#include <optional>

#include "base/Clock.h"

namespace palvero {

class RequestPacer {
 public:
  // Blocks until `gap` after the end of the previous exchange (no previous
  // exchange: no wait).
  void waitBefore(Clock::Duration gap);
  // Blocks until `gap` after the previous listing's reply.
  void waitBeforeListing(Clock::Duration gap);
  // Records the end of an exchange, and of a listing's.
  void exchangeEnded();
  void listingEnded();

  // The pacing the settings ask for: "RequestPause" for paced requests,
  // twice it between listing requests and before restore reloads.
  static Clock::Duration requestPause();
  static Clock::Duration listingPause();

 private:
  static void waitUntil(const std::optional<Clock::Instant>& since, Clock::Duration gap);

  mutable std::mutex mutex_;
  std::optional<Clock::Instant> lastEnd_;         // guarded by mutex_
  std::optional<Clock::Instant> lastListingEnd_;  // guarded by mutex_
};

}  // namespace palvero
