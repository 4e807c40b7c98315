// The folders the user removed from and added to the backup on the
// exclusions page since the last recalculation of the queue, and whether the
// extension rules changed there. The page fills them; the change watcher's
// recalculation reads and empties them.
//
// Thread contract: every member is safe from any thread. Each list has its
// own lock; withBothLists() holds both for the whole of its callback, so the
// page cannot change a list while the queue is rebuilt from it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace palvero {

class FolderChanges {
 public:
  void addRemovedFolder(const std::string& path);
  void addAddedFolder(const std::string& path);
  std::vector<std::string> removedFolders() const;
  std::vector<std::string> addedFolders() const;

  void setExclusionsChanged(bool changed) { exclusionsChanged_.store(changed); }
  bool exclusionsChanged() const { return exclusionsChanged_.load(); }

  // Runs `body(removed, added)` with both lists locked; it may change them.
  template <class Body>
  void withBothLists(Body&& body) {
    std::scoped_lock lock(removedMutex_, addedMutex_);
    body(removed_, added_);
  }

 private:
  mutable std::mutex removedMutex_;
  mutable std::mutex addedMutex_;
  std::vector<std::string> removed_;  // guarded by removedMutex_
  std::vector<std::string> added_;    // guarded by addedMutex_
  std::atomic<bool> exclusionsChanged_{false};
};

}  // namespace palvero
