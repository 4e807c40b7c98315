// A restored file while it is written. The bytes go to a new hidden file
// beside the target (".pvrestore-<random>", same folder, so the final rename
// stays on one file system); commit() stamps its times and renames it over
// the target. Until then the target, and any file already under its name,
// is untouched; an uncommitted file is removed when the object goes away,
// so a failed or cancelled restore leaves nothing behind.
//
// The new file gets the usual creation mode (0666 less the umask). When it
// replaces an existing file its data is flushed before the rename, so that a
// crash cannot leave the user's file empty.
//
// Confinement: given a root folder, the target must lie beneath it and the
// folders between are opened one by one without following symbolic links
// (missing ones are made), so a link planted inside the root cannot lead a
// write outside it. The temporary file and the rename work on that open
// folder, not on its path. A link at the final name itself is replaced, not
// followed.
//
// Thread contract: one thread uses an instance.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/Date.h"
#include "platform/UniqueFd.h"

namespace palvero {

class RestoreTarget {
 public:
  RestoreTarget() = default;
  ~RestoreTarget();
  RestoreTarget(const RestoreTarget&) = delete;
  RestoreTarget& operator=(const RestoreTarget&) = delete;

  // Creates the empty temporary file in `finalPath`'s folder. False, with
  // the reason in `error`, when the folder is missing or not writable. With
  // a `confineTo` root (see above) the missing folders are made. `mode` is
  // the creation mode before the umask (0600 for scratch files, whose
  // folders are then made 0700).
  bool create(const std::string& finalPath, std::string& error, const std::string& confineTo = "",
              unsigned mode = 0666);
  // Appends `data`. False, with the reason, on a write error (disk full).
  bool append(std::span<const uint8_t> data, std::string& error);
  // Sets the access and modification times to `modified` (when given) and
  // renames the file over the target.
  bool commit(const std::optional<Date>& modified, std::string& error);
  // Removes the temporary file (nothing when already committed).
  void discard();

  // Makes the folder `path` and its missing parents beneath `confineTo`
  // (anywhere when it is empty) without following a symbolic link. An
  // existing folder is kept. False, with the reason, when something that is
  // not a folder is in the way.
  static bool makeFolder(const std::string& path, const std::string& confineTo, std::string& error);
  // The open folder `path` (O_DIRECTORY), reached from `confineTo` without
  // following links and making missing folders when `make` is set; an
  // invalid descriptor with the reason otherwise. Folders are made with
  // `folderMode` (before the umask).
  static UniqueFd openFolder(const std::string& path, const std::string& confineTo, bool make, std::string& error,
                             unsigned folderMode = 0777);

  // Removes the temporary files a killed restore left in `folder` (regular
  // files named ".pvrestore-*"); call only while nothing restores there.
  // Returns how many went.
  static int removeLeftovers(const std::string& folder);

  const std::string& finalPath() const { return finalPath_; }
  const std::string& temporaryPath() const { return temporaryPath_; }
  int64_t bytesWritten() const { return written_; }

 private:
  std::string finalPath_;
  std::string temporaryPath_;
  std::string finalName_;
  std::string temporaryName_;
  UniqueFd folder_;
  UniqueFd fd_;
  int64_t written_ = 0;
};

}  // namespace palvero
