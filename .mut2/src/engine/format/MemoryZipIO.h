// Byte-buffer "files" for minizip: fills a zlib_filefunc64_def whose one
// stream reads from a span or writes into a growing buffer, so that
// single-entry archives are built and read without touching the disk.
//
// One object per archive handle; it must outlive the handle.
#pragma once

// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/ioapi.h>
//
#include <cstdint>
#include <span>

#include "base/Bytes.h"

namespace palvero {

class MemoryZipIO {
 public:
  // Reads `data` (not copied; must outlive the archive handle).
  explicit MemoryZipIO(std::span<const uint8_t> data);
  // Writes into `out`, which is emptied first.
  explicit MemoryZipIO(Bytes& out);

  MemoryZipIO(const MemoryZipIO&) = delete;
  MemoryZipIO& operator=(const MemoryZipIO&) = delete;

  // The table to hand to zipOpen2_64 / unzOpen2_64 (as both the table and,
  // through its opaque pointer, the stream).
  zlib_filefunc64_def* functions() { return &functions_; }

 private:
  static voidpf open(voidpf opaque, const void* filename, int mode);
  static uLong read(voidpf opaque, voidpf stream, void* buf, uLong size);
  static uLong write(voidpf opaque, voidpf stream, const void* buf, uLong size);
  static ZPOS64_T tell(voidpf opaque, voidpf stream);
  static long seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
  static int close(voidpf opaque, voidpf stream);
  static int error(voidpf opaque, voidpf stream);

  size_t size() const { return out_ ? out_->size() : in_.size(); }

  zlib_filefunc64_def functions_{};
  std::span<const uint8_t> in_;
  Bytes* out_ = nullptr;
  size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace palvero
