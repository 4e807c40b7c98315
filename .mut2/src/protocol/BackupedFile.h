// One backed-up file of a device's remote folder tree (also a row source of
// the restore table).
//
// Plain value type. Lives in the request layer because the folder listings
// build it; the restore side above uses it as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/BackupFileVersion.h"

namespace palvero {

struct BackupedFile {
  // The file's name in its folder; the full path when used for restore.
  std::string name;
  int64_t size = 0;
  std::vector<BackupFileVersion> versions;
  std::string deviceId;
  int32_t status = 0;  // a queue status of the restore table
  std::string date;
  int32_t revision = -1;  // -1: the latest
  bool toDelete = false;  // deleted on the device, still held on the server
};

}  // namespace palvero
