// The real file system: each call is the POSIX call of the same shape.
// Stateless; safe from any thread.
#pragma once

#include "platform/FileSystem.h"

namespace palvero {

class PosixFileSystem : public FileSystem {
 public:
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
};

}  // namespace palvero
