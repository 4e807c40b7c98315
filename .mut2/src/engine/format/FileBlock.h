// One block of a file: a piece cut at a fixed offset and named by its content
// (the SHA-256 of its bytes, or for blocks of 256 bytes or less the bytes
// themselves in hexadecimal). Made by the cutter (BlockCutter), by the
// version-text reader and from server replies.
//
// Text forms (doc/formats.md): the block JSON "{ \"size\": L, \"checksum\": \"C\"}",
// the block list string "[" JSON "," JSON ... "]" and the version-text block
// line "\n2:position:checksum:length:smallChecksum:first:last".
//
// A plain value; safe to copy between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace palvero {

class FileBlock {
 public:
  // Blocks up to this length travel inside the version text, as hexadecimal.
  static constexpr int64_t kLargestInlineBlock = 256;

  // SHA-256 as 64 upper-case hex digits, or the lower-case hex of a short
  // block's bytes (empty for an empty block).
  std::string checksum;
  // MD5 as 32 upper-case hex digits; empty for a short block.
  std::string smallChecksum;
  int64_t length = 0;
  // Ordinal within the file part (renumbered 0, 1, 2 ... when read back).
  int64_t position = 0;
  // Offset of the block's first byte in the file that was cut.
  int64_t offset = 0;
  // Little-endian int32 at block bytes 4..7 and at L-8..L-5; 0 when L < 8.
  int32_t FirstCheckInt = 0;
  int32_t LastCheckInt = 0;

  FileBlock() = default;
  // A block named in a server reply: only length and checksum.
  static FileBlock initWithSize(int64_t size, std::string andChecksum);

  // "{ \"size\": %ld, \"checksum\": \"%@\"}"
  std::string toJSONString() const;
  // The block of the first element of a JSON array of objects with "size"
  // (a number, or a text of digits) and "checksum"; nothing otherwise.
  static std::optional<FileBlock> fromJSON(const std::string& text);
  // "[" + each block's JSON joined by "," + "]"; "[]" for none.
  static std::string blockListString(const std::vector<FileBlock>& blocks);

  // The version-text line, with its leading line feed:
  // "\n2:%d:%@:%ld:%@:%d:%d" (position written as a signed 32-bit value).
  std::string toVerFileString() const;
  // Reads one line (without line feed). Nothing when the line does not begin
  // with "2"; nothing, after logging "fromVerFile exception: %@", when it
  // splits at ":" into fewer than 5 fields or into exactly 6.
  static std::optional<FileBlock> fromVerFile(const std::string& line);

  // Equal length, checksum and smallChecksum.
  bool equals(const FileBlock& other) const;
  bool isEqual(const FileBlock& other) const { return equals(other); }
  bool operator==(const FileBlock& other) const { return equals(other); }
  // hash(checksum) * 31 + hash(smallChecksum) + 961: equal blocks hash alike.
  size_t hash() const;

  // True for lengths above 256: such a block is uploaded as a block.
  static bool IfSizeIsBlock(int64_t length) { return length > kLargestInlineBlock; }
};

}  // namespace palvero

template <>
struct std::hash<palvero::FileBlock> {
  size_t operator()(const palvero::FileBlock& block) const noexcept { return block.hash(); }
};
