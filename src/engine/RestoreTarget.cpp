#include "engine/RestoreTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "base/StringFormat.h"

namespace palvero {
namespace {

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string randomSuffix() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  return stringWithFormat("%012llx", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
}

struct timespec timespecOf(const Date& date) {
  auto micros = date.timePoint().time_since_epoch().count();
  struct timespec out {};
  out.tv_sec = static_cast<time_t>(micros / 1000000);
  out.tv_nsec = static_cast<long>((micros % 1000000) * 1000);
  if (out.tv_nsec < 0) {
    out.tv_nsec += 1000000000;
    out.tv_sec -= 1;
  }
  return out;
}

}  // namespace

RestoreTarget::~RestoreTarget() { discard(); }

bool RestoreTarget::create(const std::string& finalPath, std::string& error) {
  discard();
  std::string folder = folderOf(finalPath);
  for (int tries = 0; tries < 16; ++tries) {
    std::string candidate = folder + "/.pvrestore-" + randomSuffix();
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = UniqueFd(fd);
      finalPath_ = finalPath;
      temporaryPath_ = std::move(candidate);
      written_ = 0;
      return true;
    }
    if (errno != EEXIST) {
      error = std::strerror(errno);
      return false;
    }
  }
  error = "no free temporary name";
  return false;
}

bool RestoreTarget::append(std::span<const uint8_t> data, std::string& error) {
  if (!fd_) {
    error = "no file open";
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd_.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  written_ += static_cast<int64_t>(data.size());
  return true;
}

bool RestoreTarget::commit(const std::optional<Date>& modified, std::string& error) {
  if (!fd_) {
    error = "no file open";
    return false;
  }
  if (modified) {
    struct timespec times[2] = {timespecOf(*modified), timespecOf(*modified)};
    if (::futimens(fd_.get(), times) != 0) {
      error = std::strerror(errno);
      return false;
    }
  }
  struct stat existing {};
  bool replacing = ::lstat(finalPath_.c_str(), &existing) == 0;
  if (replacing && ::fdatasync(fd_.get()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fd_.close() != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  temporaryPath_.clear();
  return true;
}

void RestoreTarget::discard() {
  fd_.reset();
  if (!temporaryPath_.empty()) {
    ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

}  // namespace palvero
