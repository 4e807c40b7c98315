// The current user's well-known folders (Documents, Desktop) as the desktop
// names them: the XDG user directories of $XDG_CONFIG_HOME/user-dirs.dirs
// (what xdg-user-dir reads), else ~/Documents and ~/Desktop.
//
// Thread contract: safe from any thread; every call reads the file afresh.
#pragma once

#include <string>

namespace palvero {

class UserFolders {
 public:
  static std::string documentsDirectory();
  static std::string desktopDirectory();

  // The folder that `key` ("XDG_DOCUMENTS_DIR") names in a user-dirs.dirs
  // text, with "$HOME" expanded; empty when the key is missing, malformed, or
  // names the home folder itself (the desktop's way to switch it off).
  static std::string folderFromUserDirs(const std::string& text, const std::string& key, const std::string& home);
};

}  // namespace palvero
