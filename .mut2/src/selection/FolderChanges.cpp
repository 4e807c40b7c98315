#include "selection/FolderChanges.h"

#include <algorithm>

namespace palvero {
namespace {

void addOnce(std::vector<std::string>& list, const std::string& path) {
  if (std::find(list.begin(), list.end(), path) == list.end()) list.push_back(path);
}

}  // namespace

void FolderChanges::addRemovedFolder(const std::string& path) {
  std::lock_guard lock(removedMutex_);
  addOnce(removed_, path);
}

void FolderChanges::addAddedFolder(const std::string& path) {
  std::lock_guard lock(addedMutex_);
  addOnce(added_, path);
}

std::vector<std::string> FolderChanges::removedFolders() const {
  std::lock_guard lock(removedMutex_);
  return removed_;
}

std::vector<std::string> FolderChanges::addedFolders() const {
  std::lock_guard lock(addedMutex_);
  return added_;
}

}  // namespace palvero
