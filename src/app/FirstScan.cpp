#include "app/FirstScan.h"

#include "base/StringFormat.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

FirstScan::Result FirstScan::run() {
  auto& settings = LocalSettings::sharedManager();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  FileScanner::sharedFileScanner().setIncludeExternalDrives(extensions.externalhd());

  Result result;
  result.folder = extensions.defaultBackupFolder();
  settings.setNeedRescanning(true);
  settings.setDateLastScan(Date::now());
  settings.save();
  auto rows = FileScanner::sharedFileScanner().firstScanFilesAtPath(result.folder, true, false, false);
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  if (rows) queue.setFiles(*rows);
  LogWriter::sharedLogger().logEntry(
      kGeneralLogEvent, kSessionOther,
      stringWithFormat("First scan initiated succesfully. Files added to database: %s",
                       rows && !rows->empty() ? "true" : "false"),
      kLogFailure);
  if (rows) settings.setNeedRescanning(false);
  settings.save();
  queue.save();
  result.scanned = rows.has_value();
  result.waitingFiles = database.GetTotalNumberOfFiles(true);
  result.waitingBytes = database.GetTotalSizeOfFiles(true);
  return result;
}

FirstScan::Result FirstScan::runChanged() {
  auto& settings = LocalSettings::sharedManager();
  auto last = settings.dateLastScan();
  if (!last || settings.needRescanning()) return run();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  FileScanner::sharedFileScanner().setIncludeExternalDrives(extensions.externalhd());
  Result result;
  result.folder = extensions.defaultBackupFolder();
  Date started = Date::now();
  FileScanner::sharedFileScanner().rescanChangedFilesAtPath(result.folder, last->addingTimeInterval(-2));
  settings.setDateLastScan(started);
  settings.save();
  FilesToBackup::sharedFilesToBackup().setFiles(database.SelectFileFromDatabase(true, kQueueWaiting));
  result.scanned = true;
  result.waitingFiles = database.GetTotalNumberOfFiles(true);
  result.waitingBytes = database.GetTotalSizeOfFiles(true);
  return result;
}

}  // namespace palvero
