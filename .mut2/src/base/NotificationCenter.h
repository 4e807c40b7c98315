// Named notifications delivered synchronously on the posting thread to the
// observers registered for the name and, optionally, for one sender.
//
// Thread contract: every member is safe from any thread. An observer removed
// while a post is delivering is not called again; removeObserver() called on
// another thread waits until that observer's running calls have returned, so
// an object may remove itself in its destructor. An observer may remove itself
// (or others) from inside its own handler.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace palvero {

struct Notification {
  std::string name;
  const void* object = nullptr;  // the sender; never dereferenced by the centre
  Value userInfo;
};

class NotificationCenter {
 public:
  using Token = uint64_t;
  using Handler = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  // Observes `name` from `sender` (any sender when nullptr).
  Token addObserver(std::string name, const void* sender, Handler handler);
  void removeObserver(Token token);
  void post(std::string_view name, const void* sender = nullptr, Value userInfo = Value());

  // Drops every observer.
  void resetForTesting();

 private:
  struct Entry {
    std::string name;
    const void* sender;
    Handler handler;
    std::atomic<bool> alive{true};
    int inFlight = 0;  // guarded by NotificationCenter::mutex_
  };

  std::mutex mutex_;
  std::condition_variable callsDone_;
  std::map<Token, std::shared_ptr<Entry>> entries_;  // guarded by mutex_
  Token nextToken_ = 1;                              // guarded by mutex_
};

}  // namespace palvero
