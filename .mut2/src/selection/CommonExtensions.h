// The process-wide backup selection: extension categories (list texts and
// their selection dictionaries), folder lists, switches, the size limit, the
// fixed system folders that are never backed up, restore options and the
// full-backup flag. Persisted in the preferences store under its own keys.
//
// Thread contract: every member is safe from any thread. The values form one
// immutable snapshot (Selection); a setter copies it, changes one value and
// publishes the copy, so a reader that took selection() sees a consistent
// whole. Setters change memory only; saveExtensions() writes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "selection/ExtensionList.h"

namespace palvero {

// X(property, Property, "key")
#define PALVERO_EXTENSION_LISTS(X)                       \
  X(picture, Picture, "picture")                         \
  X(video, Video, "video")                               \
  X(email, Email, "email")                               \
  X(music, Music, "music")                               \
  X(diskImages, DiskImages, "diskImages")                \
  X(compressedFiles, CompressedFiles, "compressedFiles") \
  X(backup, Backup, "backup")                            \
  X(temporarily, Temporarily, "temporarily")             \
  X(binary, Binary, "binary")                            \
  X(additional, Additional, "additional")                \
  X(complexFiles, ComplexFiles, "complexFiles")          \
  X(defaultExclusions, DefaultExclusions, "defaultExclusions")

// X(property, Property, "key")
#define PALVERO_EXTENSION_SELECTIONS(X)                                    \
  X(pictureValues, PictureValues, "pictureValues")                         \
  X(videoValues, VideoValues, "videoValues")                               \
  X(emailValues, EmailValues, "emailValues")                               \
  X(musicValues, MusicValues, "musicValues")                               \
  X(diskImagesValues, DiskImagesValues, "diskImagesValues")                \
  X(compressedFilesValues, CompressedFilesValues, "compressedFilesValues") \
  X(backupValues, BackupValues, "backupValues")                            \
  X(temporarilyValues, TemporarilyValues, "temporarilyValues")             \
  X(binaryValues, BinaryValues, "binaryValues")                            \
  X(complexValues, ComplexValues, "complexValues")

// X(property, Property, "key", "saveParameter key", default when absent)
#define PALVERO_EXTENSION_SWITCHES(X)                                                                      \
  X(externalhd, Externalhd, "externalhd", "externalhd", false)                                             \
  X(externalhdid, Externalhdid, "externalhdid", "externalhdid", false)                                     \
  X(emptyfiles, Emptyfiles, "emptyfiles", "emptyfiles", false)                                             \
  X(emptyExtension, EmptyExtension, "emptyExtension", "emptyExtension", false)                             \
  X(backupHiddenFiles, BackupHiddenFiles, "backupHiddenFiles", "backupHiddenFiles", false)                 \
  X(replaceFiles, ReplaceFiles, "replaceFiles", "replaceFiles", true)                                      \
  X(needFullBackup, NeedFullBackup, "needFullBackup", "NeedFullBackup", false)                             \
  X(restoreAllData, RestoreAllData, "restoreAllData", "restoreAllData", false)                             \
  X(restoreLatest, RestoreLatest, "restoreLatest", "restoreLatest", false)                                 \
  X(restoreToOriginalPath, RestoreToOriginalPath, "restoreToOriginalPath", "restoreToOriginalPath", false) \
  X(restoring, Restoring, "restoring", "restoring", false)

// X(property, Property, "key"); the first three are stored (only when not
// empty), the others are fixed at load.
#define PALVERO_FOLDER_LISTS(X)                                                                     \
  X(foldersToBeExcludedFromBackup, FoldersToBeExcludedFromBackup, "includefolders")                 \
  X(foldersToBeIncludedToBackupSeparately, FoldersToBeIncludedToBackupSeparately, "excludefolders") \
  X(filesToBeExcludedFromBackup, FilesToBeExcludedFromBackup, "includefiles")                       \
  X(forbiddenFolders, ForbiddenFolders, "forbiddenFolders")                                         \
  X(forbiddenFoldersExceptions, ForbiddenFoldersExceptions, "")                                     \
  X(additionalBackupFolders, AdditionalBackupFolders, "")                                           \
  X(adminFolders, AdminFolders, "")

class CommonExtensions {
 public:
  struct Selection {
#define PALVERO_FIELD_LIST(name, Name, key) \
  std::optional<std::string> name;          \
  ExtensionList name##List;  // parsed form of `name`, kept in step by the setter
#define PALVERO_FIELD_SELECTION(name, Name, key) Value name = Value::object();
#define PALVERO_FIELD_SWITCH(name, Name, key, param, fallback) bool name = fallback;
#define PALVERO_FIELD_FOLDERS(name, Name, key) std::vector<std::string> name;
    PALVERO_EXTENSION_LISTS(PALVERO_FIELD_LIST)
    PALVERO_EXTENSION_SELECTIONS(PALVERO_FIELD_SELECTION)
    PALVERO_EXTENSION_SWITCHES(PALVERO_FIELD_SWITCH)
    PALVERO_FOLDER_LISTS(PALVERO_FIELD_FOLDERS)
#undef PALVERO_FIELD_LIST
#undef PALVERO_FIELD_SELECTION
#undef PALVERO_FIELD_SWITCH
#undef PALVERO_FIELD_FOLDERS
    std::optional<Value> maxSize;         // as given: number or text
    std::optional<Value> lastFullBackup;  // as given
    std::optional<std::string> restoreDestinationPath;
    // Seconds since 1970; a float would be off by up to two minutes.
    double restoreDateTimeInterval = 0;
    std::string defaultBackupFolder;
    // The default exclusions and every category list but the compound
    // packages in one: the extensions that are never backed up.
    ExtensionList refusedList;

    // `maxSize` in bytes; 0 (no limit) when unset or not a number.
    int64_t maxSizeBytes() const;
    // Recomputes refusedList from the lists.
    void uniteLists();
  };

  static const char* const kDefaultDiskImages;
  static const char* const kDefaultBinary;
  static const char* const kDefaultAdditional;

  // The single instance, loaded from the preferences store on first use.
  static CommonExtensions& sharedExtensionsManager();
  // Forgets the shared instance; the next call loads afresh (tests).
  static void resetForTesting();

  // Loads from the shared preferences store.
  CommonExtensions();

  // The current values, all from one moment.
  std::shared_ptr<const Selection> selection() const;

#define PALVERO_ACCESSORS(Type, name, Name) \
  Type name() const;                        \
  void set##Name(Type value);
#define PALVERO_ACCESS_LIST(name, Name, key) PALVERO_ACCESSORS(std::optional<std::string>, name, Name)
#define PALVERO_ACCESS_SELECTION(name, Name, key) PALVERO_ACCESSORS(Value, name, Name)
#define PALVERO_ACCESS_SWITCH(name, Name, key, param, fallback) PALVERO_ACCESSORS(bool, name, Name)
#define PALVERO_ACCESS_FOLDERS(name, Name, key) PALVERO_ACCESSORS(std::vector<std::string>, name, Name)
  PALVERO_EXTENSION_LISTS(PALVERO_ACCESS_LIST)
  PALVERO_EXTENSION_SELECTIONS(PALVERO_ACCESS_SELECTION)
  PALVERO_EXTENSION_SWITCHES(PALVERO_ACCESS_SWITCH)
  PALVERO_FOLDER_LISTS(PALVERO_ACCESS_FOLDERS)
  PALVERO_ACCESSORS(std::optional<Value>, maxSize, MaxSize)
  PALVERO_ACCESSORS(std::optional<Value>, lastFullBackup, LastFullBackup)
  PALVERO_ACCESSORS(std::optional<std::string>, restoreDestinationPath, RestoreDestinationPath)
  PALVERO_ACCESSORS(double, restoreDateTimeInterval, RestoreDateTimeInterval)
  PALVERO_ACCESSORS(std::string, defaultBackupFolder, DefaultBackupFolder)
#undef PALVERO_ACCESS_LIST
#undef PALVERO_ACCESS_SELECTION
#undef PALVERO_ACCESS_SWITCH
#undef PALVERO_ACCESS_FOLDERS
#undef PALVERO_ACCESSORS

  // Writes every stored key (lists as texts, selections as dictionaries,
  // switches as booleans, the three user folder lists only when not empty)
  // and flushes the store; returns the flush result. Logs and returns false
  // on an error.
  bool saveExtensions();
  // Sets the property whose key is `key` (exact match), then saves. Switches
  // take the value's integer reading (the text "true" reads 0). An unknown
  // key changes nothing but still saves.
  bool saveParameter(const std::string& key, const Value& withValue);

  // The exclusions document sent to the server.
  std::string exclusionsToJSON() const;
  // The body of its "extensions" object.
  std::string extentions() const;
  // The keys of `selection` whose value is true, lower-cased and quoted,
  // joined by ",".
  static std::string extensionsStringFor(const Value& selection);
  // The folder lists as quoted, comma-separated JSON string items.
  std::string getFoldersToBeExcludedFromBackup() const;
  std::string getFoldersToBeIncludedToBackupSeparately() const;

  // Drops from the separately included folders every path that is also an
  // excluded folder, then saves.
  void checkFoldersForInterceptions();

 private:
  void load();
  template <class Change>
  void update(Change&& change);

  mutable std::mutex mutex_;
  std::shared_ptr<const Selection> selection_;  // guarded by mutex_; replaced whole, never changed in place
};

}  // namespace palvero
