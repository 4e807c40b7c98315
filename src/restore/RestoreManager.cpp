// Starting, continuing, pausing a restore run; the single-file restore; the
// choices kept for a restart.
#include "restore/RestoreManager.h"

#include <exception>
#include <thread>

#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "engine/PathRules.h"
#include "platform/PreferencesStore.h"
#include "protocol/CommunicationServer.h"
#include "protocol/HttpClient.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

constexpr const char* kRootKey = "restoreRootPath";
constexpr const char* kKeepExistingKey = "restoreKeepExisting";
// The whole choice, and whether the run's list was completed.
constexpr const char* kChoiceKey = "restoreChoice";
constexpr const char* kListIncompleteKey = "restoreListIncomplete";

void markListComplete() {
  auto& store = PreferencesStore::sharedStore();
  store.setObject(kListIncompleteKey, false);
  store.synchronize();
}

// The date and time in the user's locale: short date, full time.
std::string statusDescription() { return Date::now().format("dd.MM.yyyy HH:mm:ss"); }

}  // namespace

RestoreManager::RestoreManager(std::shared_ptr<CommunicationServer> comServer, CommonExtensions& extensions,
                               Hooks hooks)
    : comServer_(std::move(comServer)),
      commonExtensionsSettings_(extensions),
      hooks_(std::move(hooks)),
      filesToRestore_(FilesToRestore::sharedFilesToRestore()) {
  auto& center = NotificationCenter::defaultCenter();
  std::weak_ptr<int> alive = alive_;
  observers_.push_back(center.addObserver(BlockEngine::kRestoreOK, nullptr, [this, alive](const Notification& n) {
    if (!alive.lock()) return;
    std::string beside = n.userInfo.is_object() ? n.userInfo.value("writtenBeside", std::string()) : std::string();
    restoreOK(static_cast<const BlockEngine*>(n.object), beside);
  }));
  observers_.push_back(center.addObserver(BlockEngine::kRestoreFail, nullptr, [this, alive](const Notification& n) {
    if (!alive.lock()) return;
    std::string error = n.userInfo.is_object() ? n.userInfo.value("error", std::string()) : std::string();
    restoreFail(static_cast<const BlockEngine*>(n.object), error);
  }));
}

RestoreManager::~RestoreManager() {
  for (auto& token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
  paused_.store(true);
  for (const auto& worker : workers()) worker->deltaHandler->setCancel(true);
  threads_.waitForNone(std::chrono::minutes(1));
}

void RestoreManager::setWorkers(size_t count, const std::function<std::shared_ptr<BlockEngine>()>& makeEngine) {
  WorkerList fresh;
  for (size_t i = 0; i < count; ++i) fresh.push_back(std::make_shared<RestoreThread>(static_cast<int64_t>(i), makeEngine()));
  std::lock_guard lock(queueLock_);
  ownWorkers_ = std::move(fresh);
}

RestoreManager::WorkerList RestoreManager::workers() const {
  if (hooks_.workers) return hooks_.workers();
  std::lock_guard lock(queueLock_);
  return ownWorkers_;
}

void RestoreManager::setChoice(RestoreChoice choice) {
  std::lock_guard lock(queueLock_);
  choice_ = std::move(choice);
}

RestoreChoice RestoreManager::choice() const {
  std::lock_guard lock(queueLock_);
  return choice_;
}

std::string RestoreManager::root() const {
  std::lock_guard lock(queueLock_);
  return root_;
}

void RestoreManager::saveChoice() {
  RestoreChoice c = choice();
  std::string runRoot;
  if (c.restoreSingleFile && c.singleFileForRestore) {
    // A single file goes straight into the destination folder.
    runRoot = PathRules::parentOf(c.singleFileForRestore->name);
  } else {
    runRoot = commonExtensionsSettings_.defaultBackupFolder();
  }
  {
    std::lock_guard lock(queueLock_);
    root_ = runRoot;
  }
  auto& ext = commonExtensionsSettings_;
  ext.saveParameter("restoreAllData", c.restoreAllData);
  ext.saveParameter("restoreLatest", c.restoreLatest);
  ext.saveParameter("restoreToOriginalPath", c.restoreToOriginalPath);
  ext.saveParameter("restoreDestinationPath", c.restoreDestinationPath);
  ext.saveParameter("restoreDateTimeInterval", c.restoreDate);
  ext.saveParameter("restoring", true);
  auto& store = PreferencesStore::sharedStore();
  store.setObject(kRootKey, runRoot);
  store.setObject(kKeepExistingKey, c.keepExisting);
  store.setObject(kChoiceKey, c.toValue());
  store.synchronize();
}

bool RestoreManager::listIncomplete() const {
  auto& store = PreferencesStore::sharedStore();
  auto stored = store.objectForKey(kChoiceKey);
  return store.boolForKey(kListIncompleteKey) && stored && RestoreChoice::fromValue(*stored);
}

void RestoreManager::loadChoice() {
  auto& ext = commonExtensionsSettings_;
  std::lock_guard lock(queueLock_);
  choice_.restoreAllData = ext.restoreAllData();
  choice_.restoreLatest = ext.restoreLatest();
  choice_.restoreToOriginalPath = ext.restoreToOriginalPath();
  choice_.restoreDestinationPath = ext.restoreDestinationPath().value_or("");
  choice_.restoreDate = ext.restoreDateTimeInterval();
  auto& store = PreferencesStore::sharedStore();
  root_ = store.stringForKey(kRootKey).value_or(ext.defaultBackupFolder());
  choice_.keepExisting = store.boolForKey(kKeepExistingKey);
}

void RestoreManager::beginRun(bool fresh) {
  {
    std::lock_guard lock(queueLock_);
    failedFiles_.clear();
    keptBeside_.clear();
    handedOut_.clear();
    restoreItr_ = 0;
    ending_ = false;
    ++generation_;
    if (root_.empty()) root_ = commonExtensionsSettings_.defaultBackupFolder();
  }
  paused_.store(false);
  interrupted_.store(false);
  if (comServer_->syncAuthorise()) comServer_->sendStatus("restorestart", statusDescription());
  filesToRestore_.clear();
  totalRestoreItr_.store(0);
  filesRestored_.store(0);
  totalSizeOfFilesRestored_.store(0);
  if (fresh) {
    sizeOfFilesToRestore_.store(0);
    filesToRestoreCount_.store(0);
    DBManager::sharedDBManager().RemoveAllFilesFromDatabase(false);
  }
}

void RestoreManager::restore() {
  std::lock_guard manager(managerLock_);
  // Until the list is complete (the table is emptied first), a restart lists
  // again from this choice.
  auto& store = PreferencesStore::sharedStore();
  store.setObject(kChoiceKey, choice().toValue());
  store.setObject(kListIncompleteKey, true);
  store.synchronize();
  beginRun(true);
  if (choice().restoreSingleFile) {
    startRestoreSingleFile();
    return;
  }
  restoring_.store(true);
  preparing_.store(true);
  log(kStartingRestore, kSessionRestore, "Restore started", kLogFailure);
  std::weak_ptr<int> alive = alive_;
  DispatchQueue::global().async([this, alive] {
    if (alive.lock()) buildAndStart();
  });
}

void RestoreManager::buildAndStart() {
  RestoreChoice c = choice();
  std::string runRoot = root();
  // The plan is written to the database as it is made; the list returned
  // goes at once, before the pending rows are read back.
  if (c.restoreAllData) {
    getFilesToRestoreAllData(runRoot, c.restoreLatest);
  } else {
    getFilesToRestoreChooseData(c.restoreLatest);
  }
  // A pause during the listing leaves it incomplete: the next start lists again.
  if (!paused_.load()) markListComplete();
  filesToRestore_.setFiles(readPending());
  preparing_.store(false);
  post(kRestoreFinishedCounting);
  std::weak_ptr<int> alive = alive_;
  RunLoop::main().async([this, alive, runRoot] {
    if (!alive.lock()) return;
    remainingTimeIterator_.store(0);
    if (paused_.load()) return;
    if (filesToRestore_.count() > 0) {
      startNextRestoreQueue(runRoot);
    } else {
      restoreEnd(false, false);
    }
  });
}

void RestoreManager::restoreFromDb() {
  if (listIncomplete()) {
    auto stored = RestoreChoice::fromValue(*PreferencesStore::sharedStore().objectForKey(kChoiceKey));
    log(kStartingRestore, kSessionRestore, "The restore list was not complete; listing again", kLogFailure);
    setChoice(std::move(*stored));
    restore();
    return;
  }
  std::lock_guard manager(managerLock_);
  beginRun(false);
  restoring_.store(true);
  pausedByUser_.store(false);
  log(kStartingRestore, kSessionRestore, "Restore started", kLogFailure);
  auto& db = DBManager::sharedDBManager();
  // Totals of what is left: pending entries, and failures already recorded.
  sizeOfFilesToRestore_.store(db.GetTotalSizeOfFiles(false));
  filesToRestoreCount_.store(db.GetTotalNumberOfFiles(false));
  filesToRestore_.setFiles(readPending());
  remainingTimeIterator_.store(0);
  if (filesToRestore_.count() > 0) {
    startNextRestoreQueue(root());
  } else {
    restoreEnd(false, false);
  }
}

void RestoreManager::startRestoreSingleFile() {
  try {
    RestoreChoice c = choice();
    if (!c.singleFileForRestore) return;
    const BackupedFile& file = *c.singleFileForRestore;
    RestoreEntry entry;
    entry.path = file.name;
    entry.deviceID = file.deviceId;
    entry.size = c.backupFileVersion ? c.backupFileVersion->size : file.size;
    if (c.backupFileVersion) {
      entry.revision = c.backupFileVersion->number;
    } else if (!c.restoreLatest) {
      entry.revision = revisionAt(c.restoreDate, file.versions);
      if (entry.revision == -2) {
        refuse(entry.path, "No file version");
        restoreEnd(false, false);
        return;
      }
    }
    sizeOfFilesToRestore_.store(entry.size);
    filesToRestoreCount_.store(1);
    post(kRestoreTotalSizeGained, Value{{"sizeOfFilesToRestore", entry.size}});
    std::optional<std::string> target = targetFor(entry);
    if (!target) {
      refuse(entry.path, kRefusedName);
      restoreEnd(false, false);
      return;
    }
    int64_t free = Functions::getFreeDiskspaceForPath(PathRules::parentOf(*target));
    if (free >= 0 && free < entry.size) {
      if (hooks_.alert) hooks_.alert(kInsufficientDiskSpace);
      refuse(entry.path, kInsufficientDiskSpace);
      restoreEnd(false, false);
      return;
    }
    DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(Value::array({entry.toValue()}), false);
    markListComplete();
    filesToRestore_.setFiles({entry});
    restoring_.store(true);
    log(kStartingRestore, kSessionRestore, "Restore single file started", kLogFailure);
    startNextRestoreQueue(root());
  } catch (const std::exception& e) {
    log(kRestoreError, kSessionRestore, stringWithFormat("Restore single file exception: %s", e.what()), kLogFailure);
  }
}

void RestoreManager::pauseRestore() {
  paused_.store(true);
  restoring_.store(false);
  for (const auto& worker : workers()) {
    if (worker->isActive()) worker->deltaHandler->setCancel(true);
  }
  std::lock_guard lock(queueLock_);
  // Entries already done were written as they finished; what is left stays
  // pending in the table for the next start.
  filesToRestore_.takeRestoredFiles();
  if (!anyActiveLocked()) idle_.notify_all();
}

bool RestoreManager::waitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(queueLock_);
  return idle_.wait_for(lock, timeout, [this] { return !anyActiveLocked(); });
}

std::vector<FailedRestore> RestoreManager::failedFiles() const {
  std::lock_guard lock(queueLock_);
  return failedFiles_;
}

std::vector<std::pair<std::string, std::string>> RestoreManager::keptBesideFiles() const {
  std::lock_guard lock(queueLock_);
  return keptBeside_;
}

std::vector<std::string> RestoreManager::handedOut() const {
  std::lock_guard lock(queueLock_);
  return handedOut_;
}

std::shared_ptr<CommunicationServer> RestoreManager::makeServer() {
  if (hooks_.newServer) return hooks_.newServer();
  auto server = CommunicationServer::create(comServer_->serverURL(), std::make_shared<HttpClient>());
  // Listings need a session; opening it first spares each one a 401 round.
  server->syncAuthorise();
  return server;
}

void RestoreManager::post(const char* name, Value userInfo) {
  std::weak_ptr<int> alive = alive_;
  std::string notification = name;
  RunLoop::main().async([this, alive, notification, info = std::move(userInfo)] {
    if (alive.lock()) NotificationCenter::defaultCenter().post(notification, this, info);
  });
}

void RestoreManager::startThread(const std::shared_ptr<RestoreThread>& worker, std::function<void()> body) {
  if (hooks_.startThread) {
    hooks_.startThread(worker, std::move(body));
    return;
  }
  threads_.start(worker, std::move(body));
}

void RestoreManager::log(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

}  // namespace palvero
