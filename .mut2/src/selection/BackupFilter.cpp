#include "selection/BackupFilter.h"

#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <memory>
#include <string_view>

#include "base/SharedInstance.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "selection/BackupQueueStore.h"
#include "selection/FileScanner.h"
#include "selection/RemoteDeleter.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

SharedInstance<BackupFilter>& holder() {
  static auto* instance = new SharedInstance<BackupFilter>();
  return *instance;
}

constexpr std::string_view kPackageMarkers[] = {".app", ".ipa", ".dmg", ".lpdf"};

// Whether `folder` occurs in `path` as whole components: followed by "/" or,
// unless `mustContinue`, by the end of the path.
bool containsFolder(std::string_view path, std::string_view folder, bool mustContinue) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  if (folder.empty()) return false;
  for (size_t pos = path.find(folder); pos != std::string_view::npos; pos = path.find(folder, pos + 1)) {
    size_t end = pos + folder.size();
    if (end < path.size() ? (path[end] == '/' || folder == "/") : !mustContinue) return true;
  }
  return false;
}

// The package markers (bit i for kPackageMarkers[i]) that end a component of
// the lower-cased path: "Tool.app/Contents/x" and "image.dmg" have one,
// "com.apple.notes" has none.
unsigned packageMarkersIn(std::string_view lowerPath) {
  unsigned found = 0;
  size_t start = 0;
  while (start <= lowerPath.size()) {
    size_t end = lowerPath.find('/', start);
    if (end == std::string_view::npos) end = lowerPath.size();
    std::string_view component = lowerPath.substr(start, end - start);
    for (size_t i = 0; i < std::size(kPackageMarkers); ++i) {
      std::string_view marker = kPackageMarkers[i];
      if (component.size() > marker.size() && component.substr(component.size() - marker.size()) == marker) {
        found |= 1u << i;
      }
    }
    start = end + 1;
  }
  return found;
}

std::string_view lastComponent(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view extensionOf(std::string_view name) {
  size_t dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

enum class PackageVerdict { kNone, kRefuse, kAccept };

PackageVerdict packageVerdict(std::string_view lowerPath, const CommonExtensions::Selection& s) {
  unsigned markers = packageMarkersIn(lowerPath);
  if (markers == 0) return PackageVerdict::kNone;
  for (size_t i = 0; i < std::size(kPackageMarkers); ++i) {
    if ((markers & (1u << i)) && s.complexFilesList.containsEntry(kPackageMarkers[i])) return PackageVerdict::kRefuse;
  }
  return PackageVerdict::kAccept;
}

enum class Verdict { kRefuse, kFolderRules, kContinue };

// The rules that need the path only. Each refuses, so their order does not
// change the answer; a package (kFolderRules) is taken in whole, whatever its
// files' sizes and extensions, and only the user's folder choices remain.
Verdict pathRules(const std::string& path, const CommonExtensions::Selection& s, bool tildeRule) {
  if (!s.backupHiddenFiles && path.find("/.") != std::string::npos) return Verdict::kRefuse;
  if (tildeRule && path.find("/~") != std::string::npos) return Verdict::kRefuse;
  const std::string lower = ExtensionList::asciiLowercase(path);
  if (lower.find(".ds_store") != std::string::npos) return Verdict::kRefuse;
  switch (packageVerdict(lower, s)) {
    case PackageVerdict::kRefuse:
      return Verdict::kRefuse;
    case PackageVerdict::kAccept:
      return Verdict::kFolderRules;
    case PackageVerdict::kNone:
      break;
  }
  const std::string_view name = lastComponent(lower);
  if (extensionOf(name).empty() && !s.emptyExtension) return Verdict::kRefuse;
  // The default exclusions and every category list.
  if (s.refusedList.matchesFileName(name)) return Verdict::kRefuse;
  return Verdict::kContinue;
}

void logBackupError(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kBackupError, kSessionBackup, text, kLogFailure);
}

}  // namespace

BackupFilter& BackupFilter::sharedManager() {
  return holder().get([] {
    return std::make_unique<BackupFilter>(CommonExtensions::sharedExtensionsManager(),
                                          FilesToBackup::sharedFilesToBackup());
  });
}

void BackupFilter::resetForTesting() { holder().reset(); }

BackupFilter::BackupFilter(CommonExtensions& extensions, FilesToBackup& queue)
    : extensions_(extensions),
      queue_(queue),
      ownFolders_{Env::supportDirectory(), Env::configDirectory(), Env::cachesDirectory() + "/PalveroCaches"} {}

BackupFilter::Inspection BackupFilter::inspect(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    return {errno == ENOENT || errno == ENOTDIR ? Kind::kMissing : Kind::kUnknown, 0};
  }
  if (S_ISREG(st.st_mode)) return {Kind::kRegular, static_cast<int64_t>(st.st_size)};
  if (S_ISDIR(st.st_mode)) return {Kind::kDirectory, 0};
  return {Kind::kOther, 0};
}

bool BackupFilter::fileForBackup(const std::string& path) { return fileForBackup(path, 0); }

bool BackupFilter::fileForBackup(const std::string& path, uint32_t withFlags) {
  try {
    Inspection found = inspect(path);
    if (found.kind == Kind::kMissing) {
      if (withFlags == kRenamedFolderFlags) forgetRenamedFolder(path);
      return false;
    }
    if (found.kind == Kind::kDirectory) {
      if (withFlags == kRenamedFolderFlags) scanRenamedFolder(path);
      return false;
    }
    if (found.kind != Kind::kRegular) return false;
    std::lock_guard lock(mutex_);
    return fileForBackupLocked(
        path, [&] { return std::optional<int64_t>(found.size); }, true);
  } catch (const std::exception& e) {
    logBackupError(stringWithFormat("BackupFilter: fileForBackup: %s Exception: %s", path.c_str(), e.what()));
    return false;
  }
}

bool BackupFilter::fileForBackupFound(const std::string& path, const SizeReader& readSize) {
  try {
    std::lock_guard lock(mutex_);
    return fileForBackupLocked(path, readSize, true);
  } catch (const std::exception& e) {
    logBackupError(stringWithFormat("BackupFilter: fileForBackup: %s Exception: %s", path.c_str(), e.what()));
    return false;
  }
}

bool BackupFilter::fileForBackupIfExclusionsChanged(const std::string& path) {
  try {
    Inspection found = inspect(path);
    if (found.kind != Kind::kRegular) return false;
    std::lock_guard lock(mutex_);
    return fileForBackupLocked(
        path, [&] { return std::optional<int64_t>(found.size); }, false);
  } catch (const std::exception& e) {
    logBackupError(
        stringWithFormat("BackupFilter: fileForBackupIfExclusionsChanged: %s Exception: %s", path.c_str(), e.what()));
    return false;
  }
}

bool BackupFilter::fileForBackupLocked(const std::string& path, const SizeReader& readSize, bool queueTest) {
  for (const auto& own : ownFolders_) {
    if (path.size() > own.size() && path.compare(0, own.size(), own) == 0 && path[own.size()] == '/') return false;
  }
  auto s = extensions_.selection();
  switch (pathRules(path, *s, true)) {
    case Verdict::kRefuse:
      return false;
    case Verdict::kFolderRules:
      return folderRules(path, false, true, *s);
    case Verdict::kContinue:
      break;
  }
  const std::optional<int64_t> size = readSize();
  if (!size || *size < 0) return false;
  if (*size == 0 && !s->emptyfiles) return false;
  if (int64_t limit = s->maxSizeBytes(); limit > 0 && *size > limit) return false;
  if (queueTest && queue_.containsPath(path)) return false;
  return folderRules(path, false, true, *s);
}

bool BackupFilter::fileForDelete(const std::string& path) {
  try {
    // Only a path known to be gone: a folder we cannot look into says nothing.
    if (inspect(path).kind != Kind::kMissing) return false;
    std::lock_guard lock(mutex_);
    auto s = extensions_.selection();
    // No "/~" rule, size rule or queue test when deleting.
    return pathRules(path, *s, false) != Verdict::kRefuse && folderRules(path, false, true, *s);
  } catch (const std::exception& e) {
    logBackupError(stringWithFormat("BackupFilter: fileForDelete: %s Exception: %s", path.c_str(), e.what()));
    return false;
  }
}

bool BackupFilter::fileIsExceptiom(const std::string& path, const std::string& /*tempFullPath*/, bool isDirectory,
                                   bool isExcluded) {
  std::lock_guard lock(mutex_);
  return folderRules(path, isDirectory, isExcluded, *extensions_.selection());
}

bool BackupFilter::folderRules(const std::string& path, bool isDirectory, bool isExcluded,
                               const CommonExtensions::Selection& s) const {
  bool result = isExcluded;
  for (const auto& excluded : s.foldersToBeExcludedFromBackup) {
    if (!containsFolder(path, excluded, isDirectory)) continue;
    result = false;
    // The innermost separately included folder inside the excluded one wins.
    std::string_view working = excluded;
    bool workingIsStrict = isDirectory;
    for (const auto& included : s.foldersToBeIncludedToBackupSeparately) {
      if (containsFolder(path, included, true) && containsFolder(included, working, workingIsStrict)) {
        result = true;
        working = included;
        workingIsStrict = false;
      }
    }
  }
  if (!result) return false;
  for (const auto& forbidden : s.forbiddenFolders) {
    if (!containsFolder(path, forbidden, isDirectory)) continue;
    for (const auto& exception : s.forbiddenFoldersExceptions) {
      if (containsFolder(path, exception, false)) return true;
    }
    return false;
  }
  return result;
}

void BackupFilter::forgetRenamedFolder(const std::string& path) {
  LogWriter::sharedLogger().logEntry(
      kFileNotFound, kSessionBackup,
      stringWithFormat("BackupFilter: fileForBackup: folder %s has been renamed. Removing files from database and "
                       "sending delete request",
                       path.c_str()),
      kLogFailure);
  // Rows of the folder only: "/a/b/" spares the sibling "/a/bc".
  auto store = BackupQueueStore::current();
  store->deleteFilesWithPrefix(path + "/");
  auto deleter = RemoteDeleter::current();
  if (!deleter || !deleter->deletePathImmediately(path)) {
    // The server keeps the old folder until told otherwise: a row to delete
    // hands it to the periodic deletion, which retries.
    LogWriter::sharedLogger().logEntry(
        kFileNotFound, kSessionBackup,
        stringWithFormat("BackupFilter: fileForBackup: delete request for %s failed; queued for deletion",
                         path.c_str()),
        kLogFailure);
    store->insertDeletedFiles({path});
  }
}

void BackupFilter::scanRenamedFolder(const std::string& path) {
  auto rows = FileScanner::sharedFileScanner().firstScanFilesAtPath(path, true, false, false);
  LogWriter::sharedLogger().logEntry(
      kFileNotFound, kSessionBackup,
      stringWithFormat("BackupFilter: fileForBackup: previous folder has been renamed to %s. Adding %ld files to "
                       "database",
                       path.c_str(), static_cast<long>(rows ? rows->size() : 0)),
      kLogFailure);
}

}  // namespace palvero
