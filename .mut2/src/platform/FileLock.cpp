#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace palvero {

FileLock::FileLock(const std::string& path, Mode mode) {
  fd_ = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd_) return;
  int op = LOCK_EX | (mode == Mode::kTry ? LOCK_NB : 0);
  int rc;
  do {
    rc = ::flock(fd_.get(), op);
  } while (rc != 0 && errno == EINTR);
  locked_ = rc == 0;
}

// Closing the descriptor releases the lock.
FileLock::~FileLock() = default;

}  // namespace palvero
