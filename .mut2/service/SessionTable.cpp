#include "SessionTable.h"

#include "Random.h"

namespace palvero::service {

void SessionTable::dropExpired(std::chrono::steady_clock::time_point now) {
  if (now < nextSweep_) return;
  nextSweep_ = now + std::chrono::minutes(10);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second.opened >= kLifetime ? sessions_.erase(it) : std::next(it);
  }
}

std::string SessionTable::open(const Principal& principal) {
  std::string token = randomHex(16);
  auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  dropExpired(now);
  sessions_[token] = Session{principal, now};
  return token;
}

std::optional<Principal> SessionTable::find(const std::string& token) const {
  if (token.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(token);
  if (it == sessions_.end() || std::chrono::steady_clock::now() - it->second.opened >= kLifetime) return std::nullopt;
  return it->second.principal;
}

void SessionTable::expireAll() {
  std::lock_guard lock(mutex_);
  sessions_.clear();
}

size_t SessionTable::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace palvero::service
