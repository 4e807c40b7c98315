// The in-memory list of the restore queue: `files`, the entries the current
// pass hands out (in the order of the FILESTORESTORE table), and
// `restoredFiles`, those handled (restored, or failed while the service was
// reachable) since the list was last loaded. One process-wide instance.
//
// An entry is one file to restore: the path it was backed up under (as the
// table keeps it), the revision to fetch (-1 the latest), the device that
// backed it up ("" this one) and its size in bytes.
//
// Thread contract: every member is safe from any thread; each list is read
// and replaced whole under the instance's mutex. The restore queue's own lock
// orders sequences of calls.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero {

struct RestoreEntry {
  std::string path;
  int64_t revision = -1;
  std::string deviceID;
  int64_t size = 0;

  // {"path", "revision", "deviceID", "size"}: the record form of the table.
  Value toValue() const;
  // Reads a record of the table ("deviceId" and "name" are accepted too).
  static RestoreEntry fromValue(const Value& record);
  bool operator==(const RestoreEntry&) const = default;
};

class FilesToRestore {
 public:
  static FilesToRestore& sharedFilesToRestore();
  static void resetForTesting();

  // Stores nothing: the FILESTORESTORE table is the durable form.
  void save() {}

  std::vector<RestoreEntry> files() const;
  void setFiles(std::vector<RestoreEntry> files);
  std::optional<RestoreEntry> fileAtIndex(size_t index) const;
  size_t count() const;

  std::vector<RestoreEntry> restoredFiles() const;
  void addRestoredFile(const RestoreEntry& entry);
  // Removes from `files` every entry whose path is among `restoredFiles`,
  // empties `restoredFiles` and returns what it held.
  std::vector<RestoreEntry> takeRestoredFiles();
  // Empties both lists.
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<RestoreEntry> files_;          // guarded by mutex_
  std::vector<RestoreEntry> restoredFiles_;  // guarded by mutex_
};

}  // namespace palvero
