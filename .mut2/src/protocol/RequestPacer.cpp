#include "protocol/RequestPacer.h"

#include <algorithm>

#include "state/LocalSettings.h"

namespace palvero {

void RequestPacer::waitUntil(const std::optional<Clock::Instant>& since, Clock::Duration gap) {
  if (!since || gap <= Clock::Duration::zero()) return;
  auto clock = Clock::current();
  Clock::Duration left = *since + gap - clock->monotonicNow();
  if (left > Clock::Duration::zero()) clock->sleepFor(left);
}

void RequestPacer::waitBefore(Clock::Duration gap) {
  std::optional<Clock::Instant> since;
  {
    std::lock_guard lock(mutex_);
    since = lastEnd_;
  }
  waitUntil(since, gap);
}

void RequestPacer::waitBeforeListing(Clock::Duration gap) {
  std::optional<Clock::Instant> since;
  {
    std::lock_guard lock(mutex_);
    since = lastListingEnd_;
  }
  waitUntil(since, gap);
}

void RequestPacer::exchangeEnded() {
  auto now = Clock::current()->monotonicNow();
  std::lock_guard lock(mutex_);
  lastEnd_ = lastEnd_ ? std::max(*lastEnd_, now) : now;
}

void RequestPacer::listingEnded() {
  auto now = Clock::current()->monotonicNow();
  std::lock_guard lock(mutex_);
  lastListingEnd_ = lastListingEnd_ ? std::max(*lastListingEnd_, now) : now;
}

Clock::Duration RequestPacer::requestPause() {
  return std::chrono::duration_cast<Clock::Duration>(
      std::chrono::duration<double>(LocalSettings::sharedManager().requestPause()));
}

Clock::Duration RequestPacer::listingPause() { return 2 * requestPause(); }

}  // namespace palvero
