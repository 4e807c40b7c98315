#include "engine/PrivateCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace {

// Room kept free on the scratch volume besides the copy itself.
constexpr int64_t kSpareBytes = 16 * 1024 * 1024;

// Copies `length` bytes from `from` to `to` (both at offset 0); the
// kernel's copy first, plain reads where it cannot.
bool copyBytes(FileSystem& fs, int from, int to, int64_t length, std::string& reason) {
  int64_t done = 0;
  bool kernelCopy = true;
  std::vector<char> buffer;
  while (done < length) {
    size_t want = static_cast<size_t>(std::min<int64_t>(length - done, 8 * 1024 * 1024));
    ssize_t n = -1;
    if (kernelCopy) {
      n = fs.copyRange(from, done, to, done, want);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
        kernelCopy = false;
        continue;
      }
    } else {
      buffer.resize(want);
      n = fs.readAt(from, buffer.data(), want, done);
      if (n > 0 && (fs.seek(to, done, SEEK_SET) != done || !fs.writeAll(to, buffer.data(), static_cast<size_t>(n)))) {
        reason = std::string("the private copy could not be written: ") + std::strerror(errno);
        return false;
      }
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::string("the private copy could not be made: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) break;  // the file shrank meanwhile: the copy holds what was there
    done += n;
  }
  return true;
}

}  // namespace

PrivateCopy::PrivateCopy(FreeSpace freeSpace) : freeSpace_(std::move(freeSpace)) {
  if (!freeSpace_) freeSpace_ = [](const std::string& folder) { return Functions::getFreeDiskspaceForPath(folder); };
}

PrivateCopy::~PrivateCopy() { remove(); }

void PrivateCopy::remove() {
  if (!path_.empty()) FileSystem::current().unlink(path_);
  path_.clear();
}

bool PrivateCopy::make(const std::string& source, const std::string& folder, std::string& reason) {
  remove();
  reflinked_ = false;
  FileSystem& fs = FileSystem::current();
  UniqueFd from(fs.open(source, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!from) {
    reason = std::string("it could not be opened for a private copy: ") + std::strerror(errno);
    return false;
  }
  int error = 0;
  if (SourceFile::inspect(source, sourceIdentity_, &error) != SourceFile::Kind::kRegular) {
    reason = "it is no longer a regular file";
    return false;
  }
  struct stat st {};
  if (fs.status(from.get(), st) != 0 || !S_ISREG(st.st_mode)) {
    reason = "it is no longer a regular file";
    return false;
  }
  std::string target = folder + "/private-copy-" + std::to_string(::getpid()) + "-" +
                       std::to_string(reinterpret_cast<uintptr_t>(this));
  fs.unlink(target);
  UniqueFd to(fs.open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!to) {
    reason = std::string("the private copy could not be created: ") + std::strerror(errno);
    return false;
  }
  path_ = target;
  // A reflink shares the extents at this instant: nothing is copied and it
  // takes no room.
  if (fs.clone(to.get(), from.get()) == 0) {
    reflinked_ = true;
  } else {
    int64_t size = st.st_size;
    int64_t free = freeSpace_(folder);
    if (free >= 0 && size + kSpareBytes > free) {
      reason = stringWithFormat("it is too large for a private copy (%lld bytes, %lld free in %s)",
                                static_cast<long long>(size), static_cast<long long>(free), folder.c_str());
      remove();
      return false;
    }
    if (!copyBytes(fs, from.get(), to.get(), size, reason)) {
      remove();
      return false;
    }
  }
  // The copy carries the source's modification time.
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  fs.setTimes(to.get(), times);
  // Written blocks can still fail at close (a full disk over NFS, say).
  if (fs.close(to.release()) != 0) {
    reason = std::string("the private copy could not be written: ") + std::strerror(errno);
    remove();
    return false;
  }
  return true;
}

}  // namespace palvero
