// Tells a supervising service manager (systemd, through $NOTIFY_SOCKET)
// about the process: ready after start-up, a status line, stopping. Without
// a service manager (no NOTIFY_SOCKET) every call does nothing and returns
// false.
//
// Thread contract: safe from any thread.
#pragma once

#include <string>

namespace palvero {

class ServiceManager {
 public:
  // True when a service manager listens ($NOTIFY_SOCKET is set).
  static bool supervised();
  // "READY=1" with a status line.
  static bool notifyReady(const std::string& status);
  // "STOPPING=1": the shutdown has begun.
  static bool notifyStopping();
  static bool notifyStatus(const std::string& status);
};

}  // namespace palvero
