// Walks a folder tree and turns every file the filter accepts into a waiting
// row of the backup queue (or, in delete mode, every file into a row to
// delete on the server), writing to the database in batches of 400; finds
// the external USB drives and scans the first of them.
//
// The walk never follows symbolic links and takes only regular files (FIFOs,
// sockets and devices are never queued). A folder that cannot be read is
// logged once and skipped, and the walk goes on with the rest. Paths are
// bytes: names that are not UTF-8 are queued unchanged. Scans stay inside the
// home folder (resolved, so neither ".." nor a link leads out) or, with
// external drives on, inside a drive.
//
// Thread contract: scans run on the caller's thread and may run at once on
// several threads; the filter serialises its tests. The external-drives
// switch is a plain atomic flag.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Date.h"
#include "platform/Volumes.h"
#include "state/BackupFile.h"

namespace palvero {

class FileScanner {
 public:
  static constexpr size_t kBatchSize = 400;

  static FileScanner& sharedFileScanner();
  static void resetForTesting();

  FileScanner();

  // Scans `path` into the backup queue and returns the first (at most 400)
  // waiting rows of the queue; nothing when the path is not a folder, is out
  // of scope, or the scan failed. Normal mode writes status 0, or 10 with
  // `IsForFullBackup`; `ToDelete` writes every file below as status 3.
  std::optional<std::vector<BackupFile>> firstScanFilesAtPath(const std::string& path, bool isFirstScan, bool ToDelete,
                                                              bool IsForFullBackup);

  // Which folders a changed-since rescan takes whole (every file below them,
  // whatever their times): a folder moved in keeps its files' old times.
  enum class ChangedFolders {
    kAnyChange,  // status changed since: moved in, but also gained or lost entries (a superset)
    kMovedIn,    // status changed, entries not: moved in, renamed, attributes
  };

  // Queues the files below `path` that the filter accepts and that changed at
  // or after `since` (modification or status-change time; a rename changes
  // the latter), with every file of the folders `folders` selects. Recovery
  // after lost change events takes the superset; "scan --changed" the moved
  // folders only (a folder moved in and then given new entries before the
  // scan is missed: its old files keep their times). Deletions are not
  // found. Returns the number queued.
  size_t rescanChangedFilesAtPath(const std::string& path, Date since,
                                  ChangedFolders folders = ChangedFolders::kAnyChange);
  // The same with the bound as a file time (from the file system's own clock).
  size_t rescanChangedFilesAtPath(const std::string& path, timespec since, ChangedFolders folders);

  // Mount points of the external drives that exist as folders; nothing when
  // no drive is listed.
  std::optional<std::vector<std::string>> getExternalDrivesPath();
  // Scans the first listed drive, skipping paths inside the home folder.
  void scanExternalDrives();
  // file:// URLs of the mounted removable USB volumes.
  std::vector<std::string> getListOfEjectableMedia();

  void setIncludeExternalDrives(bool include) { includeExternalDrives_.store(include); }
  bool includeExternalDrives() const { return includeExternalDrives_.load(); }

  // Where volumes are read from (tests install a fabricated one).
  void setVolumes(std::shared_ptr<const Volumes> volumes);

 private:
  struct WalkOptions;
  // Walks `root` and writes its batches; returns the number of records written.
  size_t walkInto(const std::string& root, const WalkOptions& options);
  bool inScope(const std::string& path);

  std::atomic<bool> includeExternalDrives_{false};
  mutable std::mutex volumesMutex_;
  std::shared_ptr<const Volumes> volumes_;  // guarded by volumesMutex_
};

}  // namespace palvero
