#include "engine/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"

namespace palvero {
namespace {

constexpr unsigned kIdentityMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME;

struct timespec toTimespec(const struct statx_timestamp& t) {
  struct timespec out {};
  out.tv_sec = t.tv_sec;
  out.tv_nsec = t.tv_nsec;
  return out;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

Date dateOf(const struct timespec& t) {
  return Date(Date::TimePoint(std::chrono::microseconds(int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000)));
}

SourceFile::Kind identityFrom(const struct statx& st, SourceFile::Identity& identity) {
  if (!S_ISREG(st.stx_mode)) return SourceFile::Kind::kNotRegular;
  identity.device = makedev(st.stx_dev_major, st.stx_dev_minor);
  identity.inode = st.stx_ino;
  identity.size = static_cast<int64_t>(st.stx_size);
  identity.modified = toTimespec(st.stx_mtime);
  identity.statusChanged = toTimespec(st.stx_ctime);
  identity.created.reset();
  if (st.stx_mask & STATX_BTIME) identity.created = toTimespec(st.stx_btime);
  return SourceFile::Kind::kRegular;
}

}  // namespace

bool SourceFile::Identity::sameAs(const Identity& other) const {
  return device == other.device && inode == other.inode && size == other.size && sameTime(modified, other.modified) &&
         sameTime(statusChanged, other.statusChanged);
}

Date SourceFile::Identity::changeTime() const {
  Date modifiedDate = dateOf(modified);
  if (!created) return modifiedDate;
  Date createdDate = dateOf(*created);
  return createdDate > modifiedDate ? createdDate : modifiedDate;
}

SourceFile::Kind SourceFile::inspect(const std::string& path, Identity& identity, int* error) {
  struct statx st {};
  if (FileSystem::current().statusX(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, kIdentityMask, st) != 0) {
    int code = errno;
    if (error) *error = code;
    return code == ENOENT || code == ENOTDIR ? Kind::kMissing : Kind::kUnreadable;
  }
  Kind kind = identityFrom(st, identity);
  if (kind != Kind::kRegular && error) *error = 0;
  return kind;
}

bool SourceFile::open(const std::string& path, const Identity& expected, std::string& reason) {
  FileSystem& fs = FileSystem::current();
  fd_ = UniqueFd(fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd_) {
    reason = std::strerror(errno);
    return false;
  }
  struct statx st {};
  Identity now;
  if (fs.statusX(fd_.get(), "", AT_EMPTY_PATH, kIdentityMask, st) != 0) {
    reason = std::strerror(errno);
  } else if (identityFrom(st, now) != Kind::kRegular) {
    reason = "not a regular file";
  } else if (!now.sameAs(expected)) {
    reason = "the file changed after it was cut";
  } else {
    return true;
  }
  fd_.reset();
  return false;
}

bool SourceFile::readExactly(int64_t offset, int64_t length, Bytes& out, std::string& reason) {
  FileSystem& fs = FileSystem::current();
  out.resize(static_cast<size_t>(length));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = fs.readAt(fd_.get(), out.data() + done, out.size() - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      return false;
    }
    if (n == 0) {
      reason = "only " + std::to_string(done) + " of " + std::to_string(length) + " bytes at offset " +
               std::to_string(offset);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace palvero
