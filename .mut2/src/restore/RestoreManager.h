// The restore run: turns the user's choice (RestoreChoice) into a flat list
// of files with the revision to fetch, keeps that list in the FILESTORESTORE
// table (so a run interrupted by a quit, a crash or a pause continues from
// there), and feeds the entries to a fixed set of restore workers, each
// restoring one file at a time through its engine on a thread of its own.
//
// A run: restore() (or restoreFromDb()) → the list is built on a background
// queue and written to the table in groups of 400 ("RestoreFinishedCounting",
// "RestoreTotalSizeGained") → up to 400 pending entries are loaded and handed
// out, one per worker → each outcome ("RestoreOK" / "RestoreFail" from the
// engine) marks the entry in the table and hands the worker the next entry →
// when every worker is idle the next 400 are loaded, or the run ends
// ("RestoreEnd", status "restoreend").
//
// Files in this folder: RestoreManager.cpp (starting, single file, resuming,
// pausing), RestoreManagerPlanning.cpp (the list), RestoreManagerQueue.cpp
// (hand-outs, outcomes, the end), RemoteTreeWalker (listings in parallel).
//
// Threads: restore(), restoreFromDb(), pauseRestore() and the hand-out of the
// first entries run on the caller's thread (the main thread in the app); the
// list is built on DispatchQueue::global(); outcomes are handled on the
// worker's thread under the queue lock, which also serialises every hand-out
// and every change of the list, the cursor and the counters. Notifications
// are posted on the main run loop. Nothing here holds the queue lock across
// network I/O.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/NotificationCenter.h"
#include "base/Value.h"
#include "protocol/BackupFileVersion.h"
#include "protocol/BackupedFolder.h"
#include "restore/RestoreChoice.h"
#include "restore/RestoreThread.h"
#include "restore/WorkerThreads.h"
#include "state/FilesToRestore.h"

namespace palvero {

class CommunicationServer;
class CommonExtensions;

// A file the run could not restore, for the end report.
struct FailedRestore {
  std::string path;
  std::string error;
};

class RestoreManager {
 public:
  static constexpr const char* kRestoreFinishedCounting = "RestoreFinishedCounting";
  static constexpr const char* kRestoreTotalSizeGained = "RestoreTotalSizeGained";
  static constexpr const char* kRestoreEnd = "RestoreEnd";
  static constexpr const char* kInsufficientDiskSpace = "Insufficient disk space";
  static constexpr const char* kRefusedName = "Refused name from the service";
  static constexpr size_t kGroupSize = 400;
  static constexpr std::chrono::seconds kOfflineRetryPause{5};
  // Listing requests in flight while a selection is walked, when the
  // service sets no pacing; a paced walk lists with one session.
  static constexpr size_t kListingThreads = 6;
  static size_t listingThreads();

  using WorkerList = std::vector<std::shared_ptr<RestoreThread>>;
  using ServerFactory = std::function<std::shared_ptr<CommunicationServer>()>;

  // What the run needs from the application: the restore workers (the
  // shared worker list in the app) and a way to start a worker's thread
  // (the app's ThreadManager, which counts them for shutdown). Defaults:
  // workers made by setWorkers(), threads counted by the manager itself.
  struct Hooks {
    std::function<WorkerList()> workers;
    std::function<void(const std::shared_ptr<RestoreThread>&, std::function<void()>)> startThread;
    // Shows the alert "Insufficient disk space" (front ends).
    std::function<void(const std::string& text)> alert;
    // Makes one more request object for the parallel listings; default: one
    // for the same address over libcurl.
    ServerFactory newServer;
  };

  // `comServer` lists and reports status; `extensions` gives the default
  // backup folder and keeps the restore choices across restarts.
  RestoreManager(std::shared_ptr<CommunicationServer> comServer, CommonExtensions& extensions, Hooks hooks = {});
  // Cancels the engines and waits (at most a minute) for worker threads the
  // manager started itself.
  ~RestoreManager();
  RestoreManager(const RestoreManager&) = delete;
  RestoreManager& operator=(const RestoreManager&) = delete;

  // Makes `count` workers with the engines `makeEngine` gives (used when no
  // `workers` hook is set).
  void setWorkers(size_t count, const std::function<std::shared_ptr<BlockEngine>()>& makeEngine);
  WorkerList workers() const;

  // --- Choice -------------------------------------------------------------

  void setChoice(RestoreChoice choice);
  RestoreChoice choice() const;
  // Stores the choices a restart needs ("restoreAllData", "restoreLatest",
  // "restoreToOriginalPath", "restoreDestinationPath",
  // "restoreDateTimeInterval", "restoring" = true), the run's root and the
  // whole choice; restore() marks the list incomplete until it is built.
  void saveChoice();
  // Reads them back (an unfinished run found at start).
  void loadChoice();
  // True when the stored run was stopped before its list was complete: the
  // table holds part of it or nothing, and restoreFromDb() lists again.
  bool listIncomplete() const;

  // --- Runs (RestoreManager.cpp) ---------------------------------------------

  // Starts a new run from the choice; the list is built in the background.
  void restore();
  // Continues the run kept in the table (after a restart or a pause); a run
  // whose list was never completed is listed again from its stored choice.
  void restoreFromDb();
  void startRestoreSingleFile();
  // Stops every worker through its engine's cancel; unfinished entries stay
  // pending in the table. The run is no longer "restoring" once called.
  void pauseRestore();
  // Blocks until no worker holds a file or `timeout` passed; true when idle.
  bool waitUntilIdle(std::chrono::milliseconds timeout);

  // --- Planning (RestoreManagerPlanning.cpp) --------------------------------

  // Every file below `root` (all data), each with the revision to fetch;
  // written to the table in groups of 400. The latest state comes from one
  // whole-folder listing ("get_files_list"), whose names are paths below
  // "/"; a name that is no clean path or lies outside `root` is refused and
  // reported. The state at a date walks the folder page by page, deleted
  // files included. Blocks.
  std::vector<RestoreEntry> getFilesToRestoreAllData(const std::string& root, bool IsRestoreLatest);
  // The files of the selection, likewise.
  std::vector<RestoreEntry> getFilesToRestoreChooseData(bool IsRestoreLatest);
  // The revision in force at `date` (seconds since 1970): the version before
  // it (by at least one whole second) nearest to it, the first of equals;
  // -2 when none is before it.
  static int64_t findVersionByDate(double date, const std::vector<BackupFileVersion>& Versions);
  // The revision to fetch for the state at `date`: findVersionByDate for a
  // file of several revisions; -1 (the latest) for one of a single revision.
  static int64_t revisionAt(double date, const std::vector<BackupFileVersion>& versions);
  // Every folder below `folder` (listed through the service), with full paths.
  std::vector<BackupedFolder> getSubfolders(const BackupedFolder& folder, const std::string& DeviceID);
  // True when `path` lies under an item taken out of the selection and not
  // under a more specific item chosen again.
  bool checkIfRestoreFolderShouldBeExcluded(const std::string& path) const;

  // --- Queue (RestoreManagerQueue.cpp) -------------------------------------

  // Hands the first entries to the workers.
  void startNextRestoreQueue(const std::string& root);
  // The engine's outcome for the worker that runs on the calling thread.
  // `writtenBeside`: where the engine wrote the file instead of its target
  // (beside a local file it kept), or "".
  void restoreOK(const BlockEngine* engine, const std::string& writtenBeside = {});
  void restoreFail(const BlockEngine* engine, const std::string& error);
  // Where `entry` is written: its own path, or its path with the run's root
  // replaced by the destination; nothing when that would leave the
  // destination.
  std::optional<std::string> targetFor(const RestoreEntry& entry) const;

  // --- State, for front ends and tests --------------------------------------

  bool restoring() const { return restoring_.load(); }
  // The list of a new run is still being built.
  bool preparing() const { return preparing_.load(); }
  bool pausedByUser() const { return pausedByUser_.load(); }
  void setPausedByUser(bool paused) { pausedByUser_.store(paused); }
  int64_t sizeOfFilesToRestore() const { return sizeOfFilesToRestore_.load(); }
  int64_t totalSizeOfFilesRestored() const { return totalSizeOfFilesRestored_.load(); }
  int64_t filesToRestoreCount() const { return filesToRestoreCount_.load(); }
  int64_t filesHandled() const { return totalRestoreItr_.load(); }
  int64_t filesRestored() const { return filesRestored_.load(); }
  std::vector<FailedRestore> failedFiles() const;
  // Files of this run written beside a local file that was kept (a local
  // file changed after the revision, or --keep-existing): the path backed
  // up and the name written.
  std::vector<std::pair<std::string, std::string>> keptBesideFiles() const;
  // The root whose paths are mapped onto the destination.
  std::string root() const;
  // Entries handed out so far in this pass (tests).
  std::vector<std::string> handedOut() const;

 private:
  // --- Planning helpers ---
  std::vector<RestoreEntry> collect(const std::vector<BackupedFolder>& roots, bool latest, bool showDeleted,
                                    const std::function<bool(const std::string&)>& excluded);
  // The files of the whole-folder listing of `root` (latest revisions).
  std::vector<RestoreEntry> collectWholeList(const std::string& root);
  void addFileEntry(const BackupedFile& file, const std::string& folderPath, const std::string& deviceId,
                    bool latest, std::vector<RestoreEntry>& group, std::vector<RestoreEntry>& all);
  void writeGroup(std::vector<RestoreEntry>& group);
  void refuse(const std::string& path, const std::string& reason);
  std::vector<RestoreEntry> readPending();
  std::optional<BackupedFolder> listFolder(CommunicationServer& server, const std::string& path,
                                           const std::string& deviceId, bool showDeleted);
  std::shared_ptr<CommunicationServer> makeServer();

  // --- Queue helpers (under queueLock_) ---
  void buildAndStart();
  void beginRun(bool fresh);
  bool handOutLocked(const std::shared_ptr<RestoreThread>& worker);
  // Removes what a killed run left beside the targets of the loaded list.
  void sweepLeftoversLocked();
  void startWorkerLocked(const std::shared_ptr<RestoreThread>& worker, const RestoreEntry& entry, int64_t index,
                         const std::string& target);
  void workerIdleLocked(const std::shared_ptr<RestoreThread>& worker);
  void manageRestoreThreadsOnEnd(bool flag);
  // Ends the run: "RestoreEnd" with {"interrupted", "failed", "restored"};
  // unless `keepForResume`, the table is emptied and "restoring" stored false.
  void restoreEnd(bool interrupted, bool keepForResume);
  void finishedHandOut(const std::shared_ptr<RestoreThread>& worker, uint64_t handout);
  std::shared_ptr<RestoreThread> workerFor(const BlockEngine* engine) const;
  bool anyActiveLocked() const;
  bool hasRoomForPlan();
  void post(const char* name, Value userInfo = Value());
  void startThread(const std::shared_ptr<RestoreThread>& worker, std::function<void()> body);
  static void log(uint32_t entryType, int32_t sessionType, const std::string& text, int level);

  const std::shared_ptr<CommunicationServer> comServer_;
  CommonExtensions& commonExtensionsSettings_;
  Hooks hooks_;
  FilesToRestore& filesToRestore_;

  // The manager's lock: restore() and restoreFromDb().
  std::mutex managerLock_;
  // The queue lock: hand-outs, outcomes, the list, the cursor, the failures.
  mutable std::recursive_mutex queueLock_;
  RestoreChoice choice_;                     // guarded by queueLock_
  std::string root_;                         // guarded by queueLock_
  std::vector<FailedRestore> failedFiles_;   // guarded by queueLock_
  std::vector<std::pair<std::string, std::string>> keptBeside_;  // guarded by queueLock_
  int64_t restoreItr_ = 0;                   // guarded by queueLock_; next entry to hand out
  std::vector<std::string> handedOut_;       // guarded by queueLock_
  bool ending_ = false;                      // guarded by queueLock_; the end is under way
  uint64_t generation_ = 0;                  // guarded by queueLock_; runs started, for stale timers
  WorkerList ownWorkers_;                    // guarded by queueLock_

  std::atomic<bool> restoring_{false};
  std::atomic<bool> preparing_{false};
  std::atomic<bool> pausedByUser_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> interrupted_{false};
  std::atomic<int64_t> totalRestoreItr_{0};
  std::atomic<int64_t> filesRestored_{0};
  std::atomic<int64_t> sizeOfFilesToRestore_{0};
  std::atomic<int64_t> totalSizeOfFilesRestored_{0};
  std::atomic<int64_t> filesToRestoreCount_{0};
  std::atomic<int64_t> remainingTimeIterator_{0};

  std::vector<NotificationCenter::Token> observers_;

  // Threads the manager started itself (no startThread hook).
  WorkerThreads threads_;
  // Idle waits.
  std::condition_variable_any idle_;
  // Expires with the manager: tasks queued elsewhere check it first.
  const std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace palvero
