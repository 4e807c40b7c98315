// Mounted volumes and which of them are removable USB drives.
//
// Volumes come from /proc/self/mountinfo (whole-device mounts of block
// devices only; bind mounts of sub-folders and virtual file systems are left
// out). A volume's disk is found through /sys/dev/block/<major:minor>; it
// counts as a USB drive when that device's sysfs path runs through a USB bus,
// and its `removable` attribute is read as well. Both roots can be pointed at
// a fabricated tree for tests.
//
// Thread contract: const members are safe from any thread; every call reads
// the files afresh.
#pragma once

#include <string>
#include <vector>

namespace palvero {

struct MountedVolume {
  std::string mountPoint;
  std::string device;  // source as mounted ("/dev/sdb1")
  std::string fsType;
  std::string diskName;    // the whole disk ("sdb"), empty when unknown
  bool removable = false;  // /sys/block/<disk>/removable is 1
  bool usb = false;        // the device hangs off a USB bus
};

class Volumes {
 public:
  explicit Volumes(std::string mountinfoPath = "/proc/self/mountinfo", std::string sysRoot = "/sys");

  // Every mounted block-device volume, in mount order.
  std::vector<MountedVolume> mountedVolumes() const;
  // Mount points of the volumes on USB disks. USB hard disks report
  // removable 0 but are ejectable all the same, so the bus decides.
  std::vector<std::string> removableUSBVolumes() const;

  // "\040" and the other octal escapes of mountinfo undone.
  static std::string unescapeMountField(const std::string& field);

 private:
  const std::string mountinfoPath_;
  const std::string sysRoot_;
};

}  // namespace palvero
