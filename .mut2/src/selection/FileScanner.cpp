#include "selection/FileScanner.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <unordered_set>
#include <utility>

#include "base/FileURL.h"
#include "base/SharedInstance.h"
#include "base/StringFormat.h"
#include "platform/DirectoryWalker.h"
#include "platform/Env.h"
#include "selection/BackupFilter.h"
#include "selection/BackupQueueStore.h"
#include "selection/BatchWriter.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

SharedInstance<FileScanner>& holder() {
  static auto* instance = new SharedInstance<FileScanner>();
  return *instance;
}

void logScan(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::optional<std::string> resolved(const std::string& path) {
  char buffer[PATH_MAX];
  if (!realpath(path.c_str(), buffer)) return std::nullopt;
  return std::string(buffer);
}

bool isUnder(const std::string& path, const std::string& folder) {
  if (folder == "/") return !path.empty() && path[0] == '/';
  return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool atOrAfter(const timespec& t, const timespec& since) {
  return t.tv_sec > since.tv_sec || (t.tv_sec == since.tv_sec && t.tv_nsec >= since.tv_nsec);
}

bool changedSince(const struct stat& st, const timespec& since) {
  return atOrAfter(st.st_mtim, since) || atOrAfter(st.st_ctim, since);
}

std::string_view parentOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace

struct FileScanner::WalkOptions {
  enum class Mode { kQueue, kDelete, kChangedSince };
  Mode mode = Mode::kQueue;
  int32_t status = kQueueWaiting;
  timespec since{};
  ChangedFolders folders = ChangedFolders::kAnyChange;
  std::string skipPrefix;  // folder whose paths are left out (the home folder on a drive)
};

FileScanner& FileScanner::sharedFileScanner() {
  return holder().get([] { return std::make_unique<FileScanner>(); });
}

void FileScanner::resetForTesting() { holder().reset(); }

FileScanner::FileScanner() : volumes_(std::make_shared<Volumes>()) {}

void FileScanner::setVolumes(std::shared_ptr<const Volumes> volumes) {
  std::lock_guard lock(volumesMutex_);
  volumes_ = volumes ? std::move(volumes) : std::make_shared<Volumes>();
}

std::optional<std::vector<BackupFile>> FileScanner::firstScanFilesAtPath(const std::string& path, bool isFirstScan,
                                                                         bool ToDelete, bool IsForFullBackup) {
  const char* first = isFirstScan ? "YES" : "NO";
  logScan(stringWithFormat("FileScanner started. Path: %s, firstscan: %s", path.c_str(), first), kLogEvent);
  try {
    const std::string root = withoutTrailingSlashes(path);
    if (!isFolder(root)) {
      logScan(stringWithFormat("FileScanner finished. Path: %s, firstscan: %s. Wrong path", path.c_str(), first),
              kLogEvent);
      return std::nullopt;
    }
    if (!inScope(root)) return std::nullopt;

    WalkOptions options;
    options.mode = ToDelete ? WalkOptions::Mode::kDelete : WalkOptions::Mode::kQueue;
    options.status = IsForFullBackup ? kQueueFullBackupScan : kQueueWaiting;
    walkInto(root, options);

    std::vector<BackupFile> waiting = BackupQueueStore::current()->selectWaitingFiles();
    if (!ToDelete) {
      logScan(stringWithFormat("FileScanner finished. Path: %s, firstscan: %s. Total number of files: %lu",
                               path.c_str(), first, static_cast<unsigned long>(waiting.size())),
              kLogEvent);
    }
    return waiting;
  } catch (const std::exception& e) {
    logScan(stringWithFormat("FileScanner exception: %s", e.what()), kLogFailure);
    return std::nullopt;
  }
}

size_t FileScanner::rescanChangedFilesAtPath(const std::string& path, Date since, ChangedFolders folders) {
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since.timePoint().time_since_epoch()).count();
  timespec bound{};
  bound.tv_sec = static_cast<time_t>(micros / 1000000);
  bound.tv_nsec = static_cast<long>(micros % 1000000) * 1000;
  return rescanChangedFilesAtPath(path, bound, folders);
}

size_t FileScanner::rescanChangedFilesAtPath(const std::string& path, timespec since, ChangedFolders folders) {
  try {
    const std::string root = withoutTrailingSlashes(path);
    if (!isFolder(root) || !inScope(root)) return 0;
    WalkOptions options;
    options.mode = WalkOptions::Mode::kChangedSince;
    options.since = since;
    options.folders = folders;
    size_t queued = walkInto(root, options);
    Date sinceDate(Date::TimePoint(std::chrono::seconds(since.tv_sec) + std::chrono::microseconds(since.tv_nsec / 1000)));
    logScan(stringWithFormat("FileScanner rescan of %s for changes since %s: %lu files queued", root.c_str(),
                             sinceDate.format(Date::kSettingsPattern).c_str(), static_cast<unsigned long>(queued)),
            kLogEvent);
    return queued;
  } catch (const std::exception& e) {
    logScan(stringWithFormat("FileScanner exception: %s", e.what()), kLogFailure);
    return 0;
  }
}

size_t FileScanner::walkInto(const std::string& root, const WalkOptions& options) {
  using Mode = WalkOptions::Mode;
  BatchWriter writer(BackupQueueStore::current());
  BackupFilter& filter = BackupFilter::sharedManager();
  std::vector<BackupFile> batch;
  std::vector<std::string> deleted;
  std::string date = Date::now().format(Date::kQueuePattern);

  auto flush = [&] {
    if (!batch.empty()) {
      writer.writeFiles(std::exchange(batch, {}));
      batch.reserve(kBatchSize);
      date = Date::now().format(Date::kQueuePattern);
    }
    if (!deleted.empty()) writer.writeDeleted(std::exchange(deleted, {}));
  };

  // Changed-since mode: folders whose own change time is recent, and all
  // below them (their files may be old, yet new here).
  std::unordered_set<std::string> freshFolders;
  auto parentIsFresh = [&](std::string_view path) {
    return !freshFolders.empty() && freshFolders.count(std::string(parentOf(path))) > 0;
  };

  // A folder that gained or lost entries has both times changed; one moved
  // in (or renamed) only its status-change time.
  auto takenWhole = [&](const struct stat& st) {
    if (options.folders == ChangedFolders::kAnyChange) return changedSince(st, options.since);
    return atOrAfter(st.st_ctim, options.since) && !atOrAfter(st.st_mtim, options.since);
  };

  auto onEntry = [&](const DirectoryWalker::Entry& entry) {
    using Action = DirectoryWalker::Action;
    if (!options.skipPrefix.empty() && isUnder(std::string(entry.path), options.skipPrefix)) {
      return Action::kSkipDescendants;
    }
    if (entry.kind == DirectoryWalker::Kind::kDirectory) {
      if (options.mode == Mode::kChangedSince) {
        struct stat st {};
        if (parentIsFresh(entry.path) ||
            (fstatat(entry.parentFd, std::string(entry.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
             takenWhole(st))) {
          freshFolders.emplace(entry.path);
        }
      }
      return Action::kContinue;
    }
    if (entry.kind != DirectoryWalker::Kind::kRegular) return Action::kContinue;

    std::string path(entry.path);
    if (options.mode == Mode::kDelete) {
      deleted.push_back(std::move(path));
      if (deleted.size() >= kBatchSize) flush();
      return Action::kContinue;
    }
    const std::string name(entry.name);
    struct stat st {};
    bool statted = false;
    auto readStat = [&] {
      if (!statted) {
        statted = true;
        if (fstatat(entry.parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
          st.st_mode = 0;  // gone or replaced since the walk saw it
        }
      }
      return S_ISREG(st.st_mode);
    };
    if (options.mode == Mode::kChangedSince) {
      if (!readStat()) return Action::kContinue;
      if (!parentIsFresh(entry.path) && !changedSince(st, options.since)) return Action::kContinue;
    }
    auto readSize = [&]() -> std::optional<int64_t> {
      if (!readStat()) return std::nullopt;
      return static_cast<int64_t>(st.st_size);
    };
    if (!filter.fileForBackupFound(path, readSize)) return Action::kContinue;
    if (!readStat()) return Action::kContinue;
    batch.push_back(BackupFile{std::move(path), options.status, date, static_cast<int64_t>(st.st_size), ""});
    if (batch.size() >= kBatchSize) flush();
    return Action::kContinue;
  };

  auto onError = [&](const std::string& folder, int error) {
    logScan(
        stringWithFormat("FileScanner: folder %s cannot be read (%s); skipped", folder.c_str(), std::strerror(error)),
        kLogFailure);
  };

  // By name: the batches then arrive in nearly the database's key order,
  // which makes the inserts cheaper.
  if (!DirectoryWalker::walk(root, onEntry, onError, DirectoryWalker::Order::kByName)) onError(root, errno);
  flush();
  return writer.finish();
}

bool FileScanner::inScope(const std::string& path) {
  auto canonical = resolved(path);
  if (!canonical) return false;
  if (includeExternalDrives()) {
    if (auto drives = getExternalDrivesPath()) {
      for (const auto& drive : *drives) {
        auto driveRoot = resolved(drive);
        if (driveRoot && isUnder(*canonical, *driveRoot)) return true;
      }
    }
  }
  auto home = resolved(Env::homeDirectory());
  return home && isUnder(*canonical, *home);
}

std::vector<std::string> FileScanner::getListOfEjectableMedia() {
  std::shared_ptr<const Volumes> volumes;
  {
    std::lock_guard lock(volumesMutex_);
    volumes = volumes_;
  }
  std::vector<std::string> urls;
  for (const auto& mountPoint : volumes->removableUSBVolumes()) {
    urls.push_back(FileURL::fromPath(mountPoint.back() == '/' ? mountPoint : mountPoint + "/"));
  }
  return urls;
}

std::optional<std::vector<std::string>> FileScanner::getExternalDrivesPath() {
  try {
    auto media = getListOfEjectableMedia();
    if (media.empty()) return std::nullopt;
    std::vector<std::string> paths;
    for (const auto& url : media) {
      auto path = FileURL::toPath(url);
      if (!path) continue;
      std::string folder = withoutTrailingSlashes(*path);
      if (isFolder(folder)) paths.push_back(folder);
    }
    return paths;
  } catch (const std::exception& e) {
    logScan(stringWithFormat("FileScanner - external drives list exception: %s", e.what()), kLogFailure);
    return std::nullopt;
  }
}

void FileScanner::scanExternalDrives() {
  try {
    auto media = getListOfEjectableMedia();
    if (media.empty()) return;
    auto path = FileURL::toPath(media.front());
    if (!path) {
      logScan(stringWithFormat("FileScanner failed, url is null. Path: %s", media.front().c_str()), kLogEvent);
      return;
    }
    std::string root = withoutTrailingSlashes(*path);
    if (!isFolder(root)) return;
    WalkOptions options;
    options.skipPrefix = withoutTrailingSlashes(Env::homeDirectory());
    walkInto(root, options);
  } catch (const std::exception& e) {
    logScan(stringWithFormat("FileScanner exception: %s", e.what()), kLogFailure);
  }
}

}  // namespace palvero
