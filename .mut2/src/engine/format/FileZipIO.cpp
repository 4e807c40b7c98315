// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/ioapi.h>
//
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/format/FileZipIO.h"
#include "platform/FileSystem.h"

namespace palvero {
namespace {

struct Stream {
  int fd = -1;
  bool failed = false;
};

voidpf openFile(voidpf /*opaque*/, const void* filename, int mode) {
  if (!filename) return nullptr;
  int flags = O_CLOEXEC;
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
    flags |= O_RDONLY;
  } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
    flags |= O_RDWR;
  } else {
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
  }
  int fd = FileSystem::current().open(static_cast<const char*>(filename), flags, 0666);
  if (fd < 0) return nullptr;
  return new Stream{fd, false};
}

uLong readFile(voidpf /*opaque*/, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  FileSystem& fs = FileSystem::current();
  uLong done = 0;
  while (done < size) {
    ssize_t n = fs.read(s->fd, static_cast<char*>(buf) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) s->failed = true;
    if (n <= 0) break;
    done += static_cast<uLong>(n);
  }
  return done;
}

uLong writeFile(voidpf /*opaque*/, voidpf stream, const void* buf, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  if (FileSystem::current().writeAll(s->fd, buf, size)) return size;
  s->failed = true;
  return 0;
}

ZPOS64_T tellFile(voidpf /*opaque*/, voidpf stream) {
  auto* s = static_cast<Stream*>(stream);
  int64_t at = FileSystem::current().seek(s->fd, 0, SEEK_CUR);
  if (at < 0) {
    s->failed = true;
    return static_cast<ZPOS64_T>(-1);
  }
  return static_cast<ZPOS64_T>(at);
}

long seekFile(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<Stream*>(stream);
  int whence = origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END : SEEK_SET;
  if (FileSystem::current().seek(s->fd, static_cast<int64_t>(offset), whence) < 0) {
    s->failed = true;
    return -1;
  }
  return 0;
}

int closeFile(voidpf /*opaque*/, voidpf stream) {
  auto* s = static_cast<Stream*>(stream);
  int rc = FileSystem::current().close(s->fd);
  delete s;
  return rc == 0 ? 0 : -1;
}

int errorFile(voidpf /*opaque*/, voidpf stream) { return static_cast<Stream*>(stream)->failed ? 1 : 0; }

}  // namespace

zlib_filefunc64_def* FileZipIO::functions() {
  static zlib_filefunc64_def table{openFile, readFile, writeFile, tellFile, seekFile, closeFile, errorFile, nullptr};
  return &table;
}

}  // namespace palvero
