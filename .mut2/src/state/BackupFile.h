// One entry of the backup queue, as the scanner, the watcher, the in-memory
// batch and the database exchange it. A plain value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Value.h"

namespace palvero {

// Queue statuses, the same in the backup and the restore table.
enum QueueStatus : int32_t {
  kQueueWaiting = 0,
  kQueueFailed = 1,
  kQueueDone = 2,
  kQueueToDelete = 3,
  kQueueFullBackupScan = 10,
};

struct BackupFile {
  std::string path;
  int32_t status = kQueueWaiting;
  // "yyyy-MM-dd HH:mm" (Date::kQueuePattern), the time the file was queued.
  std::string date;
  int64_t size = 0;
  std::string error;

  bool operator==(const BackupFile&) const = default;

  // {"path", "status", "date", "size", "error"}: the form kept in the
  // preferences store ("backupedFiles").
  Value toValue() const;
  // Nothing when `value` is not an object with a text "path"; other missing
  // or mistyped fields take their defaults.
  static std::optional<BackupFile> fromValue(const Value& value);
};

}  // namespace palvero
