// Decides, for one path, whether the file is to be backed up now
// (fileForBackup), whether a queued file still passes after the exclusions
// changed (fileForBackupIfExclusionsChanged) and whether a vanished file was
// one to back up and must be deleted on the server (fileForDelete); handles
// a renamed folder reported by the watcher (flags 0x20800): the old path's
// rows are removed and its versions deleted on the server at once, the new
// path is scanned.
//
// Only regular files pass: symbolic links are not followed, and FIFOs,
// sockets and devices are never backed up. Paths are bytes; nothing here
// assumes UTF-8. Folder rules match whole path components ("~/Library" does
// not cover "~/Library2"), and package markers (".app", ".ipa", ".dmg",
// ".lpdf") are path components ending in them ("Tool.app"), not any text.
//
// Thread contract: every member is safe from any thread. The rules run under
// the filter's one lock; the rename handling (database, network, scan) runs
// outside it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "selection/CommonExtensions.h"
#include "state/FilesToBackup.h"

namespace palvero {

class BackupFilter {
 public:
  // Event flags of a renamed folder: renamed (0x800) and is-folder (0x20000).
  static constexpr uint32_t kRenamedFolderFlags = 0x20800;

  static BackupFilter& sharedManager();
  // Forgets the shared filter (tests); the next call takes the current
  // catalogue and batch.
  static void resetForTesting();

  BackupFilter(CommonExtensions& extensions, FilesToBackup& queue);

  bool fileForBackup(const std::string& path);
  bool fileForBackup(const std::string& path, uint32_t withFlags);
  // fileForBackup() with flags 0 for a file a scanner found while walking:
  // `readSize` gives its size (nothing when it is gone or no longer a regular
  // file) and is called only when a rule needs the size, so files refused by
  // name are never looked at.
  using SizeReader = std::function<std::optional<int64_t>()>;
  bool fileForBackupFound(const std::string& path, const SizeReader& readSize);
  bool fileForBackupIfExclusionsChanged(const std::string& path);
  bool fileForDelete(const std::string& path);
  // The folder rules: excluded folders with their separately included
  // folders, then the forbidden folders with their exceptions. `isExcluded`
  // is the result before the rules; `tempFullPath` is ignored (callers pass
  // it empty).
  bool fileIsExceptiom(const std::string& path, const std::string& tempFullPath, bool isDirectory, bool isExcluded);
  bool checkFolderWithPath(const std::string&) { return false; }

 private:
  enum class Kind { kMissing, kRegular, kDirectory, kOther, kUnknown };
  struct Inspection {
    Kind kind = Kind::kUnknown;
    int64_t size = 0;
  };

  static Inspection inspect(const std::string& path);
  bool fileForBackupLocked(const std::string& path, const SizeReader& readSize, bool queueTest);
  bool folderRules(const std::string& path, bool isDirectory, bool isExcluded,
                   const CommonExtensions::Selection& selection) const;
  void forgetRenamedFolder(const std::string& path);
  void scanRenamedFolder(const std::string& path);

  CommonExtensions& extensions_;
  FilesToBackup& queue_;
  // Palvero's own support, preferences and scratch folders: never backed up
  // (the live database, the log being written, the keys).
  const std::vector<std::string> ownFolders_;
  std::recursive_mutex mutex_;  // serialises the three tests
};

}  // namespace palvero
