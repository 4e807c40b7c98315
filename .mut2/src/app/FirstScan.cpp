#include "app/FirstScan.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "base/StringFormat.h"
#include "platform/PrivateFiles.h"
#include "platform/Env.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// When the last complete scan began, as a file time: the bound of the next
// changed-files scan comes from the file system's own clock, to the
// nanosecond, so neither a coarse "dateLastScan" nor a wall clock that
// differs from the file times can re-queue old files or miss new ones.
std::string stampPath() { return Env::supportDirectory() + "/lastScan.stamp"; }
std::string nextStampPath() { return stampPath() + ".next"; }

// Taken before the walk; becomes the stamp only when the walk completes.
void beginStamp() {
  PrivateFiles::ensureFolder(Env::supportDirectory());
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(nextStampPath(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd) fs.setTimes(fd.get(), nullptr);
}

// A stamp that cannot be moved into place leaves the older one: the next
// changed-files scan then looks further back, never less far.
void commitStamp() { FileSystem::current().rename(nextStampPath(), stampPath()); }

std::optional<timespec> lastStamp() {
  struct stat st {};
  if (FileSystem::current().status(stampPath(), st, true) != 0) return std::nullopt;
  return st.st_mtim;
}

// What both scans do first: the database, the drive rule, the folder.
FirstScan::Result prepare() {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  DBManager::sharedDBManager().CreateDatabase();
  FileScanner::sharedFileScanner().setIncludeExternalDrives(extensions.externalhd());
  FirstScan::Result result;
  result.folder = extensions.defaultBackupFolder();
  return result;
}

}  // namespace

FirstScan::Result FirstScan::run() {
  auto& settings = LocalSettings::sharedManager();
  auto& database = DBManager::sharedDBManager();
  Result result = prepare();
  // The whole folder goes into the queue: this is the full backup the
  // thirty-day rule counts from.
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setLastFullBackup(Date::now().toValue());
  extensions.saveExtensions();
  settings.setNeedRescanning(true);
  settings.setDateLastScan(Date::now());
  settings.save();
  beginStamp();
  auto rows = FileScanner::sharedFileScanner().firstScanFilesAtPath(result.folder, true, false, false);
  FilesToBackup& queue = FilesToBackup::sharedFilesToBackup();
  if (rows) queue.setFiles(*rows);
  LogWriter::sharedLogger().logEntry(
      kGeneralLogEvent, kSessionOther,
      stringWithFormat("First scan initiated succesfully. Files added to database: %s",
                       rows && !rows->empty() ? "true" : "false"),
      kLogFailure);
  if (rows) {
    settings.setNeedRescanning(false);
    commitStamp();
  }
  settings.save();
  result.scanned = rows.has_value();
  result.waitingFiles = database.GetTotalNumberOfFiles(true);
  result.waitingBytes = database.GetTotalSizeOfFiles(true);
  return result;
}

FirstScan::Result FirstScan::runChanged() {
  auto& settings = LocalSettings::sharedManager();
  auto last = settings.dateLastScan();
  if (!last || settings.needRescanning()) return run();
  auto& database = DBManager::sharedDBManager();
  Result result = prepare();
  Date started = Date::now();
  auto stamp = lastStamp();
  beginStamp();
  auto& scanner = FileScanner::sharedFileScanner();
  if (stamp) {
    scanner.rescanChangedFilesAtPath(result.folder, *stamp, FileScanner::ChangedFolders::kMovedIn);
  } else {
    // A scan of an older build: only the coarse date, with overlap.
    scanner.rescanChangedFilesAtPath(result.folder, last->addingTimeInterval(-2), FileScanner::ChangedFolders::kMovedIn);
  }
  commitStamp();
  settings.setDateLastScan(started);
  settings.save();
  FilesToBackup::sharedFilesToBackup().setFiles(database.SelectFileFromDatabase(true, kQueueWaiting));
  result.scanned = true;
  result.waitingFiles = database.GetTotalNumberOfFiles(true);
  result.waitingBytes = database.GetTotalSizeOfFiles(true);
  return result;
}

}  // namespace palvero
