// An uploaded file part on its way to the store: written to an unnamed file
// in the spool folder as it arrives (so a body is never held whole in memory
// and the disk works while the network still delivers), with its MD5 taken
// on the way. linkTo() then gives it its final name in one step, flushed to
// disk first when durable; an unfinished upload leaves nothing behind.
//
// Where the file system has no unnamed files (O_TMPFILE), a named file in
// the spool folder is used and removed when the SpoolFile goes away.
//
// Thread contract: one thread uses an instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Digest.h"

namespace palvero::service {

class SpoolFile {
 public:
  // Throws std::runtime_error when no file can be made in `dir`.
  explicit SpoolFile(const std::string& dir);
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  void append(const char* data, size_t size);
  // Writes what is buffered and starts the write-back; call once, last.
  void finish();

  int64_t size() const { return size_; }
  // The MD5 of everything appended (after finish()).
  const std::string& md5() const { return md5Text_; }
  std::string readAll() const;

  // Flushes the bytes to disk; throws on an I/O failure.
  void sync();
  // Makes the bytes the file `target` (call sync() first for durability).
  // False when `target` already exists (the stored copy stays); throws on an
  // I/O failure.
  bool linkTo(const std::string& target);

 private:
  void flushBuffer();

  int fd_ = -1;
  std::string namedPath_;  // only without O_TMPFILE
  std::vector<char> buffer_;
  int64_t size_ = 0;
  Md5 md5_;
  std::string md5Text_;
};

}  // namespace palvero::service
