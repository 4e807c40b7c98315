// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/ioapi.h>
//
#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/format/MemoryZipIO.h"

namespace palvero {

MemoryZipIO::MemoryZipIO(std::span<const uint8_t> data) : in_(data) {
  functions_ = {open, read, write, tell, seek, close, error, this};
}

MemoryZipIO::MemoryZipIO(Bytes& out) : out_(&out) {
  out.clear();
  functions_ = {open, read, write, tell, seek, close, error, this};
}

voidpf MemoryZipIO::open(voidpf opaque, const void* /*filename*/, int mode) {
  auto* self = static_cast<MemoryZipIO*>(opaque);
  bool wantsWrite = (mode & ZLIB_FILEFUNC_MODE_WRITE) != 0;
  if (wantsWrite != (self->out_ != nullptr)) return nullptr;
  self->position_ = 0;
  self->failed_ = false;
  return self;
}

uLong MemoryZipIO::read(voidpf opaque, voidpf /*stream*/, void* buf, uLong size) {
  auto* self = static_cast<MemoryZipIO*>(opaque);
  size_t total = self->size();
  if (self->position_ >= total) return 0;
  size_t n = std::min<size_t>(size, total - self->position_);
  const uint8_t* base = self->out_ ? self->out_->data() : self->in_.data();
  std::memcpy(buf, base + self->position_, n);
  self->position_ += n;
  return static_cast<uLong>(n);
}

uLong MemoryZipIO::write(voidpf opaque, voidpf /*stream*/, const void* buf, uLong size) {
  auto* self = static_cast<MemoryZipIO*>(opaque);
  if (!self->out_) return 0;
  try {
    Bytes& out = *self->out_;
    const auto* bytes = static_cast<const uint8_t*>(buf);
    size_t overlap = std::min<size_t>(size, out.size() - std::min(out.size(), self->position_));
    if (overlap > 0) std::memcpy(out.data() + self->position_, bytes, overlap);
    out.insert(out.end(), bytes + overlap, bytes + size);
    self->position_ += size;
    return size;
  } catch (const std::exception&) {
    self->failed_ = true;
    return 0;
  }
}

ZPOS64_T MemoryZipIO::tell(voidpf opaque, voidpf /*stream*/) { return static_cast<MemoryZipIO*>(opaque)->position_; }

long MemoryZipIO::seek(voidpf opaque, voidpf /*stream*/, ZPOS64_T offset, int origin) {
  auto* self = static_cast<MemoryZipIO*>(opaque);
  size_t total = self->size();
  ZPOS64_T base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      base = 0;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = self->position_;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = total;
      break;
    default:
      return -1;
  }
  // Offsets arrive unsigned; a backwards seek from the end wraps around.
  ZPOS64_T target = base + offset;
  if (target > total) return -1;
  self->position_ = static_cast<size_t>(target);
  return 0;
}

int MemoryZipIO::close(voidpf /*opaque*/, voidpf /*stream*/) { return 0; }

int MemoryZipIO::error(voidpf opaque, voidpf /*stream*/) { return static_cast<MemoryZipIO*>(opaque)->failed_ ? 1 : 0; }

}  // namespace palvero
