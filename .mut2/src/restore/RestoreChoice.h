// What the user chose to restore: everything, a selection of items or one
// file (or one revision of it); the latest revisions or those in force at a
// date; to the original paths or into another folder.
//
// Selection items map a server path to [kind, device id], the kind being
// "device", "drive", "folder" or anything else for a file. A device item's
// path is not used (its drives are listed); a drive item's path is the
// drive's name ("/" or "C:").
//
// Plain value type.
#pragma once

#include <optional>
#include <string>

#include "base/Value.h"
#include "protocol/BackupFileVersion.h"
#include "protocol/BackupedFile.h"

namespace palvero {

struct RestoreChoice {
  static constexpr const char* kKindDevice = "device";
  static constexpr const char* kKindDrive = "drive";
  static constexpr const char* kKindFolder = "folder";
  static constexpr const char* kKindFile = "file";

  bool restoreAllData = false;
  bool restoreSingleFile = false;
  bool restoreLatest = true;
  bool restoreToOriginalPath = true;
  std::string restoreDestinationPath;
  // The file of a single-file restore: `name` holds its full server path,
  // `deviceId` its device ("" this one).
  std::optional<BackupedFile> singleFileForRestore;
  // The chosen revision of the single file; nothing for the latest (or, in a
  // dated restore, the one in force at `restoreDate`).
  std::optional<BackupFileVersion> backupFileVersion;
  Value filesAndFoldersForRestore = Value::object();
  Value filesAndFoldersRemovedFromRestore = Value::object();
  // Seconds since 1970, for a dated restore.
  double restoreDate = 0;
  // List files deleted on the device too.
  bool showDeletedFiles = false;
  // Never replace a local file, whatever the "replaceFiles" setting says: the
  // restored revision is written beside it under a dated name.
  bool keepExisting = false;

  // The whole choice as stored with a run, so that a run whose list was
  // never completed can list again after a crash; nothing when `value` is
  // not such a record.
  Value toValue() const;
  static std::optional<RestoreChoice> fromValue(const Value& value);
};

}  // namespace palvero
