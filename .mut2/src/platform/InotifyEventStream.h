// FileEventStream over Linux inotify. One watch per folder: every folder
// under the roots gets one at start, and folders that appear later (created,
// or moved in from outside) get theirs when their event arrives; the files a
// new folder already holds by then are reported as created, so nothing
// written in the gap is missed. A folder renamed inside the tree keeps its
// watches under the new path; one moved out loses them.
//
// Mapping: IN_CREATE → kItemCreated, IN_DELETE → kItemRemoved, IN_MOVED_FROM
// and IN_MOVED_TO → kItemRenamed, IN_MODIFY and IN_CLOSE_WRITE →
// kItemModified, IN_ATTRIB → kItemInodeMetaMod; plus kItemIsDir for folders
// and kItemIsFile otherwise. IN_Q_OVERFLOW → every root with
// kMustScanSubDirs | kKernelDropped. A full watch table (ENOSPC) is reported
// once through the warning handler, with the limit and how to raise it, and
// from then on every root is reported with kMustScanSubDirs | kUserDropped
// every degradedRescanInterval.
//
// Thread contract: as FileEventStream; all watch bookkeeping belongs to the
// stream's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/FileEventStream.h"
#include "platform/UniqueFd.h"

namespace palvero {

class InotifyEventStream : public FileEventStream {
 public:
  InotifyEventStream() = default;
  ~InotifyEventStream() override;
  InotifyEventStream(const InotifyEventStream&) = delete;
  InotifyEventStream& operator=(const InotifyEventStream&) = delete;

  bool start(const Options& options, EventHandler onEvents, WarningHandler onWarning) override;
  void stop() override;

  bool waitUntilWatching(std::chrono::milliseconds timeout) override;
  // Number of folders watched now (read on the stream's thread; approximate
  // from others).
  size_t watchCount() const;

  // The kernel's per-user limit, or 0 when it cannot be read.
  static size_t kernelWatchLimit();

 private:
  using SteadyTime = std::chrono::steady_clock::time_point;

  void run();
  void readEvents();
  void handleEvent(int wd, uint32_t mask, uint32_t cookie, const char* name);
  // Adds watches for `root` and every folder below it. With `reportContents`
  // the entries found are reported as created.
  void addTree(const std::string& root, bool reportContents);
  // False when the watch table is full.
  bool addWatch(const std::string& path);
  void renameSubtree(const std::string& from, const std::string& to);
  void removeSubtree(const std::string& path);
  void enterDegraded();
  void emit(const std::string& path, uint32_t flags);
  void deliverIfDue(bool force);
  bool isIgnored(const std::string& path) const;
  int pollTimeoutMs() const;

  Options options_;
  EventHandler onEvents_;
  WarningHandler onWarning_;
  UniqueFd inotify_;
  UniqueFd wake_;
  std::thread thread_;

  // Owned by the stream's thread.
  std::unordered_map<int, std::string> pathByWd_;
  std::map<std::string, int> wdByPath_;
  std::unordered_map<uint32_t, std::string> movedFrom_;  // rename cookie → old folder path, until paired
  std::vector<FileEvent> pending_;
  std::set<std::pair<std::string, uint32_t>> pendingSeen_;
  SteadyTime pendingSince_{};
  bool degraded_ = false;
  SteadyTime nextDegradedRescan_{};

  mutable std::mutex readyMutex_;
  std::condition_variable readyChanged_;
  bool ready_ = false;           // guarded by readyMutex_
  size_t publishedWatches_ = 0;  // guarded by readyMutex_
};

}  // namespace palvero
