// A private copy of a file that keeps changing while it is read (a mail
// store, a database, a disk image being written): made in the worker's
// scratch folder as a reflink where the file system shares extents
// (FICLONE), else with copy_file_range, else with plain reads, so that the
// backup reads bytes that hold still. The copy takes the bytes the file had
// when the copy began (a file that grows meanwhile is cut at that size) and
// is removed when the object goes.
//
// Thread contract: one instance per thread (the worker's).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/SourceFile.h"

namespace palvero {

class PrivateCopy {
 public:
  // The free bytes of the volume holding a folder (negative: unknown).
  using FreeSpace = std::function<int64_t(const std::string& folder)>;

  // `freeSpace` defaults to the volume's real free space.
  explicit PrivateCopy(FreeSpace freeSpace = nullptr);
  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  // Copies the regular file `source` into `folder`. False with `reason`:
  // the file is gone or not regular, there is not room for it (unless it can
  // be reflinked, which takes no room), or a read or write failed.
  bool make(const std::string& source, const std::string& folder, std::string& reason);

  const std::string& path() const { return path_; }
  // The source as it was when the copy began: its change time dates the
  // revision.
  const SourceFile::Identity& sourceIdentity() const { return sourceIdentity_; }
  // Whether the copy shares the source's extents (no bytes were copied).
  bool reflinked() const { return reflinked_; }

 private:
  void remove();

  FreeSpace freeSpace_;
  std::string path_;
  SourceFile::Identity sourceIdentity_;
  bool reflinked_ = false;
};

}  // namespace palvero
