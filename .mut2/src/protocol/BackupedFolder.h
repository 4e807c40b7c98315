// One node of a device's remote folder tree: a device, a drive or a folder,
// with the sub-folders and files a listing found in it.
//
// Plain value type; a listing returns a new tree owned by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/BackupedFile.h"

namespace palvero {

struct BackupedFolder {
  static constexpr const char* kTypeDevice = "device";
  static constexpr const char* kTypeDrive = "drive";
  static constexpr const char* kTypeFolder = "folder";

  std::string name;
  std::string type;  // kTypeDevice, kTypeDrive or kTypeFolder
  // The folder's server path (the listed folder carries the path asked for);
  // devices and drives carry "".
  std::string path;
  std::vector<BackupedFolder> subFolders;
  std::vector<BackupedFile> files;
  std::string deviceId;
  std::string deviceType;  // the device-type code in decimal (devices only)
  int64_t toDelete = 0;    // non-zero: deleted on the device, still held on the server
};

}  // namespace palvero
