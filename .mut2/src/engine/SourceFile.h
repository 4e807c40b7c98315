// The file being backed up, as the engine reads it. Only a regular file is
// ever opened and a symbolic link is never followed, so a FIFO cannot block a
// worker and a link cannot lead the backup elsewhere. Its identity (device,
// inode, size, modification and status-change times) taken when it is cut is
// what later reads and the version upload must still find: a file that
// changed in between must not give a revision mixing old and new content.
//
// Thread contract: one instance per thread; inspect() is safe from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "base/Bytes.h"
#include "base/Date.h"
#include "platform/UniqueFd.h"

namespace palvero {

class SourceFile {
 public:
  enum class Kind { kRegular, kMissing, kNotRegular, kUnreadable };

  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t size = 0;
    struct timespec modified {};
    struct timespec statusChanged {};
    // Creation time; nothing when the file system does not record it.
    std::optional<struct timespec> created;

    // Same file with the same size and times (creation time not compared).
    bool sameAs(const Identity& other) const;
    // The later of the modification and creation times.
    Date changeTime() const;
  };

  // What is at `path` (a final symbolic link is not followed); fills
  // `identity` for a regular file, `*error` with errno otherwise.
  static Kind inspect(const std::string& path, Identity& identity, int* error = nullptr);

  // Opens `path` for reading when it is still the regular file `expected`
  // (same identity). False otherwise, with the reason in `reason`.
  bool open(const std::string& path, const Identity& expected, std::string& reason);
  // Reads exactly `length` bytes at `offset` into `out`. False, with the
  // reason, on a read error or when fewer bytes are there.
  bool readExactly(int64_t offset, int64_t length, Bytes& out, std::string& reason);

 private:
  UniqueFd fd_;
};

}  // namespace palvero
