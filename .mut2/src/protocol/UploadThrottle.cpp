#include "protocol/UploadThrottle.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "state/LocalSettings.h"

namespace palvero {
namespace {

std::mutex gSharedMutex;
std::unique_ptr<UploadThrottle>& sharedInstance() {  // guarded by gSharedMutex
  static auto* instance = new std::unique_ptr<UploadThrottle>();
  return *instance;
}

// Replaced throttles stay alive: an upload of another thread may still hold one.
std::vector<std::unique_ptr<UploadThrottle>>& retired() {  // guarded by gSharedMutex
  static auto* list = new std::vector<std::unique_ptr<UploadThrottle>>();
  return *list;
}

UploadThrottle::Settings storeSettings() {
  return {
      [] { return LocalSettings::sharedManager().bandwidthLimit(); },
      [] { return LocalSettings::sharedManager().uploadPeakRate(); },
      [](int64_t peak) {
        auto& settings = LocalSettings::sharedManager();
        settings.setUploadPeakRate(peak);
        settings.save();
      },
  };
}

double seconds(Clock::Duration duration) { return std::chrono::duration<double>(duration).count(); }

// A newly measured peak is written once it is this much above the stored one.
constexpr double kStoreStep = 1.1;

}  // namespace

UploadThrottle& UploadThrottle::shared() {
  std::lock_guard lock(gSharedMutex);
  auto& instance = sharedInstance();
  if (!instance) instance = std::make_unique<UploadThrottle>();
  return *instance;
}

void UploadThrottle::resetForTesting() {
  std::lock_guard lock(gSharedMutex);
  if (sharedInstance()) retired().push_back(std::move(sharedInstance()));
}

UploadThrottle::UploadThrottle() : UploadThrottle(storeSettings()) {}

UploadThrottle::UploadThrottle(Settings settings) : settings_(std::move(settings)) {}

void UploadThrottle::loadPeakOnce() const {
  if (peakLoaded_) return;
  peakLoaded_ = true;
  storedPeak_ = settings_.loadPeak ? std::max<int64_t>(0, settings_.loadPeak()) : 0;
  peak_ = static_cast<double>(storedPeak_);
}

std::optional<double> UploadThrottle::rateFor(int32_t percent) const {
  if (percent <= 0 || percent >= LocalSettings::kUnlimitedBandwidth || peak_ <= 0) return std::nullopt;
  return std::max(kMinimumRate, peak_ * percent / 100.0);
}

double UploadThrottle::peakRate() const {
  std::lock_guard lock(mutex_);
  loadPeakOnce();
  return peak_;
}

std::optional<double> UploadThrottle::allowedRate() const {
  int32_t percent = settings_.limitPercent ? settings_.limitPercent() : LocalSettings::kUnlimitedBandwidth;
  std::lock_guard lock(mutex_);
  loadPeakOnce();
  return rateFor(percent);
}

void UploadThrottle::measure(size_t bytes, Clock::Instant now) {
  if (!windowStart_) {
    windowStart_ = now;
    windowBytes_ = bytes;
    return;
  }
  Clock::Duration elapsed = now - *windowStart_;
  if (elapsed < kWindow) {
    windowBytes_ += bytes;
    return;
  }
  // A window stretched by a long pause (the end of a run) says nothing
  // about what the line carries.
  if (elapsed <= 2 * kWindow) peak_ = std::max(peak_, static_cast<double>(windowBytes_) / seconds(elapsed));
  windowStart_ = now;
  windowBytes_ = bytes;
}

Clock::Duration UploadThrottle::waitFor(Clock::Instant turn, Clock::Duration most) {
  auto clock = Clock::current();
  Clock::Duration waited{};
  while (waited < most) {
    Clock::Instant now = clock->monotonicNow();
    if (now >= turn) break;
    if (settings_.limitPercent && !allowedRate()) break;
    Clock::Duration slice = std::min({turn - now, kSlice, most - waited});
    clock->sleepFor(slice);
    waited += slice;
  }
  return waited;
}

UploadThrottle::Upload UploadThrottle::begin() {
  int32_t percent = settings_.limitPercent ? settings_.limitPercent() : LocalSettings::kUnlimitedBandwidth;
  std::optional<Clock::Instant> turn;
  {
    std::lock_guard lock(mutex_);
    loadPeakOnce();
    if (!rateFor(percent)) {
      schedule_.reset();
      return Upload(*this, false);
    }
    if (schedule_) turn = *schedule_ - kBurst;
  }
  // Before the request starts nothing is half sent: the wait is not bounded.
  if (turn) waitFor(*turn, Clock::Duration::max());
  return Upload(*this, true);
}

void UploadThrottle::Upload::beforeSending(size_t bytes) {
  UploadThrottle& t = *throttle_;
  int32_t percent = t.settings_.limitPercent ? t.settings_.limitPercent() : LocalSettings::kUnlimitedBandwidth;
  t.bytesCounted_ += bytes;
  Clock::Instant now = Clock::current()->monotonicNow();
  Clock::Instant turn;
  bool limitedNow = false;
  std::optional<int64_t> toStore;
  {
    std::lock_guard lock(t.mutex_);
    t.loadPeakOnce();
    std::optional<double> rate = t.rateFor(percent);
    if (!rate) {
      t.schedule_.reset();
      t.measure(bytes, now);
      if (t.peak_ >= 1 && t.peak_ > t.storedPeak_ * kStoreStep) {
        t.storedPeak_ = static_cast<int64_t>(std::llround(t.peak_));
        toStore = t.storedPeak_;
      }
    } else {
      // A limited stretch measures nothing.
      t.windowStart_.reset();
      limitedNow = true;
      if (!t.schedule_ || *t.schedule_ < now) t.schedule_ = now;
      turn = *t.schedule_ - kBurst;
      *t.schedule_ += std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(bytes / *rate));
    }
  }
  if (toStore && t.settings_.storePeak) t.settings_.storePeak(*toStore);
  if (!limitedNow) return;
  if (turn > now && waited_ < kMaxWaitInRequest) waited_ += t.waitFor(turn, kMaxWaitInRequest - waited_);
}

}  // namespace palvero
