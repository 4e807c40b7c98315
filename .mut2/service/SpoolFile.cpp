#include "SpoolFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "Random.h"

namespace palvero::service {
namespace {

constexpr size_t kBufferBytes = 256 * 1024;

[[noreturn]] void ioFailure(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

SpoolFile::SpoolFile(const std::string& dir) {
  fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    namedPath_ = dir + "/" + randomHex(12) + ".spool";
    fd_ = ::open(namedPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  if (fd_ < 0) ioFailure("cannot spool in", dir);
  buffer_.reserve(kBufferBytes);
}

SpoolFile::~SpoolFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!namedPath_.empty()) ::unlink(namedPath_.c_str());
}

namespace {

void writeAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ioFailure("write", "spool file");
    done += static_cast<size_t>(n);
  }
}

}  // namespace

void SpoolFile::flushBuffer() {
  md5_.update(buffer_.data(), buffer_.size());
  writeAll(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
}

void SpoolFile::append(const char* data, size_t size) {
  size_ += static_cast<int64_t>(size);
  while (size > 0) {
    size_t room = kBufferBytes - buffer_.size();
    size_t taken = std::min(room, size);
    buffer_.insert(buffer_.end(), data, data + taken);
    data += taken;
    size -= taken;
    if (buffer_.size() == kBufferBytes) flushBuffer();
  }
}

void SpoolFile::finish() {
  flushBuffer();
  md5Text_ = md5_.finish();
  // Starts writing to disk now, so that a later flush mostly waits for
  // nothing.
  ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

std::string SpoolFile::readAll() const {
  std::string out(static_cast<size_t>(size_), '\0');
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ioFailure("read", "spool file");
    done += static_cast<size_t>(n);
  }
  return out;
}

void SpoolFile::sync() {
  if (::fsync(fd_) != 0) ioFailure("fsync", "spool file");
}

bool SpoolFile::linkTo(const std::string& target) {
  int rc;
  if (namedPath_.empty()) {
    std::string self = "/proc/self/fd/" + std::to_string(fd_);
    rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
  } else {
    rc = ::link(namedPath_.c_str(), target.c_str());
  }
  if (rc == 0) return true;
  if (errno == EEXIST) return false;
  ioFailure("link", target);
}

}  // namespace palvero::service
