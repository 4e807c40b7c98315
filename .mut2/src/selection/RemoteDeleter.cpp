#include "selection/RemoteDeleter.h"

#include <mutex>

namespace palvero {

// ServerRemoteDeleter.cpp
std::shared_ptr<RemoteDeleter> makeServerRemoteDeleter();

namespace {

std::mutex gCurrentMutex;
std::shared_ptr<RemoteDeleter>& installed() {  // guarded by gCurrentMutex
  static auto* deleter = new std::shared_ptr<RemoteDeleter>();
  return *deleter;
}

}  // namespace

std::shared_ptr<RemoteDeleter> RemoteDeleter::current() {
  std::lock_guard lock(gCurrentMutex);
  if (!installed()) installed() = makeServerRemoteDeleter();
  return installed();
}

void RemoteDeleter::setCurrent(std::shared_ptr<RemoteDeleter> deleter) {
  std::lock_guard lock(gCurrentMutex);
  installed() = std::move(deleter);
}

}  // namespace palvero
