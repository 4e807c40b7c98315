#include <sys/statvfs.h>

#include <cerrno>

#include "engine/format/util/Functions.h"

namespace palvero {

int64_t Functions::getFreeDiskspaceForPath(const std::string& path) {
  std::string probe = path.empty() ? std::string(".") : path;
  while (true) {
    struct statvfs vfs {};
    if (::statvfs(probe.c_str(), &vfs) == 0) {
      return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    }
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    // A folder the restore will create: measure where it will be created.
    while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
    size_t slash = probe.rfind('/');
    if (slash == std::string::npos) {
      probe = ".";
    } else if (slash == 0) {
      if (probe == "/") return -1;
      probe = "/";
    } else {
      probe.resize(slash);
    }
  }
}

}  // namespace palvero
