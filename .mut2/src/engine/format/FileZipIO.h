// minizip's file functions over FileSystem, so that archives on disk are
// read and written through the same seam as every other file (and a test
// can fail their reads, writes and closes).
//
// Stateless table; each opened stream carries its own descriptor. Safe from
// any thread.
#pragma once

// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/ioapi.h>

namespace palvero {

class FileZipIO {
 public:
  // The table to hand to zipOpen2_64 / unzOpen2_64.
  static zlib_filefunc64_def* functions();
};

}  // namespace palvero
