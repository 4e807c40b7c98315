// The application without a window: the launch sequence, the change
// watcher, every timer, scheduled and continuous backups, until asked to
// stop; then the shutdown sequence of a quit.
//
// Thread contract: run() on the thread that drives `loop`; requestStop()
// from any thread (a signal thread).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "base/StdRunLoop.h"

namespace palvero {

class Daemon {
 public:
  enum ExitCode { kExitOK = 0, kExitNotLoggedIn = 2 };

  explicit Daemon(StdRunLoop& loop, AppDelegate::Options options = AppDelegate::Options());

  // Runs until requestStop() (or the wrong-password reset); returns the
  // process's exit code. `message` tells why it ended when not asked to.
  int run(std::string& message);
  void requestStop();

 private:
  StdRunLoop& loop_;
  AppDelegate::Options options_;
  std::atomic<int> exitCode_{kExitOK};
};

}  // namespace palvero
