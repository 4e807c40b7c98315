// Packs bytes as the only entry of a zip archive, in memory: the form in
// which the service sends a whole-folder listing. Written here on zlib alone
// (raw deflate, CRC-32) so that it shares nothing with the client's packer;
// a fault in either shows up against the other.
//
// Stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace palvero::service {

class ZipPacker {
 public:
  // A zip archive holding `content` as one deflated entry `entryName`
  // (dated `dosTime`/`dosDate`, MS-DOS format). Throws std::runtime_error
  // when deflate fails or the content does not fit a zip without zip64.
  static std::string packOneEntry(const std::string& entryName, const std::string& content, uint16_t dosTime = 0,
                                  uint16_t dosDate = (44 << 9) | (1 << 5) | 1);
};

}  // namespace palvero::service
