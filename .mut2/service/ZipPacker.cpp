#include "ZipPacker.h"

#include <zlib.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace palvero::service {
namespace {

void put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string rawDeflate(const std::string& content) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(content.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  size_t produced = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  out.resize(produced);
  return out;
}

}  // namespace

std::string ZipPacker::packOneEntry(const std::string& entryName, const std::string& content, uint16_t dosTime,
                                    uint16_t dosDate) {
  constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max() - 1024;
  if (content.size() > kLimit || entryName.size() > 0xFFFF) throw std::runtime_error("entry too large for zip");
  const std::string packed = rawDeflate(content);
  const uint32_t crc = static_cast<uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
  // The fields the local header and the central directory share, from
  // "version needed" to the name's length, with the extra field empty.
  auto entryFields = [&](std::string& out) {
    constexpr uint16_t kVersionNeeded = 20;
    constexpr uint16_t kUtf8Names = 1 << 11;
    constexpr uint16_t kDeflated = 8;
    put16(out, kVersionNeeded);
    put16(out, kUtf8Names);
    put16(out, kDeflated);
    put16(out, dosTime);
    put16(out, dosDate);
    put32(out, crc);
    put32(out, static_cast<uint32_t>(packed.size()));
    put32(out, static_cast<uint32_t>(content.size()));
    put16(out, static_cast<uint16_t>(entryName.size()));
    put16(out, 0);
  };

  std::string out;
  out.reserve(packed.size() + 2 * entryName.size() + 128);
  put32(out, 0x04034b50);
  entryFields(out);
  out += entryName;
  out += packed;

  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  put32(out, 0x02014b50);
  put16(out, (3 << 8) | 20);  // made on Unix, zip 2.0
  entryFields(out);
  put16(out, 0);  // comment
  put16(out, 0);  // disk
  put16(out, 0);  // internal attributes
  put32(out, 0100644u << 16);
  put32(out, 0);  // local header offset
  out += entryName;
  const uint32_t centralSize = static_cast<uint32_t>(out.size()) - centralOffset;

  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, 1);
  put16(out, 1);
  put32(out, centralSize);
  put32(out, centralOffset);
  put16(out, 0);
  return out;
}

}  // namespace palvero::service
