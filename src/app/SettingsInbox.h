// Settings changed from the command line while the daemon or the desktop
// app holds the instance lock: the command leaves them here, and the
// holder, which looks every second, applies them as its settings page
// would. The file is private (0600): a proxy password may pass through it.
//
// Thread contract: processes are serialised by a lock file beside the
// inbox; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/Value.h"

namespace palvero {

class SettingsInbox {
 public:
  using Change = std::pair<std::string, Value>;
  // Posted by the holder once it has applied changes, for the views that
  // show settings.
  static constexpr const char* kSettingsTaken = "SettingsTakenFromCommandLine";

  static std::string path();
  // Adds one change; a later change of the same key replaces the earlier.
  static bool post(const std::string& key, const Value& value);
  // Every change left, in the order posted; the inbox is empty after.
  static std::vector<Change> take();
  // The changes left, which stay until acknowledge() removes them once
  // applied: a command that sees the inbox gone knows they are in force.
  static std::vector<Change> peek();
  // Removes `applied`; a change of the same key posted meanwhile stays.
  static void acknowledge(const std::vector<Change>& applied);
  static bool pending();
};

}  // namespace palvero
