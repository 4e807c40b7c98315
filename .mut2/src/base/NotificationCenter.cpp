#include "base/NotificationCenter.h"

#include <algorithm>
#include <vector>

namespace palvero {
namespace {

// Entries whose handlers run on this thread right now, innermost last.
thread_local std::vector<const void*> tCalling;

}  // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* sender,
                                                          Handler handler) {
  auto entry = std::make_shared<Entry>();
  entry->name = std::move(name);
  entry->sender = sender;
  entry->handler = std::move(handler);
  std::lock_guard lock(mutex_);
  Token token = nextToken_++;
  entries_.emplace(token, std::move(entry));
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::unique_lock lock(mutex_);
  auto it = entries_.find(token);
  if (it == entries_.end()) return;
  std::shared_ptr<Entry> entry = it->second;
  entries_.erase(it);
  entry->alive.store(false);
  int own = static_cast<int>(std::count(tCalling.begin(), tCalling.end(), entry.get()));
  callsDone_.wait(lock, [&] { return entry->inFlight <= own; });
}

void NotificationCenter::post(std::string_view name, const void* sender, Value userInfo) {
  Notification notification{std::string(name), sender, std::move(userInfo)};
  std::vector<std::shared_ptr<Entry>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [token, entry] : entries_) {
      if (entry->name == name && (entry->sender == nullptr || entry->sender == sender)) {
        targets.push_back(entry);
      }
    }
  }
  for (const auto& entry : targets) {
    {
      std::lock_guard lock(mutex_);
      if (!entry->alive.load()) continue;
      ++entry->inFlight;
    }
    tCalling.push_back(entry.get());
    entry->handler(notification);
    tCalling.pop_back();
    {
      std::lock_guard lock(mutex_);
      --entry->inFlight;
    }
    callsDone_.notify_all();
  }
}

void NotificationCenter::resetForTesting() {
  std::lock_guard lock(mutex_);
  for (auto& [token, entry] : entries_) entry->alive.store(false);
  entries_.clear();
}

}  // namespace palvero
