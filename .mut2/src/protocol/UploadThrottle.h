// Keeps the upload rate of all workers together near the share of the
// client's own peak that "BandwidthLimit" allows: at N % the bodies of the
// uploads (blocks, version files, logs) go out at N % of the highest rate
// this client reached without a limit.
//
// The peak is measured here: while nothing limits, the bytes handed to the
// network by every upload are counted in windows of three seconds, and the
// best window is remembered ("UploadPeakRate"). Until a peak is known a
// limit cannot be expressed as a rate, so uploads go unlimited and measure
// one first.
//
// The limit is one budget shared by every upload in the process (a virtual
// schedule: each piece of a body is given the time the rate allows for it).
// A request waits before it starts until the budget is out of debt; inside a
// request, pieces wait for their turn, but no request waits more than
// kMaxWaitInRequest in all, so a slow limit never makes the client or the
// service give up on a request half sent. What a request sends beyond that
// is debt that later requests wait out, so the average stays right.
//
// Thread contract: every member is safe from any thread; waits go through
// Clock::current() outside the lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "base/Clock.h"

namespace palvero {

class UploadThrottle {
 public:
  static constexpr Clock::Duration kWindow = std::chrono::seconds(3);
  // How far ahead of its schedule a piece may go (a small burst).
  static constexpr Clock::Duration kBurst = std::chrono::milliseconds(250);
  static constexpr Clock::Duration kMaxWaitInRequest = std::chrono::seconds(20);
  // Waits are taken in slices so that a limit lifted meanwhile ends them.
  static constexpr Clock::Duration kSlice = std::chrono::milliseconds(250);
  // No limit goes below this many bytes per second.
  static constexpr double kMinimumRate = 32 * 1024;
  // The pieces in which a limited body is handed to the network.
  static constexpr size_t kPieceBytes = 16 * 1024;

  // Where the limit and the peak live: the settings store in the product.
  struct Settings {
    std::function<int32_t()> limitPercent;
    std::function<int64_t()> loadPeak;
    std::function<void(int64_t)> storePeak;
  };

  static UploadThrottle& shared();
  // A fresh shared throttle reading the settings store (tests).
  static void resetForTesting();

  UploadThrottle();
  explicit UploadThrottle(Settings settings);
  UploadThrottle(const UploadThrottle&) = delete;
  UploadThrottle& operator=(const UploadThrottle&) = delete;

  // One request body on its way out.
  class Upload {
   public:
    // Blocks until `bytes` more of the body may go out (never more than
    // what is left of the request's wait).
    void beforeSending(size_t bytes);
    // Whether a limit applied when the request started.
    bool limited() const { return limited_; }

   private:
    friend class UploadThrottle;
    Upload(UploadThrottle& throttle, bool limited) : throttle_(&throttle), limited_(limited) {}
    UploadThrottle* throttle_;
    bool limited_;
    Clock::Duration waited_{};
  };

  // Blocks until the shared budget is out of debt, then starts a request.
  Upload begin();

  // The remembered peak in bytes per second; 0 when none was measured.
  double peakRate() const;
  // The rate uploads are held to now; nothing when nothing limits them.
  std::optional<double> allowedRate() const;
  // Every byte handed to the network through this throttle.
  uint64_t bytesCounted() const { return bytesCounted_.load(); }

 private:
  // The rate for `percent` with the current peak; nothing for no limit.
  std::optional<double> rateFor(int32_t percent) const;  // mutex_ held
  void measure(size_t bytes, Clock::Instant now);        // mutex_ held
  // Waits until `turn` or until no limit applies; returns the time waited.
  Clock::Duration waitFor(Clock::Instant turn, Clock::Duration most);
  void loadPeakOnce() const;  // mutex_ held

  const Settings settings_;
  std::atomic<uint64_t> bytesCounted_{0};

  mutable std::mutex mutex_;
  mutable bool peakLoaded_ = false;            // guarded by mutex_
  mutable double peak_ = 0;                    // guarded by mutex_
  mutable int64_t storedPeak_ = 0;             // guarded by mutex_
  std::optional<Clock::Instant> schedule_;     // guarded by mutex_; when the budget is next free
  std::optional<Clock::Instant> windowStart_;  // guarded by mutex_
  uint64_t windowBytes_ = 0;                   // guarded by mutex_
};

}  // namespace palvero
