// Lets the request layer mark "the worker on this thread just sent a request"
// without knowing the application's worker records (they live above this
// layer). The application installs a stamper at start; the watchdog reads
// the times it records. Without a stamper, stamps do nothing.
//
// Thread contract: setStamper() and stamp() are safe from any thread; the
// stamper runs on the thread that sends.
#pragma once

#include <functional>

namespace palvero {

class WorkerActivity {
 public:
  enum class Kind { kBackup, kRestore };
  using Stamper = std::function<void(Kind)>;

  static void setStamper(Stamper stamper);
  // Stamps the current thread's backup or restore worker, if it has one.
  static void stamp(Kind kind);
};

}  // namespace palvero
