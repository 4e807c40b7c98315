#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/UniqueFd.h"

namespace palvero {
namespace {

std::atomic<unsigned> gTempCounter{0};

std::string dirName(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

bool writeAll(int fd, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool AtomicFile::write(const std::string& path, std::string_view data, unsigned mode, std::string* error) {
  std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(gTempCounter++);
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) return fail(error, "cannot create " + temp);
  bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), data) && ::fsync(fd.get()) == 0;
  if (!written || fd.close() != 0) {
    fail(error, "cannot write " + temp);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    fail(error, "cannot rename " + temp + " to " + path);
    ::unlink(temp.c_str());
    return false;
  }
  UniqueFd dir(::open(dirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return true;
}

bool AtomicFile::read(const std::string& path, std::string& out) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  out.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace palvero
