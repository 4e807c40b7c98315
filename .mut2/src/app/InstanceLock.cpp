#include "app/InstanceLock.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/PrivateFiles.h"
#include "platform/AtomicFile.h"
#include "platform/Env.h"
#include "platform/FileSystem.h"

namespace palvero {
namespace {

std::string pidPath() { return Env::supportDirectory() + "/palvero.pid"; }

}  // namespace

std::string InstanceLock::lockPath() { return Env::supportDirectory() + "/palvero.lock"; }

InstanceLock::InstanceLock() {
  PrivateFiles::ensureFolder(Env::supportDirectory());
  lock_ = std::make_unique<FileLock>(lockPath(), FileLock::Mode::kTry);
  if (lock_->locked()) AtomicFile::write(pidPath(), std::to_string(::getpid()) + "\n", 0600);
}

InstanceLock::~InstanceLock() {
  if (acquired()) FileSystem::current().unlink(pidPath());
}

std::optional<long> InstanceLock::holderPid() {
  std::string text;
  if (!AtomicFile::read(pidPath(), text)) return std::nullopt;
  char* end = nullptr;
  long pid = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace palvero
