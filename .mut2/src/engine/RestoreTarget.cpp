#include "engine/RestoreTarget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "base/StringFormat.h"
#include "engine/PathRules.h"
#include "platform/FileSystem.h"

namespace palvero {
namespace {

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

constexpr const char* kTemporaryPrefix = ".pvrestore-";

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

// The "/"-separated components of `relative`, empty ones and "." dropped;
// nothing when one of them is "..".
std::optional<std::vector<std::string>> componentsOf(const std::string& relative) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") out.push_back(std::move(part));
    start = end + 1;
  }
  return out;
}

}  // namespace

RestoreTarget::~RestoreTarget() { discard(); }

UniqueFd RestoreTarget::openFolder(const std::string& path, const std::string& confineTo, bool make,
                                   std::string& error,
                                   unsigned folderMode) {
  FileSystem& fs = FileSystem::current();
  if (confineTo.empty()) {
    UniqueFd fd(fs.open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) error = std::strerror(errno);
    return fd;
  }
  const std::string root = PathRules::withoutTrailingSlashes(confineTo);
  const std::string folder = PathRules::withoutTrailingSlashes(path);
  std::string relative;
  if (folder != root) {
    const std::string prefix = root == "/" ? root : root + "/";
    if (folder.compare(0, prefix.size(), prefix) != 0) {
      error = path + " is outside " + root;
      return UniqueFd();
    }
    relative = folder.substr(prefix.size());
  }
  auto components = componentsOf(relative);
  if (!components) {
    error = path + " leads outside " + root;
    return UniqueFd();
  }
  // The root is the user's choice and may itself be a link; nothing below it is followed.
  UniqueFd current(fs.open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current) {
    error = root + ": " + std::strerror(errno);
    return UniqueFd();
  }
  for (const std::string& part : *components) {
    int next = fs.openAt(current.get(), part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && make) {
      if (fs.mkdirAt(current.get(), part, folderMode) != 0 && errno != EEXIST) {
        error = part + ": " + std::strerror(errno);
        return UniqueFd();
      }
      next = fs.openAt(current.get(), part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      error = (errno == ELOOP || errno == ENOTDIR) ? part + " is a symbolic link or not a folder"
                                                   : part + ": " + std::strerror(errno);
      return UniqueFd();
    }
    current = UniqueFd(next);
  }
  return current;
}

bool RestoreTarget::makeFolder(const std::string& path, const std::string& confineTo, std::string& error) {
  if (!confineTo.empty()) return static_cast<bool>(openFolder(path, confineTo, true, error));
  FileSystem& fs = FileSystem::current();
  const std::string folder = PathRules::withoutTrailingSlashes(path);
  std::string current;
  size_t start = folder.front() == '/' ? 1 : 0;
  if (start == 1) current = "";
  while (start <= folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    current = folder.substr(0, end);
    if (!current.empty() && fs.mkdir(current, 0777) != 0 && errno != EEXIST) {
      error = current + ": " + std::strerror(errno);
      return false;
    }
    start = end + 1;
  }
  struct stat st {};
  if (fs.status(folder, st, false) != 0 || !S_ISDIR(st.st_mode)) {
    error = folder + " exists and is not a folder";
    return false;
  }
  return true;
}

bool RestoreTarget::create(const std::string& finalPath, std::string& error, const std::string& confineTo,
                           unsigned mode) {
  discard();
  // Readable by whoever may read the file, searchable where readable.
  const unsigned folderMode = mode | ((mode & 0444) >> 2);
  folder_ = openFolder(folderOf(finalPath), confineTo, !confineTo.empty(), error, folderMode);
  if (!folder_) return false;
  finalName_ = PathRules::lastComponent(finalPath);
  if (finalName_.empty() || finalName_ == "." || finalName_ == "..") {
    error = "no file name in " + finalPath;
    folder_.reset();
    return false;
  }
  for (int tries = 0; tries < 16; ++tries) {
    std::string candidate = kTemporaryPrefix + randomSuffix();
    int fd = FileSystem::current().openAt(folder_.get(), candidate,
                                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_ = UniqueFd(fd);
      finalPath_ = finalPath;
      temporaryName_ = candidate;
      temporaryPath_ = folderOf(finalPath) + "/" + candidate;
      written_ = 0;
      return true;
    }
    if (errno != EEXIST) {
      error = std::strerror(errno);
      folder_.reset();
      return false;
    }
  }
  error = "no free temporary name";
  folder_.reset();
  return false;
}

bool RestoreTarget::append(std::span<const uint8_t> data, std::string& error) {
  if (!fd_) {
    error = "no file open";
    return false;
  }
  if (!FileSystem::current().writeAll(fd_.get(), data.data(), data.size())) {
    error = std::strerror(errno);
    return false;
  }
  written_ += static_cast<int64_t>(data.size());
  return true;
}

bool RestoreTarget::commit(const std::optional<Date>& modified, std::string& error) {
  if (!fd_) {
    error = "no file open";
    return false;
  }
  FileSystem& fs = FileSystem::current();
  if (modified) {
    struct timespec times[2] = {timespecOf(*modified), timespecOf(*modified)};
    if (fs.setTimes(fd_.get(), times) != 0) {
      error = std::strerror(errno);
      return false;
    }
  }
  struct stat existing {};
  // Flushed unless nothing is known to be there: a status that fails for
  // another reason than absence may hide a file the rename would replace.
  bool replacing = fs.statusAt(folder_.get(), finalName_, existing, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
  if (replacing && fs.sync(fd_.get(), true) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fs.close(fd_.release()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fs.renameAt(folder_.get(), temporaryName_, folder_.get(), finalName_) != 0) {
    error = std::strerror(errno);
    return false;
  }
  temporaryName_.clear();
  temporaryPath_.clear();
  folder_.reset();
  return true;
}

void RestoreTarget::discard() {
  fd_.reset();
  if (!temporaryName_.empty() && folder_) FileSystem::current().unlinkAt(folder_.get(), temporaryName_);
  temporaryName_.clear();
  temporaryPath_.clear();
  folder_.reset();
}

int RestoreTarget::removeLeftovers(const std::string& folder) {
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(::dup(fd.get())), ::closedir);
  if (!dir) return 0;
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(dir.get())) {
    if (std::strncmp(entry->d_name, kTemporaryPrefix, std::strlen(kTemporaryPrefix)) == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  int removed = 0;
  for (const auto& name : names) {
    struct stat st {};
    if (fs.statusAt(fd.get(), name, st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (fs.unlinkAt(fd.get(), name) == 0) ++removed;
  }
  return removed;
}

}  // namespace palvero
