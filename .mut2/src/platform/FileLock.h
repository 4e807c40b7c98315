// An advisory lock on a lock file (flock), held for the object's lifetime.
// Serialises processes, not threads of one process.
#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace palvero {

class FileLock {
 public:
  enum class Mode { kWait, kTry };

  // Opens (creating, mode 0600) `path` and locks it exclusively. With kTry,
  // gives up at once when another process holds it.
  FileLock(const std::string& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return locked_; }

 private:
  UniqueFd fd_;
  bool locked_ = false;
};

}  // namespace palvero
