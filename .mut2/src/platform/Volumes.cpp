#include "platform/Volumes.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace palvero {
namespace {

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string parentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden and system mounts never count as backup volumes.
bool isSystemMount(const std::string& mountPoint) {
  static const char* const kSystem[] = {"/", "/boot", "/boot/efi", "/usr", "/var", "/proc", "/sys", "/dev", "/snap"};
  for (const char* system : kSystem) {
    std::string prefix(system);
    if (mountPoint == prefix) return true;
    if (prefix != "/" && mountPoint.rfind(prefix + "/", 0) == 0) return true;
  }
  return false;
}

}  // namespace

Volumes::Volumes(std::string mountinfoPath, std::string sysRoot)
    : mountinfoPath_(std::move(mountinfoPath)), sysRoot_(std::move(sysRoot)) {}

std::string Volumes::unescapeMountField(const std::string& field) {
  auto octal = [](char c, char max) { return c >= '0' && c <= max; };
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1], '3') && octal(field[i + 2], '7') &&
        octal(field[i + 3], '7')) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += field[i];
  }
  return out;
}

std::vector<MountedVolume> Volumes::mountedVolumes() const {
  std::vector<MountedVolume> volumes;
  std::ifstream in(mountinfoPath_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint, options;
    if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint >> options)) continue;
    std::string token;
    while (fields >> token && token != "-") {
    }
    std::string fsType, source;
    if (token != "-" || !(fields >> fsType >> source)) continue;
    if (root != "/") continue;  // a bind mount of a sub-folder

    const std::string devicePath = realPath(sysRoot_ + "/dev/block/" + majorMinor);
    if (devicePath.empty()) continue;  // not a block device

    MountedVolume volume;
    volume.mountPoint = unescapeMountField(mountPoint);
    volume.device = unescapeMountField(source);
    volume.fsType = fsType;
    std::string diskPath = exists(devicePath + "/partition") ? parentOf(devicePath) : devicePath;
    volume.diskName = lastComponent(diskPath);
    volume.removable = firstLine(diskPath + "/removable") == "1";
    volume.usb = diskPath.find("/usb") != std::string::npos;
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

std::vector<std::string> Volumes::removableUSBVolumes() const {
  std::vector<std::string> mountPoints;
  for (const auto& volume : mountedVolumes()) {
    if (volume.usb && !isSystemMount(volume.mountPoint)) mountPoints.push_back(volume.mountPoint);
  }
  return mountPoints;
}

}  // namespace palvero
