// Learns about changed files between scans: every path the file-system event
// stream reports goes through the backup filter on a background queue; files
// to back up and files that vanished become records in the watcher buffer,
// which a repeating timer writes into the database's backup queue. When the
// stream lost events (or cannot watch every folder), the root is rescanned
// for files changed since its last rescan. Also rebuilds the queue when the
// user changed the folder selection (recalculateBackupQueue).
//
// The application owns one watcher; it calls the delegate to stop and
// restart a backup and to mark the window as scanning.
//
// Thread contract: start/stop from one controlling thread (the main one);
// URLWatcher() and bufferTimerTick() from any thread, they return at once and
// do their work on DispatchQueue::global(); the other operations block and
// may run on any thread. The destructor stops the stream and the timer and
// waits for the watcher's background work to finish.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Date.h"
#include "base/Timer.h"
#include "platform/FileEventStream.h"
#include "selection/ChangeWatcherDelegate.h"
#include "selection/FolderChanges.h"
#include "selection/WatcherBuffer.h"

namespace palvero {

struct ChangeWatcherOptions {
  std::chrono::milliseconds latency{3000};  // the stream gathers events this long
  Clock::Duration flushInterval = std::chrono::seconds(10);
  std::chrono::milliseconds degradedRescanInterval{600000};  // with a full watch table
  size_t watchLimitForTesting = 0;
  // A rescan after lost events also takes files changed this long before the
  // previous one started: time stamps and the clock are not exact.
  std::chrono::milliseconds rescanOverlap{2000};
};

class ChangeWatcher {
 public:
  using Options = ChangeWatcherOptions;

  // `delegate` may be null (nothing to stop, no window); it must outlive the
  // watcher.
  ChangeWatcher(WatcherBuffer& buffer, ChangeWatcherDelegate* delegate,
                std::unique_ptr<FileEventStream> stream = FileEventStream::create(), Options options = Options());
  ~ChangeWatcher();
  ChangeWatcher(const ChangeWatcher&) = delete;
  ChangeWatcher& operator=(const ChangeWatcher&) = delete;

  // The default backup folder and, when external drives are on, every drive.
  static std::vector<std::string> watchedRoots();
  // Starts the event stream on `roots` (watchedRoots() when empty), from now
  // on. Our own support, preferences and scratch folders are not watched.
  bool startWatching(const std::vector<std::string>& roots = {});
  void stopWatching();
  // Blocks until the stream watches its roots (or `timeout` passed).
  bool waitUntilWatching(std::chrono::milliseconds timeout);
  // The repeating flush timer on the main run loop.
  void startBufferTimer();
  void stopBufferTimer();

  // One event of the stream: handed to the background queue at once.
  void URLWatcher(const FileEvent& eventOccurred);
  // The background part: filter, then record (or rescan on lost events).
  void handleEvent(const FileEvent& event);
  // Hands a flush to the background queue.
  void bufferTimerTick();
  // Writes the buffer into the database now; false when records stay behind.
  bool flushBuffer();

  // Rebuilds the queue after the exclusions page closed: rescans the folders
  // added or removed, or, when only rules changed, rebuilds the whole queue
  // from a scan of the home folder (full backup: status 10).
  void recalculateBackupQueue(bool forFullBackup);

  FolderChanges& folderChanges() { return folderChanges_; }
  WatcherBuffer& buffer() { return buffer_; }
  // Blocks until the background work started so far has finished (tests,
  // shutdown).
  void waitUntilIdle();

 private:
  void runInBackground(std::function<void()> work);
  void recordEvent(const std::string& path, uint32_t flags);
  void rescan(const std::string& root);
  void scanDifferenceFoldersLocked(std::vector<std::string>& removed, std::vector<std::string>& added);
  bool stopBackupIfRunning();
  void saveExclusions();

  WatcherBuffer& buffer_;
  ChangeWatcherDelegate* const delegate_;
  const Options options_;
  FolderChanges folderChanges_;

  std::mutex controlMutex_;
  std::unique_ptr<FileEventStream> stream_;  // guarded by controlMutex_
  Timer::Handle bufferTimer_;                // guarded by controlMutex_

  std::mutex workMutex_;
  std::condition_variable workDone_;
  int inFlight_ = 0;  // guarded by workMutex_

  std::mutex rescanMutex_;
  Date startedAt_;                               // guarded by rescanMutex_
  std::map<std::string, Date> lastRescanStart_;  // guarded by rescanMutex_
  std::set<std::string> rescanning_;             // guarded by rescanMutex_
  std::set<std::string> rescanAgain_;            // guarded by rescanMutex_

  std::atomic<bool> dateLastScanChanged_{false};
};

}  // namespace palvero
