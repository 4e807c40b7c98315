// The in-memory zip reader: packed blocks (after decryption), packed version
// texts and the packed whole-folder listing all go through it.
//
// Besides not crashing: the unpacker never hands out more than its bound,
// and what it hands out is the entry whose CRC-32 the archive states; every
// entry the reader walks is either read whole within the bound or refused.
#include <zlib.h>

#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "engine/format/Compressor.h"
#include "engine/format/ZipReader.h"
#include "FuzzHome.h"

using namespace palvero;

namespace {

constexpr uint64_t kWalkBound = 1 << 20;

void walkEveryEntry(const Bytes& archive) {
  ZipReader reader;
  if (!reader.openMemory(archive)) return;
  size_t entries = 0;
  for (auto step = reader.first(); step == ZipReader::Step::kEntry && entries < 64; step = reader.next(), ++entries) {
    auto info = reader.currentInfo();
    if (!info) return;
    Bytes out;
    std::string error;
    if (reader.readCurrent(out, kWalkBound, error)) {
      if (out.size() != info->uncompressedSize) fuzz::fail("an entry read whole differs from its stated size");
      uLong crc = crc32(0L, out.data(), static_cast<uInt>(out.size()));
      if (static_cast<uint32_t>(crc) != info->crc) fuzz::fail("an entry read whole differs from its stated CRC");
    } else if (!out.empty()) {
      fuzz::fail("a refused entry left output behind: " + error);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = fuzz::Input::of(data, size);
  Bytes archive(input.rest.begin(), input.rest.end());
  const uint64_t bound = input.selector & 1 ? Compressor::kMaxBlockSize : Compressor::kMaxUnpackedSize;
  Compressor compressor;
  Bytes out{1, 2, 3};
  if (compressor.DecompressFromStream(archive, out, false, "TempFileVerFile.tmp", "r0", bound)) {
    if (out.size() > bound) fuzz::fail("unpacked beyond the bound");
  } else if (!out.empty()) {
    fuzz::fail("a failed unpack left output behind");
  }
  walkEveryEntry(archive);
  return 0;
}
