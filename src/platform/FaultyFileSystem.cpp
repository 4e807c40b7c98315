#include "platform/FaultyFileSystem.h"

namespace palvero {

void FaultyFileSystem::add(FsFaultRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back({std::move(rule), 0});
}

void FaultyFileSystem::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
  calls_.clear();
  injected_ = 0;
}

int FaultyFileSystem::calls(FsOperation operation) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

int FaultyFileSystem::injected() const {
  std::lock_guard lock(mutex_);
  return injected_;
}

FaultyFileSystem::Verdict FaultyFileSystem::decide(FsOperation operation, const std::string& path) {
  std::lock_guard lock(mutex_);
  ++calls_[operation];
  ++calls_[FsOperation::kAny];
  Verdict verdict = Verdict::kPass;
  int error = 0;
  for (Rule& entry : rules_) {
    const FsFaultRule& rule = entry.rule;
    if (rule.operation != FsOperation::kAny && rule.operation != operation) continue;
    if (!rule.path.empty() && path.find(rule.path) == std::string::npos) continue;
    ++entry.matched;
    if (verdict != Verdict::kPass || entry.matched < rule.nth || entry.matched - rule.nth >= rule.count) continue;
    switch (rule.fault) {
      case FsFault::kNoSpace:
        error = ENOSPC;
        break;
      case FsFault::kIOError:
        error = EIO;
        break;
      case FsFault::kError:
        error = rule.error;
        break;
      case FsFault::kShortWrite:
        if (operation == FsOperation::kWrite) verdict = Verdict::kShorten;
        continue;
    }
    verdict = Verdict::kFail;
  }
  if (verdict != Verdict::kPass) ++injected_;
  if (verdict == Verdict::kFail) errno = error;
  return verdict;
}

std::string FaultyFileSystem::pathOf(int fd) {
  std::lock_guard lock(mutex_);
  auto it = openPaths_.find(fd);
  return it == openPaths_.end() ? std::string() : it->second;
}

std::string FaultyFileSystem::pathAt(int folder, const std::string& name) {
  if (folder == AT_FDCWD || (!name.empty() && name.front() == '/')) return name;
  std::string base = pathOf(folder);
  if (name.empty()) return base;
  return base.empty() ? name : base + "/" + name;
}

void FaultyFileSystem::remember(int fd, const std::string& path) {
  if (fd < 0) return;
  std::lock_guard lock(mutex_);
  openPaths_[fd] = path;
}

void FaultyFileSystem::forget(int fd) {
  std::lock_guard lock(mutex_);
  openPaths_.erase(fd);
}

template <typename Call>
auto FaultyFileSystem::guarded(FsOperation operation, const std::string& path, Call call) -> decltype(call()) {
  if (decide(operation, path) == Verdict::kFail) return -1;
  return call();
}

int FaultyFileSystem::open(const std::string& path, int flags, unsigned mode) {
  int fd = guarded(FsOperation::kOpen, path, [&] { return real_.open(path, flags, mode); });
  remember(fd, path);
  return fd;
}

int FaultyFileSystem::openAt(int folder, const std::string& name, int flags, unsigned mode) {
  std::string path = pathAt(folder, name);
  int fd = guarded(FsOperation::kOpen, path, [&] { return real_.openAt(folder, name, flags, mode); });
  remember(fd, path);
  return fd;
}

int FaultyFileSystem::close(int fd) {
  std::string path = pathOf(fd);
  forget(fd);
  // A failed close still releases the descriptor, as close(2) does.
  if (decide(FsOperation::kClose, path) == Verdict::kFail) {
    int error = errno;
    real_.close(fd);
    errno = error;
    return -1;
  }
  return real_.close(fd);
}

ssize_t FaultyFileSystem::read(int fd, void* buffer, size_t size) {
  return guarded(FsOperation::kRead, pathOf(fd), [&] { return real_.read(fd, buffer, size); });
}

ssize_t FaultyFileSystem::readAt(int fd, void* buffer, size_t size, int64_t offset) {
  return guarded(FsOperation::kRead, pathOf(fd), [&] { return real_.readAt(fd, buffer, size, offset); });
}

ssize_t FaultyFileSystem::write(int fd, const void* data, size_t size) {
  Verdict verdict = decide(FsOperation::kWrite, pathOf(fd));
  if (verdict == Verdict::kFail) return -1;
  if (verdict == Verdict::kShorten && size > 1) size /= 2;
  return real_.write(fd, data, size);
}

int64_t FaultyFileSystem::seek(int fd, int64_t offset, int whence) {
  return guarded(FsOperation::kSeek, pathOf(fd), [&] { return real_.seek(fd, offset, whence); });
}

// A kernel copy reads one file and writes the other: a rule on either fails it.
ssize_t FaultyFileSystem::copyRange(int from, int64_t fromOffset, int to, int64_t toOffset, size_t size) {
  if (decide(FsOperation::kRead, pathOf(from)) == Verdict::kFail) return -1;
  Verdict verdict = decide(FsOperation::kWrite, pathOf(to));
  if (verdict == Verdict::kFail) return -1;
  if (verdict == Verdict::kShorten && size > 1) size /= 2;
  return real_.copyRange(from, fromOffset, to, toOffset, size);
}

int FaultyFileSystem::clone(int to, int from) {
  return guarded(FsOperation::kWrite, pathOf(to), [&] { return real_.clone(to, from); });
}

int FaultyFileSystem::sync(int fd, bool dataOnly) {
  return guarded(FsOperation::kSync, pathOf(fd), [&] { return real_.sync(fd, dataOnly); });
}

int FaultyFileSystem::rename(const std::string& from, const std::string& to) {
  return guarded(FsOperation::kRename, from + "\n" + to, [&] { return real_.rename(from, to); });
}

int FaultyFileSystem::renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
  std::string paths = pathAt(fromFolder, from) + "\n" + pathAt(toFolder, to);
  return guarded(FsOperation::kRename, paths, [&] { return real_.renameAt(fromFolder, from, toFolder, to); });
}

int FaultyFileSystem::unlink(const std::string& path) {
  return guarded(FsOperation::kUnlink, path, [&] { return real_.unlink(path); });
}

int FaultyFileSystem::unlinkAt(int folder, const std::string& name, int flags) {
  return guarded(FsOperation::kUnlink, pathAt(folder, name), [&] { return real_.unlinkAt(folder, name, flags); });
}

int FaultyFileSystem::mkdir(const std::string& path, unsigned mode) {
  return guarded(FsOperation::kMkdir, path, [&] { return real_.mkdir(path, mode); });
}

int FaultyFileSystem::mkdirAt(int folder, const std::string& name, unsigned mode) {
  return guarded(FsOperation::kMkdir, pathAt(folder, name), [&] { return real_.mkdirAt(folder, name, mode); });
}

int FaultyFileSystem::status(const std::string& path, struct stat& out, bool followLinks) {
  return guarded(FsOperation::kStatus, path, [&] { return real_.status(path, out, followLinks); });
}

int FaultyFileSystem::statusAt(int folder, const std::string& name, struct stat& out, int flags) {
  return guarded(FsOperation::kStatus, pathAt(folder, name), [&] { return real_.statusAt(folder, name, out, flags); });
}

int FaultyFileSystem::status(int fd, struct stat& out) {
  return guarded(FsOperation::kStatus, pathOf(fd), [&] { return real_.status(fd, out); });
}

int FaultyFileSystem::statusX(int folder, const std::string& path, int flags, unsigned mask, struct statx& out) {
  return guarded(FsOperation::kStatus, pathAt(folder, path),
                 [&] { return real_.statusX(folder, path, flags, mask, out); });
}

int FaultyFileSystem::chmod(int fd, unsigned mode) {
  return guarded(FsOperation::kAttributes, pathOf(fd), [&] { return real_.chmod(fd, mode); });
}

int FaultyFileSystem::setTimes(int fd, const struct timespec times[2]) {
  return guarded(FsOperation::kAttributes, pathOf(fd), [&] { return real_.setTimes(fd, times); });
}

int FaultyFileSystem::setTimesAt(int folder, const std::string& path, const struct timespec times[2], int flags) {
  return guarded(FsOperation::kAttributes, pathAt(folder, path),
                 [&] { return real_.setTimesAt(folder, path, times, flags); });
}

}  // namespace palvero
