#include "PartialUploads.h"

namespace palvero::service {

void PartialUploads::dropStale() {
  auto limit = std::chrono::steady_clock::now() - std::chrono::hours(1);
  for (auto it = uploads_.begin(); it != uploads_.end();) {
    it = it->second.touched < limit ? uploads_.erase(it) : std::next(it);
  }
}

PartialUploads::Result PartialUploads::addPart(const Key& key, std::optional<int64_t> offset, const std::string& data,
                                               int64_t* received) {
  std::lock_guard lock(mutex_);
  dropStale();
  Upload& upload = uploads_[key];
  upload.touched = std::chrono::steady_clock::now();
  if (offset) {
    if (*offset < 0 || static_cast<size_t>(*offset) > upload.data.size()) {
      if (received) *received = static_cast<int64_t>(upload.data.size());
      return Result::kGap;
    }
    upload.data.resize(static_cast<size_t>(*offset));
  }
  upload.data += data;
  if (received) *received = static_cast<int64_t>(upload.data.size());
  return Result::kAccepted;
}

std::optional<std::string> PartialUploads::take(const Key& key) {
  std::lock_guard lock(mutex_);
  auto it = uploads_.find(key);
  if (it == uploads_.end()) return std::nullopt;
  std::string data = std::move(it->second.data);
  uploads_.erase(it);
  return data;
}

size_t PartialUploads::pending() const {
  std::lock_guard lock(mutex_);
  return uploads_.size();
}

}  // namespace palvero::service
