// The login item: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<bundle id>.desktop, that starts the program
// when the user logs in to a desktop session.
//
// Thread contract: every member is safe from any thread (each call reads or
// writes the file afresh).
#pragma once

#include <string>
#include <vector>

namespace palvero {

class LoginItem {
 public:
  // The entry's path for the current user.
  static std::string entryPath();
  // Writes the entry that runs `executable` with `arguments`; replaces an
  // existing one. False when it cannot be written.
  static bool enable(const std::string& executable, const std::vector<std::string>& arguments,
                     const std::string& name);
  static bool isEnabled();
  // Removes the entry; true when none is left.
  static bool disable();
  // The text of the entry (exposed for tests).
  static std::string desktopEntry(const std::string& executable, const std::vector<std::string>& arguments,
                                  const std::string& name);
};

}  // namespace palvero
