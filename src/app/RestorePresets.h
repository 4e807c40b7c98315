// The restore the first run chose to run before anything else: its
// "presetsForRestore" ("restoreLatest", "restoreToOriginalPath",
// "restoreAllData", "restoreSingleFile", booleans; "restoreDestinationPath"
// when a folder was chosen; "dateValue", seconds since 1970 or a stored
// date, when a date was; "filesAndFoldersRemovedFromRestore", the items
// unticked below a ticked folder, when there are any) and the items of
// "filesAndFoldersForRestore" (path → [kind, device]). The first run stores them and hands over without
// a first scan; the main window controller's start takes them (read and
// cleared at once, so a crash never repeats the restore) and begins it.
//
// Thread contract: safe from any thread (the settings store's own lock).
#pragma once

#include <optional>

#include "base/Value.h"
#include "restore/RestoreChoice.h"

namespace palvero {

class RestorePresets {
 public:
  static void store(const Value& presets, const Value& filesAndFolders);
  // The stored choice, cleared from the settings; nothing when none is
  // stored or it names nothing to restore.
  static std::optional<RestoreChoice> take();
  // The choice `presets` and `filesAndFolders` describe; nothing when they
  // name nothing to restore.
  static std::optional<RestoreChoice> choiceFrom(const Value& presets, const Value& filesAndFolders);
};

}  // namespace palvero
