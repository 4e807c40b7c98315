#include "cli/SignalWatcher.h"

#include <pthread.h>
#include <signal.h>

namespace palvero::cli {
namespace {

// SIGUSR2 only wakes the watcher for its own end.
sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR2);
  return set;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  sigset_t set = watchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this, set] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      if (signal == SIGUSR2) return;
      ++seen_;
      if (onSignal_) onSignal_(signal);
    }
  });
}

SignalWatcher::~SignalWatcher() {
  pthread_kill(thread_.native_handle(), SIGUSR2);
  thread_.join();
}

}  // namespace palvero::cli
