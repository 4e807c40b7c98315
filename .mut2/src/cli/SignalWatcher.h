// SIGINT and SIGTERM as an ordinary callback: the signals are blocked in
// every thread and one thread waits for them (sigwait), so the callback may
// do anything a thread may do. Make the watcher before any other thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace palvero::cli {

class SignalWatcher {
 public:
  // `onSignal` runs on the watcher's thread, once per signal.
  explicit SignalWatcher(std::function<void(int)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  int signalsSeen() const { return seen_.load(); }

 private:
  std::function<void(int)> onSignal_;
  std::atomic<int> seen_{0};
  std::thread thread_;
};

}  // namespace palvero::cli
