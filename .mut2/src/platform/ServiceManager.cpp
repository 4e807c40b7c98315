#include "platform/ServiceManager.h"

#include <cstdlib>

#ifdef PALVERO_HAVE_SDBUS
#include <systemd/sd-daemon.h>
#endif

namespace palvero {
namespace {

// A status line cannot span lines: the protocol is one assignment a line.
std::string oneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  return line;
}

bool notify(const std::string& state) {
#ifdef PALVERO_HAVE_SDBUS
  if (!ServiceManager::supervised()) return false;
  return sd_notify(0, state.c_str()) > 0;
#else
  (void)state;
  return false;
#endif
}

}  // namespace

bool ServiceManager::supervised() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket && *socket;
}

bool ServiceManager::notifyReady(const std::string& status) { return notify("READY=1\nSTATUS=" + oneLine(status)); }

bool ServiceManager::notifyStopping() { return notify("STOPPING=1"); }

bool ServiceManager::notifyStatus(const std::string& status) { return notify("STATUS=" + oneLine(status)); }

}  // namespace palvero
