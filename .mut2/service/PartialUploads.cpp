#include "PartialUploads.h"

#include <algorithm>

namespace palvero::service {

PartialUploads::PartialUploads(int64_t maxBytes, size_t perSession, int64_t totalBytes)
    : maxBytes_(maxBytes), perSession_(perSession), totalBytes_(totalBytes) {}

void PartialUploads::dropStale() {
  auto limit = std::chrono::steady_clock::now() - std::chrono::hours(1);
  for (auto it = uploads_.begin(); it != uploads_.end();) {
    if (it->second.touched < limit) {
      held_ -= static_cast<int64_t>(it->second.data.size());
      it = uploads_.erase(it);
    } else {
      ++it;
    }
  }
}

PartialUploads::Result PartialUploads::addPart(const Key& key, std::optional<int64_t> offset, const std::string& data,
                                               int64_t* received) {
  std::lock_guard lock(mutex_);
  dropStale();
  auto it = uploads_.find(key);
  if (it == uploads_.end()) {
    const std::string& session = std::get<2>(key);
    size_t ofSession = std::count_if(uploads_.begin(), uploads_.end(),
                                     [&](const auto& entry) { return std::get<2>(entry.first) == session; });
    if (ofSession >= perSession_) {
      if (received) *received = 0;
      return Result::kTooMany;
    }
  }
  const int64_t have = it == uploads_.end() ? 0 : static_cast<int64_t>(it->second.data.size());
  if (received) *received = have;
  if (offset && (*offset < 0 || *offset > have)) return Result::kGap;
  const int64_t keep = offset ? *offset : have;
  const int64_t size = static_cast<int64_t>(data.size());
  if (size > maxBytes_ - keep || held_ - have + keep + size > totalBytes_) return Result::kTooLarge;
  Upload& upload = it == uploads_.end() ? uploads_[key] : it->second;
  upload.touched = std::chrono::steady_clock::now();
  upload.data.resize(static_cast<size_t>(keep));
  upload.data += data;
  held_ += keep + size - have;
  if (received) *received = static_cast<int64_t>(upload.data.size());
  return Result::kAccepted;
}

std::optional<std::string> PartialUploads::take(const Key& key) {
  std::lock_guard lock(mutex_);
  auto it = uploads_.find(key);
  if (it == uploads_.end()) return std::nullopt;
  std::string data = std::move(it->second.data);
  held_ -= static_cast<int64_t>(data.size());
  uploads_.erase(it);
  return data;
}

size_t PartialUploads::pending() const {
  std::lock_guard lock(mutex_);
  return uploads_.size();
}

int64_t PartialUploads::heldBytes() const {
  std::lock_guard lock(mutex_);
  return held_;
}

}  // namespace palvero::service
