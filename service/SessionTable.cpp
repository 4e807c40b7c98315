#include "SessionTable.h"

#include "Random.h"

namespace palvero::service {

std::string SessionTable::open(const Principal& principal) {
  std::string token = randomHex(16);
  std::lock_guard lock(mutex_);
  sessions_[token] = principal;
  return token;
}

std::optional<Principal> SessionTable::find(const std::string& token) const {
  if (token.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(token);
  if (it == sessions_.end()) return std::nullopt;
  return it->second;
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
