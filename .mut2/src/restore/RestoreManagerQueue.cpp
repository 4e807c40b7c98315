// Handing entries to the workers, the engines' outcomes, the reload of the
// next 400 and the end of a run. Everything here runs under the queue lock
// except the reachability check of a failure and the waits.
#include <exception>
#include <filesystem>
#include <set>

#include "base/Clock.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "base/Timer.h"
#include "protocol/RequestPacer.h"
#include "engine/RestoreTarget.h"
#include "engine/PathRules.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "restore/RestoreManager.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

bool hasDotComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string_view part(path.data() + start, end - start);
    if (part == ".." || part == ".") return true;
    start = end + 1;
  }
  return false;
}

std::string statusDescription() { return Date::now().format("dd.MM.yyyy HH:mm:ss"); }

}  // namespace

std::optional<std::string> RestoreManager::targetFor(const RestoreEntry& entry) const {
  std::lock_guard lock(queueLock_);
  const std::string& path = entry.path;
  if (path.empty() || path.find('\0') != std::string::npos || hasDotComponent(path)) return std::nullopt;
  if (choice_.restoreToOriginalPath) {
    if (path.front() != '/') return std::nullopt;
    return path;
  }
  const std::string destination = PathRules::withoutTrailingSlashes(choice_.restoreDestinationPath);
  if (destination.empty() || destination.front() != '/' || hasDotComponent(destination)) return std::nullopt;
  const std::string base = PathRules::withoutTrailingSlashes(root_);
  std::string relative;
  // The root is replaced only as a whole leading part of the path.
  if (!base.empty() && base != "/" && path.compare(0, base.size(), base) == 0 &&
      (path.size() == base.size() || path[base.size()] == '/')) {
    relative = path.substr(base.size());
  } else {
    relative = path.front() == '/' ? path : "/" + path;
  }
  relative = PathRules::withoutTrailingSlashes(relative);
  if (relative.empty() || relative == "/") return std::nullopt;
  return destination == "/" ? relative : destination + relative;
}

bool RestoreManager::anyActiveLocked() const {
  for (const auto& worker : workers()) {
    if (worker->isActive()) return true;
  }
  return false;
}

std::shared_ptr<RestoreThread> RestoreManager::workerFor(const BlockEngine* engine) const {
  for (const auto& worker : workers()) {
    if (worker->deltaHandler.get() == engine) return worker;
  }
  return nullptr;
}

bool RestoreManager::hasRoomForPlan() {
  std::string destination = choice().restoreDestinationPath;
  int64_t needed = sizeOfFilesToRestore_.load() - totalSizeOfFilesRestored_.load();
  int64_t free = Functions::getFreeDiskspaceForPath(destination);
  if (free < 0 || needed <= free) return true;
  log(kRestoreError, kSessionRestore,
      stringWithFormat("Restore error: %s. Ex: %s (%lld bytes needed, %lld free)", destination.c_str(),
                       kInsufficientDiskSpace, static_cast<long long>(needed), static_cast<long long>(free)),
      kLogFailure);
  return false;
}

void RestoreManager::startNextRestoreQueue(const std::string& root) {
  std::lock_guard lock(queueLock_);
  if (paused_.load()) return;
  if (!root.empty()) root_ = root;
  if (!choice_.restoreToOriginalPath) {
    // The folder the user chose; everything below it is made without
    // following links (RestoreTarget).
    std::error_code ignored;
    std::filesystem::create_directories(choice_.restoreDestinationPath, ignored);
  }
  if (!choice_.restoreToOriginalPath && !hasRoomForPlan()) {
    if (hooks_.alert) hooks_.alert(kInsufficientDiskSpace);
    failedFiles_.push_back({choice_.restoreDestinationPath, kInsufficientDiskSpace});
    restoreEnd(true, false);
    return;
  }
  if (workers().empty()) {
    // Nothing could ever take an entry: stop, keeping the table for later,
    // rather than reloading the same list forever.
    log(kRestoreError, kSessionRestore, "Restore stopped - no restore workers", kLogFailure);
    restoreEnd(true, true);
    return;
  }
  if (!anyActiveLocked()) sweepLeftoversLocked();
  restoring_.store(true);
  if (choice_.restoreToOriginalPath) {
    log(kStartingRestore, kSessionRestore, "Restore to original path started", kLogFailure);
  }
  bool anyStarted = false;
  for (const auto& worker : workers()) {
    if (worker->isActive()) continue;
    if (!handOutLocked(worker)) break;
    anyStarted = true;
  }
  if (!anyStarted && !anyActiveLocked()) manageRestoreThreadsOnEnd(true);
}

void RestoreManager::sweepLeftoversLocked() {
  // Files in flight when the process was killed left their temporary files
  // beside their targets; those entries are pending again and in this list.
  std::set<std::string> folders;
  for (const auto& entry : filesToRestore_.files()) {
    std::optional<std::string> target = targetFor(entry);
    if (!target) continue;
    size_t slash = target->rfind('/');
    if (slash != std::string::npos && slash > 0) folders.insert(target->substr(0, slash));
  }
  for (const auto& folder : folders) RestoreTarget::removeLeftovers(folder);
}

bool RestoreManager::handOutLocked(const std::shared_ptr<RestoreThread>& worker) {
  while (!paused_.load()) {
    auto index = restoreItr_;
    std::optional<RestoreEntry> entry = filesToRestore_.fileAtIndex(static_cast<size_t>(index));
    if (!entry) return false;
    ++restoreItr_;
    std::optional<std::string> target = targetFor(*entry);
    if (!target) {
      // Counted as handled: it can never be written anywhere safe.
      failedFiles_.push_back({entry->path, kRefusedName});
      log(kRestoreError, kSessionRestore,
          stringWithFormat("File is not restored - %s: %s", entry->path.c_str(), kRefusedName), kLogFailure);
      filesToRestore_.addRestoredFile(*entry);
      DBManager::sharedDBManager().InsertOrUpdateFilesWithErrorsToDatabase(Value::array({entry->toValue()}), false);
      totalSizeOfFilesRestored_ += entry->size;
      ++totalRestoreItr_;
      continue;
    }
    startWorkerLocked(worker, *entry, index, *target);
    return true;
  }
  return false;
}

void RestoreManager::startWorkerLocked(const std::shared_ptr<RestoreThread>& worker, const RestoreEntry& entry,
                                       int64_t index, const std::string& target) {
  Value args = {{"filePath", entry.path},
                {"targetPath", target},
                {"revision", entry.revision},
                {"deviceID", entry.deviceID}};
  if (!choice_.restoreToOriginalPath) args["restoreRoot"] = PathRules::withoutTrailingSlashes(choice_.restoreDestinationPath);
  if (choice_.keepExisting) args["replaceFiles"] = false;
  // A dated restore, or one chosen revision, replaces the local file as the
  // user asked; the latest state keeps one changed since its last backup.
  args["keepNewerLocal"] = choice_.restoreLatest && !choice_.backupFileVersion;
  worker->iterator = index;
  worker->currentPath = entry.path;
  worker->reported = false;
  const uint64_t handout = ++worker->handout;
  worker->setLastRequestDate(Date::now());
  worker->deltaHandler->setCancel(false);
  worker->setIsActive(true);
  handedOut_.push_back(entry.path);
  startThread(worker, [this, worker, args, handout] {
    worker->deltaHandler->restoreFileWithArgs(args, worker->countIterator);
    finishedHandOut(worker, handout);
  });
}

void RestoreManager::finishedHandOut(const std::shared_ptr<RestoreThread>& worker, uint64_t handout) {
  std::lock_guard lock(queueLock_);
  if (worker->handout != handout || worker->reported) return;
  // The engine gave up without a verdict (no session): the entry stays
  // pending and the run stops, to be continued later.
  worker->reported = true;
  log(kRestoreError, kSessionRestore,
      stringWithFormat("Restore of %s stopped - authorise fail", worker->currentPath.c_str()), kLogFailure);
  interrupted_.store(true);
  workerIdleLocked(worker);
}

void RestoreManager::restoreOK(const BlockEngine* engine, const std::string& writtenBeside) {
  auto worker = workerFor(engine);
  if (!worker) return;
  try {
    std::lock_guard lock(queueLock_);
    if (worker->reported || !worker->isActive()) return;
    worker->reported = true;
    std::optional<RestoreEntry> entry = filesToRestore_.fileAtIndex(static_cast<size_t>(worker->iterator));
    if (entry && entry->path == worker->currentPath) {
      filesToRestore_.addRestoredFile(*entry);
      // Written at once, so a crash redoes at most the files in flight.
      DBManager::sharedDBManager().InsertOrUpdateBackupedFilesToDatabase(Value::array({entry->toValue()}), false);
      totalSizeOfFilesRestored_ += entry->size;
      ++filesRestored_;
      ++totalRestoreItr_;
      if (!writtenBeside.empty()) {
        keptBeside_.push_back({entry->path, writtenBeside});
        log(kGeneralLogEvent, kSessionRestore,
            stringWithFormat("Restored beside the local file: %s", writtenBeside.c_str()), kLogEvent);
      }
    }
    if (!handOutLocked(worker)) workerIdleLocked(worker);
  } catch (const std::exception& e) {
    log(kRestoreError, kSessionRestore, stringWithFormat("RestoreOK Exception - %s", e.what()), kLogFailure);
  }
}

void RestoreManager::restoreFail(const BlockEngine* engine, const std::string& error) {
  auto worker = workerFor(engine);
  if (!worker) return;
  try {
    std::optional<RestoreEntry> entry;
    std::string target;
    int64_t index = 0;
    {
      std::lock_guard lock(queueLock_);
      if (worker->reported || !worker->isActive()) return;
      index = worker->iterator;
      entry = filesToRestore_.fileAtIndex(static_cast<size_t>(index));
      int64_t left = static_cast<int64_t>(filesToRestore_.count()) - restoreItr_;
      log(kRestoreError, kSessionRestore,
          stringWithFormat("File is not restored - %s with iterator %ld total files left is %ld",
                           worker->currentPath.c_str(), static_cast<long>(worker->countIterator),
                           static_cast<long>(left < 0 ? 0 : left)),
          kLogFailure);
      if (engine->Cancel() || paused_.load() || !entry || entry->path != worker->currentPath) {
        // Stopped: the entry stays pending for the next start.
        worker->reported = true;
        workerIdleLocked(worker);
        return;
      }
      target = targetFor(*entry).value_or("");
    }
    // While the service cannot be reached the same entry is tried again.
    auto probe = makeServer();
    while (probe && probe->syncPing() == CommunicationServer::kConnectionOffline) {
      Clock::current()->sleepUnlessCancelled(kOfflineRetryPause, paused_);
      std::lock_guard lock(queueLock_);
      if (paused_.load() || worker->reported || engine->Cancel()) {
        worker->reported = true;
        workerIdleLocked(worker);
        return;
      }
      if (probe->syncPing() != CommunicationServer::kConnectionOffline) {
        startWorkerLocked(worker, *entry, index, target);
        return;
      }
    }
    std::lock_guard lock(queueLock_);
    if (worker->reported) return;
    worker->reported = true;
    failedFiles_.push_back({entry->path, error});
    filesToRestore_.addRestoredFile(*entry);
    DBManager::sharedDBManager().InsertOrUpdateFilesWithErrorsToDatabase(Value::array({entry->toValue()}), false);
    totalSizeOfFilesRestored_ += entry->size;
    ++totalRestoreItr_;
    if (!handOutLocked(worker)) workerIdleLocked(worker);
  } catch (const std::exception& e) {
    log(kRestoreError, kSessionRestore, stringWithFormat("RestoreFail Exception - %s", e.what()), kLogFailure);
  }
}

void RestoreManager::workerIdleLocked(const std::shared_ptr<RestoreThread>& worker) {
  worker->setIsActive(false);
  worker->currentPath.clear();
  if (anyActiveLocked()) return;
  idle_.notify_all();
  manageRestoreThreadsOnEnd(true);
}

void RestoreManager::manageRestoreThreadsOnEnd(bool /*flag*/) {
  std::lock_guard lock(queueLock_);
  filesToRestore_.takeRestoredFiles();
  if (paused_.load()) {
    filesToRestore_.clear();
    return;
  }
  if (interrupted_.load()) {
    filesToRestore_.clear();
    restoreEnd(true, true);
    return;
  }
  filesToRestore_.clear();
  std::vector<RestoreEntry> pending = readPending();
  if (pending.empty()) {
    restoreEnd(false, false);
    return;
  }
  filesToRestore_.setFiles(std::move(pending));
  restoreItr_ = 0;
  const uint64_t generation = generation_;
  std::weak_ptr<int> alive = alive_;
  // The service's pacing: twice "RequestPause" before the next group.
  Timer::scheduled(RequestPacer::listingPause(), false, [this, alive, generation] {
    if (!alive.lock()) return;
    {
      std::lock_guard relock(queueLock_);
      if (generation != generation_) return;
    }
    startNextRestoreQueue(root());
  });
}

void RestoreManager::restoreEnd(bool interrupted, bool keepForResume) {
  std::lock_guard lock(queueLock_);
  if (ending_) return;
  ending_ = true;
  restoring_.store(false);
  filesToRestore_.clear();
  if (!keepForResume) {
    DBManager::sharedDBManager().RemoveAllFilesFromDatabase(false);
    commonExtensionsSettings_.saveParameter("restoring", false);
  }
  Value info = {{"interrupted", interrupted},
                {"failed", static_cast<int64_t>(failedFiles_.size())},
                {"keptBeside", static_cast<int64_t>(keptBeside_.size())},
                {"restored", filesRestored_.load()}};
  std::weak_ptr<int> alive = alive_;
  auto server = comServer_;
  RunLoop::main().async([this, alive, server, info] {
    if (!alive.lock()) return;
    server->sendStatus("restoreend", statusDescription());
    log(kRestoreFinished, kSessionRestore, "Restore finished", kLogFailure);
    NotificationCenter::defaultCenter().post(kRestoreEnd, this, info);
  });
}

}  // namespace palvero
