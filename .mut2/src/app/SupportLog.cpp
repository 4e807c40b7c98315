#include "app/SupportLog.h"

#include "base/StringFormat.h"
#include "selection/CommonExtensions.h"
#include "state/LogWriter.h"

namespace palvero {

std::string SupportLog::logFolderSettings() {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  std::string line = stringWithFormat(
      ":::SENDING FOLDERS SETTINGS:::\r\r FOLDERS TO BE EXCLUDED FROM BACKUP ARE: %s\r\r FOLDERS TO BE INCLUDED TO "
      "BACKUP SEPARATELY ARE: %s\r",
      extensions.getFoldersToBeExcludedFromBackup().c_str(),
      extensions.getFoldersToBeIncludedToBackupSeparately().c_str());
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, line, kLogFailure);
  return line;
}

}  // namespace palvero
