// The support side of the backup page that needs no server: the folder
// settings written to the log before the logs are sent ("send settings").
//
// Thread contract: safe from any thread.
#pragma once

#include <string>

namespace palvero {

class SupportLog {
 public:
  // Logs the catalogue's excluded folders and the folders included again;
  // returns the line written.
  static std::string logFolderSettings();
};

}  // namespace palvero
