// The first scan of the backup folder into the queue, as the first-run
// wizard's last step does it: the catalogue's "lastFullBackup" becomes now,
// "needRescanning" is set while it runs (so an interrupted scan is run
// again at the next start), "dateLastScan" is stamped, and the scan's first
// rows become the pending batch.
//
// Thread contract: blocks the calling thread for the whole scan; any
// thread but the main one of a window.
#pragma once

#include <cstdint>
#include <string>

namespace palvero {

class FirstScan {
 public:
  struct Result {
    bool scanned = false;       // false: the folder could not be scanned
    int64_t waitingFiles = 0;   // rows waiting in the queue afterwards
    int64_t waitingBytes = 0;
    std::string folder;
  };

  // Scans the catalogue's default backup folder.
  static Result run();
  // Queues only the files changed or added since the last complete scan
  // began (a stamp file's time in the support folder; "dateLastScan" less
  // two seconds when there is none), and the folders moved in; a full scan
  // when there was none. Deletions are not found this way (the change
  // watcher finds them).
  static Result runChanged();
};

}  // namespace palvero
