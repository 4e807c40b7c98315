#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/UniqueFd.h"

namespace palvero {

bool PrivateFiles::ensureFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if ((st.st_mode & 07777) != kFolderMode) ::chmod(path.c_str(), kFolderMode);
  return true;
}

void PrivateFiles::tightenFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if ((st.st_mode & 07777) != kFileMode) ::chmod(path.c_str(), kFileMode);
}

bool PrivateFiles::ensureFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (!fd) return false;
  ::fchmod(fd.get(), kFileMode);
  return true;
}

}  // namespace palvero
