// The file operations the client makes on the user's files and its own
// (open, read, write, flush, rename, remove, make folder, status), behind one
// interface so that a test can make any of them fail: a full disk, an I/O
// error, a short write, a rename that does not happen (FaultyFileSystem).
//
// The calls keep the POSIX shape: descriptors are plain ints, a failure
// returns -1 (or a short count) with errno set, so callers report
// std::strerror(errno) as before. Names relative to a folder descriptor are
// the *at() forms the confined restore needs.
//
// current() is the real file system unless a test installed another; the
// installed object must outlive every call made through it. Thread contract:
// every call is safe from any thread; install() is for test set-up only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace palvero {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  static FileSystem& current();
  // Makes `fileSystem` (not owned) the current one; nullptr restores the
  // real one. Returns the one it replaced.
  static FileSystem* install(FileSystem* fileSystem);

  virtual int open(const std::string& path, int flags, unsigned mode = 0) = 0;
  virtual int openAt(int folder, const std::string& name, int flags, unsigned mode = 0) = 0;
  virtual int close(int fd) = 0;
  virtual ssize_t read(int fd, void* buffer, size_t size) = 0;
  virtual ssize_t readAt(int fd, void* buffer, size_t size, int64_t offset) = 0;
  virtual ssize_t write(int fd, const void* data, size_t size) = 0;
  virtual int64_t seek(int fd, int64_t offset, int whence) = 0;
  // Copies up to `size` bytes between files inside the kernel
  // (copy_file_range); the count copied, or -1 with errno (EXDEV, ENOSYS,
  // EOPNOTSUPP...: the caller copies by reading instead).
  virtual ssize_t copyRange(int from, int64_t fromOffset, int to, int64_t toOffset, size_t size) = 0;
  // Makes `to` share the extents of `from` (a reflink); -1 with errno where
  // the file system cannot.
  virtual int clone(int to, int from) = 0;
  // Flushes the file's data (and, unless `dataOnly`, its metadata) to disk.
  virtual int sync(int fd, bool dataOnly = false) = 0;
  virtual int rename(const std::string& from, const std::string& to) = 0;
  virtual int renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to) = 0;
  virtual int unlink(const std::string& path) = 0;
  virtual int unlinkAt(int folder, const std::string& name, int flags = 0) = 0;
  virtual int mkdir(const std::string& path, unsigned mode) = 0;
  virtual int mkdirAt(int folder, const std::string& name, unsigned mode) = 0;
  // stat() or, without `followLinks`, lstat().
  virtual int status(const std::string& path, struct stat& out, bool followLinks) = 0;
  virtual int statusAt(int folder, const std::string& name, struct stat& out, int flags) = 0;
  virtual int status(int fd, struct stat& out) = 0;
  virtual int statusX(int folder, const std::string& path, int flags, unsigned mask, struct statx& out) = 0;
  virtual int chmod(int fd, unsigned mode) = 0;
  // Access and modification times, as futimens / utimensat.
  virtual int setTimes(int fd, const struct timespec times[2]) = 0;
  virtual int setTimesAt(int folder, const std::string& path, const struct timespec times[2], int flags) = 0;

  // Writes all of `size` bytes, going on after short writes and EINTR.
  // False with errno set on an error (a write of nothing counts as ENOSPC).
  bool writeAll(int fd, const void* data, size_t size);
  // Reads the whole file from where `fd` stands. False with errno set.
  bool readAll(int fd, std::string& out);
  // mkdir -p: makes `path` and its missing parents with `mode`. False with
  // errno set when something is in the way or cannot be made.
  bool makeFolders(const std::string& path, unsigned mode);
};

}  // namespace palvero
