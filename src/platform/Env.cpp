#include "platform/Env.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace palvero {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace

std::string Env::homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result) return pw.pw_dir;
  return "/";
}

std::string Env::supportDirectory() {
  return envOr("XDG_DATA_HOME", homeDirectory() + "/.local/share") + "/" + bundleIdentifier();
}

std::string Env::cachesDirectory() { return envOr("XDG_CACHE_HOME", homeDirectory() + "/.cache"); }

std::string Env::userConfigRoot() { return envOr("XDG_CONFIG_HOME", homeDirectory() + "/.config"); }

std::string Env::configDirectory() { return userConfigRoot() + "/" + bundleIdentifier(); }

std::string Env::bundleIdentifier() { return PALVERO_BUNDLE_ID; }

std::string Env::applicationVersion() { return PALVERO_VERSION; }

std::string Env::serverURL() { return normalizeServerURL(envOr("PALVERO_SERVER_URL", PALVERO_DEFAULT_SERVER_URL)); }

std::string Env::normalizeServerURL(const std::string& url) {
  auto scheme = url.find("://");
  size_t pathStart = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (pathStart == std::string::npos) return url + "/server.php";
  if (url.size() == pathStart + 1) return url + "server.php";
  return url;
}

}  // namespace palvero
