#include "PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace palvero::service {

bool createPrivateDirectories(const std::string& path) {
  bool made = false;
  size_t start = path.front() == '/' ? 1 : 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string current = path.substr(0, end);
    if (end > start) {
      if (::mkdir(current.c_str(), kPrivateFolderMode) == 0) {
        made = true;
      } else if (errno != EEXIST) {
        throw std::runtime_error("cannot create " + current + ": " + std::strerror(errno));
      }
    }
    start = end + 1;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw std::runtime_error(path + " is not a folder");
  return made;
}

void tightenMode(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    ::chmod(path.c_str(), kPrivateFolderMode);
  } else if (S_ISREG(st.st_mode)) {
    ::chmod(path.c_str(), kPrivateFileMode);
  }
}

void createPrivateFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  ::close(fd);
}

}  // namespace palvero::service
