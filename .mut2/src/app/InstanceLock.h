// One Palvero per user: the daemon, the tray app and the commands that
// change the queue hold an exclusive lock on "<support folder>/palvero.lock"
// while they run; the holder's process id is kept beside it in
// "palvero.pid" so that a second instance can say who runs.
//
// Thread contract: one instance per process, used from one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/FileLock.h"

namespace palvero {

class InstanceLock {
 public:
  // Tries once; check acquired().
  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  bool acquired() const { return lock_ && lock_->locked(); }
  // The process id written by the holder; nothing when unknown.
  static std::optional<long> holderPid();
  static std::string lockPath();

 private:
  std::unique_ptr<FileLock> lock_;
};

}  // namespace palvero
