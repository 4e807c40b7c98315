// Helpers for tests of asynchronous operations, whose work runs on the global
// queue and whose completions run on the main run loop: drive both until the
// work has settled, and record the notifications an object posted.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/DispatchQueue.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"

namespace palvero::testing {

// Lets background work and main-loop completions run until neither has
// anything left (a completion may start more background work).
inline void settleAsyncWork(int rounds = 12) {
  auto& loop = dynamic_cast<StdRunLoop&>(RunLoop::main());
  for (int i = 0; i < rounds; ++i) {
    DispatchQueue::global().waitUntilIdle();
    loop.runPending();
  }
}

// Runs the main loop until `done` or `limit` of real time.
inline bool runMainLoopUntil(const std::function<bool()>& done,
                             std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return dynamic_cast<StdRunLoop&>(RunLoop::main()).runUntil(done, limit);
}

// The notifications of the given names posted by one sender, in order.
class NotificationLog {
 public:
  NotificationLog(const void* sender, const std::vector<std::string>& names) : state_(std::make_shared<State>()) {
    for (const auto& name : names) {
      auto state = state_;
      tokens_.push_back(NotificationCenter::defaultCenter().addObserver(name, sender, [state](const Notification& n) {
        std::lock_guard lock(state->mutex);
        state->seen.push_back({n.name, n.userInfo});
      }));
    }
  }
  ~NotificationLog() {
    for (auto token : tokens_) NotificationCenter::defaultCenter().removeObserver(token);
  }
  NotificationLog(const NotificationLog&) = delete;
  NotificationLog& operator=(const NotificationLog&) = delete;

  std::vector<std::string> names() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::string> out;
    for (const auto& [name, info] : state_->seen) out.push_back(name);
    return out;
  }
  // The user info of the first notification of `name` (null when none).
  Value userInfo(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    for (const auto& [seenName, info] : state_->seen) {
      if (seenName == name) return info;
    }
    return Value();
  }
  size_t size() const {
    std::lock_guard lock(state_->mutex);
    return state_->seen.size();
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<std::pair<std::string, Value>> seen;  // guarded by mutex
  };
  std::shared_ptr<State> state_;
  std::vector<NotificationCenter::Token> tokens_;
};

}  // namespace palvero::testing
