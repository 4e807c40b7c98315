#include "platform/Env.h"

#include <cctype>
#include <algorithm>
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

bool Env::isUnencryptedRemoteURL(const std::string& url) {
  std::string lower = url;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.rfind("http://", 0) != 0) return false;
  std::string authority = lower.substr(7, lower.find_first_of("/?#", 7) - 7);
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  std::string host;
  if (!authority.empty() && authority.front() == '[') {
    host = authority.substr(1, authority.find(']') - 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1") return false;
  // 127.x.y.z: four dotted numbers whose first is 127.
  if (host.rfind("127.", 0) == 0 && std::count(host.begin(), host.end(), '.') == 3 &&
      host.find_first_not_of("0123456789.") == std::string::npos) {
    return false;
  }
  return true;
}

std::string Env::normalizeServerURL(const std::string& url) {
  auto scheme = url.find("://");
  size_t pathStart = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (pathStart == std::string::npos) return url + "/server.php";
  if (url.size() == pathStart + 1) return url + "server.php";
  return url;
}

}  // namespace palvero
