#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"
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

}  // namespace

bool AtomicFile::write(const std::string& path, std::string_view data, unsigned mode, std::string* error) {
  FileSystem& fs = FileSystem::current();
  std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(gTempCounter++);
  UniqueFd fd(fs.open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) return fail(error, "cannot create " + temp);
  bool written =
      fs.chmod(fd.get(), mode) == 0 && fs.writeAll(fd.get(), data.data(), data.size()) && fs.sync(fd.get()) == 0;
  if (!written || fs.close(fd.release()) != 0) {
    fail(error, "cannot write " + temp);
    fs.unlink(temp);
    return false;
  }
  if (fs.rename(temp, path) != 0) {
    fail(error, "cannot rename " + temp + " to " + path);
    fs.unlink(temp);
    return false;
  }
  UniqueFd dir(fs.open(dirName(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) fs.sync(dir.get());
  return true;
}

bool AtomicFile::read(const std::string& path, std::string& out) {
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(path, O_RDONLY | O_CLOEXEC));
  return fd && fs.readAll(fd.get(), out);
}

}  // namespace palvero
