#include "platform/FileSystem.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/PosixFileSystem.h"

namespace palvero {
namespace {

PosixFileSystem& realFileSystem() {
  static auto* real = new PosixFileSystem();
  return *real;
}

std::atomic<FileSystem*> gInstalled{nullptr};

}  // namespace

FileSystem& FileSystem::current() {
  FileSystem* installed = gInstalled.load(std::memory_order_acquire);
  return installed ? *installed : realFileSystem();
}

FileSystem* FileSystem::install(FileSystem* fileSystem) {
  return gInstalled.exchange(fileSystem, std::memory_order_acq_rel);
}

bool FileSystem::writeAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool FileSystem::readAll(int fd, std::string& out) {
  out.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
}

bool FileSystem::makeFolders(const std::string& path, unsigned mode) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    if (path[i - 1] == '/') continue;
    if (mkdir(path.substr(0, i), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  if (status(path, st, true) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace palvero
