// A file system that fails on purpose, for tests of what the client does
// when the disk does: each rule names an operation, optionally a path (a
// part of it; a descriptor counts with the path it was opened with), the
// n-th matching call that fails first, how many fail from there, and the
// fault. Calls no rule fails go to the real file system.
//
//   FaultyFileSystem faults;
//   faults.add(FsFaultRule().on(FsOperation::kWrite).under("/restore/").from(3).with(FsFault::kNoSpace));
//   ScopedFileSystem installed(faults);
//
// Thread contract: safe from any thread (one mutex guards the rules,
// counters and the descriptor table).
#pragma once

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/PosixFileSystem.h"

namespace palvero {

enum class FsOperation {
  kAny,
  kOpen,
  kRead,
  kWrite,
  kSeek,
  kSync,
  kClose,
  kRename,
  kUnlink,
  kMkdir,
  kStatus,
  kAttributes
};

enum class FsFault {
  kNoSpace,     // ENOSPC
  kIOError,     // EIO
  kShortWrite,  // a write takes half of what it is given (at least one byte) and says so
  kError,       // the rule's `error`
};

struct FsFaultRule {
  static constexpr int kForever = INT_MAX;

  FsOperation operation = FsOperation::kAny;
  std::string path;  // empty: any path
  int nth = 1;       // 1: the first matching call
  int count = 1;
  FsFault fault = FsFault::kIOError;
  int error = EIO;

  FsFaultRule& on(FsOperation value) {
    operation = value;
    return *this;
  }
  FsFaultRule& under(std::string value) {
    path = std::move(value);
    return *this;
  }
  FsFaultRule& from(int value) {
    nth = value;
    return *this;
  }
  FsFaultRule& times(int value) {
    count = value;
    return *this;
  }
  FsFaultRule& with(FsFault value) {
    fault = value;
    return *this;
  }
  FsFaultRule& withError(int value) {
    fault = FsFault::kError;
    error = value;
    return *this;
  }
};

class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem() = default;

  void add(FsFaultRule rule);
  void clear();
  // Calls seen of `operation` (every call for kAny) since the last clear(),
  // failed or not.
  int calls(FsOperation operation = FsOperation::kAny) const;
  // Faults injected since the last clear().
  int injected() const;

  int open(const std::string& path, int flags, unsigned mode = 0) override;
  int openAt(int folder, const std::string& name, int flags, unsigned mode = 0) override;
  int close(int fd) override;
  ssize_t read(int fd, void* buffer, size_t size) override;
  ssize_t readAt(int fd, void* buffer, size_t size, int64_t offset) override;
  ssize_t write(int fd, const void* data, size_t size) override;
  int64_t seek(int fd, int64_t offset, int whence) override;
  ssize_t copyRange(int from, int64_t fromOffset, int to, int64_t toOffset, size_t size) override;
  int clone(int to, int from) override;
  int sync(int fd, bool dataOnly = false) override;
  int rename(const std::string& from, const std::string& to) override;
  int renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to) override;
  int unlink(const std::string& path) override;
  int unlinkAt(int folder, const std::string& name, int flags = 0) override;
  int mkdir(const std::string& path, unsigned mode) override;
  int mkdirAt(int folder, const std::string& name, unsigned mode) override;
  int status(const std::string& path, struct stat& out, bool followLinks) override;
  int statusAt(int folder, const std::string& name, struct stat& out, int flags) override;
  int status(int fd, struct stat& out) override;
  int statusX(int folder, const std::string& path, int flags, unsigned mask, struct statx& out) override;
  int chmod(int fd, unsigned mode) override;
  int setTimes(int fd, const struct timespec times[2]) override;
  int setTimesAt(int folder, const std::string& path, const struct timespec times[2], int flags) override;

 private:
  struct Rule {
    FsFaultRule rule;
    int matched = 0;
  };
  enum class Verdict { kPass, kFail, kShorten };

  // Counts the call and decides its fate; on kFail errno is already set.
  Verdict decide(FsOperation operation, const std::string& path);
  std::string pathOf(int fd);
  std::string pathAt(int folder, const std::string& name);
  void remember(int fd, const std::string& path);
  void forget(int fd);
  // -1 with errno set when the call is failed, otherwise `call()`.
  template <typename Call>
  auto guarded(FsOperation operation, const std::string& path, Call call) -> decltype(call());

  PosixFileSystem real_;
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;               // guarded by mutex_
  std::map<FsOperation, int> calls_;      // guarded by mutex_
  int injected_ = 0;                      // guarded by mutex_
  std::map<int, std::string> openPaths_;  // guarded by mutex_
};

// Installs a file system for the lifetime of the object.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fileSystem) : previous_(FileSystem::install(&fileSystem)) {}
  ~ScopedFileSystem() { FileSystem::install(previous_); }
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

}  // namespace palvero
