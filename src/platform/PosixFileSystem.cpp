#include "platform/PosixFileSystem.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace palvero {

int PosixFileSystem::open(const std::string& path, int flags, unsigned mode) {
  return ::open(path.c_str(), flags, mode);
}

int PosixFileSystem::openAt(int folder, const std::string& name, int flags, unsigned mode) {
  return ::openat(folder, name.c_str(), flags, mode);
}

int PosixFileSystem::close(int fd) { return ::close(fd); }

ssize_t PosixFileSystem::read(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }

ssize_t PosixFileSystem::readAt(int fd, void* buffer, size_t size, int64_t offset) {
  return ::pread(fd, buffer, size, static_cast<off_t>(offset));
}

ssize_t PosixFileSystem::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }

int64_t PosixFileSystem::seek(int fd, int64_t offset, int whence) {
  return ::lseek(fd, static_cast<off_t>(offset), whence);
}

ssize_t PosixFileSystem::copyRange(int from, int64_t fromOffset, int to, int64_t toOffset, size_t size) {
  loff_t in = fromOffset;
  loff_t out = toOffset;
  return ::copy_file_range(from, &in, to, &out, size, 0);
}

int PosixFileSystem::clone(int to, int from) { return ::ioctl(to, FICLONE, from); }

int PosixFileSystem::sync(int fd, bool dataOnly) { return dataOnly ? ::fdatasync(fd) : ::fsync(fd); }

int PosixFileSystem::rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

int PosixFileSystem::renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
  return ::renameat(fromFolder, from.c_str(), toFolder, to.c_str());
}

int PosixFileSystem::unlink(const std::string& path) { return ::unlink(path.c_str()); }

int PosixFileSystem::unlinkAt(int folder, const std::string& name, int flags) {
  return ::unlinkat(folder, name.c_str(), flags);
}

int PosixFileSystem::mkdir(const std::string& path, unsigned mode) { return ::mkdir(path.c_str(), mode); }

int PosixFileSystem::mkdirAt(int folder, const std::string& name, unsigned mode) {
  return ::mkdirat(folder, name.c_str(), mode);
}

int PosixFileSystem::status(const std::string& path, struct stat& out, bool followLinks) {
  return followLinks ? ::stat(path.c_str(), &out) : ::lstat(path.c_str(), &out);
}

int PosixFileSystem::statusAt(int folder, const std::string& name, struct stat& out, int flags) {
  return ::fstatat(folder, name.c_str(), &out, flags);
}

int PosixFileSystem::status(int fd, struct stat& out) { return ::fstat(fd, &out); }

int PosixFileSystem::statusX(int folder, const std::string& path, int flags, unsigned mask, struct statx& out) {
  return ::statx(folder, path.c_str(), flags, mask, &out);
}

int PosixFileSystem::chmod(int fd, unsigned mode) { return ::fchmod(fd, mode); }

int PosixFileSystem::setTimes(int fd, const struct timespec times[2]) { return ::futimens(fd, times); }

int PosixFileSystem::setTimesAt(int folder, const std::string& path, const struct timespec times[2], int flags) {
  return ::utimensat(folder, path.c_str(), times, flags);
}

}  // namespace palvero
