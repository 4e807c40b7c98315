#include "platform/InotifyEventStream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "platform/DirectoryWalker.h"

namespace palvero {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW |
                                IN_EXCL_UNLINK;

std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool isUnder(const std::string& path, const std::string& folder) {
  return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

}  // namespace

std::unique_ptr<FileEventStream> FileEventStream::create() { return std::make_unique<InotifyEventStream>(); }

InotifyEventStream::~InotifyEventStream() { stop(); }

size_t InotifyEventStream::kernelWatchLimit() {
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  size_t limit = 0;
  in >> limit;
  return in ? limit : 0;
}

bool InotifyEventStream::start(const Options& options, EventHandler onEvents, WarningHandler onWarning) {
  stop();
  options_ = options;
  for (auto& path : options_.paths) path = trimmed(path);
  for (auto& path : options_.ignoredPaths) path = trimmed(path);
  onEvents_ = std::move(onEvents);
  onWarning_ = std::move(onWarning);

  bool anyRoot = false;
  for (const auto& root : options_.paths) {
    struct stat st {};
    if (lstat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) anyRoot = true;
  }
  if (!anyRoot) {
    if (onWarning_) onWarning_("File watcher: none of the watched folders exists; no changes are reported");
    return false;
  }
  inotify_ = UniqueFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  wake_ = UniqueFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!inotify_ || !wake_) {
    if (onWarning_) onWarning_(std::string("File watcher: cannot start inotify: ") + std::strerror(errno));
    inotify_.reset();
    wake_.reset();
    return false;
  }
  {
    std::lock_guard lock(readyMutex_);
    ready_ = false;
    publishedWatches_ = 0;
  }
  pathByWd_.clear();
  wdByPath_.clear();
  movedFrom_.clear();
  pending_.clear();
  pendingSeen_.clear();
  degraded_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void InotifyEventStream::stop() {
  if (!thread_.joinable()) return;
  uint64_t one = 1;
  ssize_t ignored = write(wake_.get(), &one, sizeof one);
  (void)ignored;
  thread_.join();
  inotify_.reset();
  wake_.reset();
}

bool InotifyEventStream::waitUntilWatching(std::chrono::milliseconds timeout) {
  std::unique_lock lock(readyMutex_);
  return readyChanged_.wait_for(lock, timeout, [this] { return ready_; });
}

size_t InotifyEventStream::watchCount() const {
  std::lock_guard lock(readyMutex_);
  return publishedWatches_;
}

void InotifyEventStream::run() {
  for (const auto& root : options_.paths) addTree(root, false);
  {
    std::lock_guard lock(readyMutex_);
    ready_ = true;
    publishedWatches_ = wdByPath_.size();
  }
  readyChanged_.notify_all();

  for (;;) {
    pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {inotify_.get(), POLLIN, 0}};
    int ready = poll(fds, 2, pollTimeoutMs());
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      // Stopping: what the kernel queued and what is gathered is handed
      // over now, so that a change made just before a quit is not lost.
      readEvents();
      movedFrom_.clear();
      deliverIfDue(true);
      break;
    }
    if (ready > 0 && (fds[1].revents & POLLIN)) readEvents();

    // Both halves of a rename are queued together, so once the queue is
    // drained a folder still unpaired has left the watched tree.
    if (!movedFrom_.empty()) {
      for (const auto& [cookie, path] : movedFrom_) removeSubtree(path);
      movedFrom_.clear();
    }
    if (degraded_ && std::chrono::steady_clock::now() >= nextDegradedRescan_) {
      for (const auto& root : options_.paths) emit(root, FileEventFlag::kMustScanSubDirs | FileEventFlag::kUserDropped);
      nextDegradedRescan_ = std::chrono::steady_clock::now() + options_.degradedRescanInterval;
    }
    {
      std::lock_guard lock(readyMutex_);
      publishedWatches_ = wdByPath_.size();
    }
    deliverIfDue(false);
  }
}

int InotifyEventStream::pollTimeoutMs() const {
  auto now = std::chrono::steady_clock::now();
  std::optional<SteadyTime> deadline;
  if (!pending_.empty()) deadline = pendingSince_ + options_.latency;
  if (degraded_ && (!deadline || nextDegradedRescan_ < *deadline)) deadline = nextDegradedRescan_;
  if (!deadline) return -1;
  if (*deadline <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
  return ms > 60000 ? 60000 : static_cast<int>(ms);
}

void InotifyEventStream::readEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    ssize_t length = read(inotify_.get(), buffer, sizeof buffer);
    if (length <= 0) return;  // EAGAIN: drained
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      handleEvent(event->wd, event->mask, event->cookie, event->len ? event->name : nullptr);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void InotifyEventStream::handleEvent(int wd, uint32_t mask, uint32_t cookie, const char* name) {
  using namespace FileEventFlag;
  if (mask & IN_Q_OVERFLOW) {
    if (onWarning_)
      onWarning_("File watcher: the event queue overflowed and changes were lost; rescanning the watched folders");
    for (const auto& root : options_.paths) {
      emit(root, kMustScanSubDirs | kKernelDropped);
      // Folders created while events were lost have no watch yet.
      addTree(root, false);
    }
    return;
  }
  auto found = pathByWd_.find(wd);
  if (found == pathByWd_.end()) return;
  const std::string folder = found->second;
  if (mask & IN_IGNORED) {
    auto byPath = wdByPath_.find(folder);
    if (byPath != wdByPath_.end() && byPath->second == wd) wdByPath_.erase(byPath);
    pathByWd_.erase(found);
    return;
  }
  if (!name) {
    // Events about a watched folder itself; its parent reports the same change
    // by name, except for the roots.
    bool isRoot = false;
    for (const auto& root : options_.paths) isRoot = isRoot || root == folder;
    if (isRoot && (mask & (IN_DELETE_SELF | IN_MOVE_SELF))) emit(folder, kRootChanged | kItemIsDir);
    return;
  }
  std::string path = folder == "/" ? "/" + std::string(name) : folder + "/" + name;
  if (isIgnored(path)) return;
  const bool isDir = mask & IN_ISDIR;
  const uint32_t kind = isDir ? kItemIsDir : kItemIsFile;

  if (mask & IN_CREATE) {
    emit(path, kItemCreated | kind);
    if (isDir) addTree(path, true);
  }
  if (mask & IN_DELETE) emit(path, kItemRemoved | kind);
  if (mask & IN_MOVED_FROM) {
    emit(path, kItemRenamed | kind);
    if (isDir) movedFrom_[cookie] = path;
  }
  if (mask & IN_MOVED_TO) {
    emit(path, kItemRenamed | kind);
    if (isDir) {
      auto from = movedFrom_.find(cookie);
      if (from != movedFrom_.end()) {
        renameSubtree(from->second, path);
        movedFrom_.erase(from);
      } else {
        addTree(path, false);
      }
    }
  }
  if (mask & (IN_MODIFY | IN_CLOSE_WRITE)) emit(path, kItemModified | kind);
  if (mask & IN_ATTRIB) emit(path, kItemInodeMetaMod | kind);
}

void InotifyEventStream::addTree(const std::string& root, bool reportContents) {
  using namespace FileEventFlag;
  if (degraded_ || isIgnored(root) || !addWatch(root)) return;
  DirectoryWalker::walk(
      root,
      [&](const DirectoryWalker::Entry& entry) {
        std::string path(entry.path);
        if (isIgnored(path)) return DirectoryWalker::Action::kSkipDescendants;
        if (entry.kind == DirectoryWalker::Kind::kDirectory) {
          if (reportContents) emit(path, kItemCreated | kItemIsDir);
          return addWatch(path) ? DirectoryWalker::Action::kContinue : DirectoryWalker::Action::kStop;
        }
        if (reportContents) emit(path, kItemCreated | kItemIsFile);
        return DirectoryWalker::Action::kContinue;
      },
      // A folder we cannot read cannot be watched either; its changes are
      // invisible to us as they are to a scan.
      [](const std::string&, int) {});
}

bool InotifyEventStream::addWatch(const std::string& path) {
  if (degraded_) return false;
  int wd = -1;
  if (options_.watchLimitForTesting && wdByPath_.size() >= options_.watchLimitForTesting && !wdByPath_.count(path)) {
    errno = ENOSPC;
  } else {
    wd = inotify_add_watch(inotify_.get(), path.c_str(), kWatchMask);
  }
  if (wd < 0) {
    if (errno == ENOSPC) {
      enterDegraded();
      return false;
    }
    return true;  // vanished or unreadable: nothing to watch, go on
  }
  auto previous = pathByWd_.find(wd);
  if (previous != pathByWd_.end() && previous->second != path) wdByPath_.erase(previous->second);
  pathByWd_[wd] = path;
  wdByPath_[path] = wd;
  return true;
}

void InotifyEventStream::renameSubtree(const std::string& from, const std::string& to) {
  std::vector<std::pair<std::string, int>> moved;
  for (auto it = wdByPath_.lower_bound(from); it != wdByPath_.end() && isUnder(it->first, from);) {
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    it = wdByPath_.erase(it);
  }
  for (auto& [path, wd] : moved) {
    pathByWd_[wd] = path;
    wdByPath_[path] = wd;
  }
}

void InotifyEventStream::removeSubtree(const std::string& path) {
  for (auto it = wdByPath_.lower_bound(path); it != wdByPath_.end() && isUnder(it->first, path);) {
    inotify_rm_watch(inotify_.get(), it->second);
    pathByWd_.erase(it->second);
    it = wdByPath_.erase(it);
  }
}

void InotifyEventStream::enterDegraded() {
  if (degraded_) return;
  degraded_ = true;
  nextDegradedRescan_ = std::chrono::steady_clock::now() + options_.degradedRescanInterval;
  size_t limit = options_.watchLimitForTesting ? options_.watchLimitForTesting : kernelWatchLimit();
  if (onWarning_) {
    onWarning_(
        "File watcher: the inotify watch table is full (fs.inotify.max_user_watches = " + std::to_string(limit) + ", " +
        std::to_string(wdByPath_.size()) + " folders watched); the other folders are rescanned every " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(options_.degradedRescanInterval).count()) +
        " s instead. To watch them all, raise the limit: sudo sysctl fs.inotify.max_user_watches=524288 "
        "(and add that line to /etc/sysctl.d/90-inotify.conf to keep it)");
  }
}

void InotifyEventStream::emit(const std::string& path, uint32_t flags) {
  if (!pendingSeen_.emplace(path, flags).second) return;
  if (pending_.empty()) pendingSince_ = std::chrono::steady_clock::now();
  pending_.push_back(FileEvent{path, flags});
}

void InotifyEventStream::deliverIfDue(bool force) {
  if (pending_.empty()) return;
  if (!force && std::chrono::steady_clock::now() < pendingSince_ + options_.latency) return;
  std::vector<FileEvent> batch;
  batch.swap(pending_);
  pendingSeen_.clear();
  if (onEvents_) onEvents_(batch);
}

bool InotifyEventStream::isIgnored(const std::string& path) const {
  for (const auto& ignored : options_.ignoredPaths) {
    if (isUnder(path, ignored)) return true;
  }
  return false;
}

}  // namespace palvero
