// Cuts a file into blocks at fixed offsets and names each block by its
// content. These are the cutting operations of the per-worker engine
// (DeltaHandler), which owns one cutter.
//
// Algorithm: the cut size S follows the file length (256,000 below
// 102,400,000 bytes, 1,024,000 below 204,800,000, else 2,048,000). The first
// read takes up to S bytes; B is the size ladder of what was read. Full
// B-byte chunks become blocks at positions 0, 1, 2 ...; a short tail chunk
// counts one position without becoming a block and is re-cut by the ladder
// (2,048,000 / 1,024,000 / 256,000 pieces, then one last piece shorter than
// 256,000, possibly empty). Offsets are exact; positions have that one gap.
//
// Each chunk is read once into one reused buffer of at most 2,048,000 bytes,
// and SHA-256 and MD5 run over it in cache-sized slices, once per block.
// Only regular files are opened: a FIFO, device or symbolic link reads as a
// file that cannot be opened.
//
// Thread contract: one cutter per thread; the static operations are safe from
// any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/format/EvpDigest.h"
#include "engine/format/FileBlock.h"

namespace palvero {

class BlockCutter {
 public:
  static constexpr int64_t kSmallCutSize = 256000;
  static constexpr int64_t kMediumCutSize = 1024000;
  static constexpr int64_t kLargeCutSize = 2048000;
  // Files from these lengths on are cut at the medium and large sizes.
  static constexpr int64_t kMediumFileLength = 102400000;
  static constexpr int64_t kLargeFileLength = 204800000;

  BlockCutter();
  ~BlockCutter();
  BlockCutter(const BlockCutter&) = delete;
  BlockCutter& operator=(const BlockCutter&) = delete;

  // Called with each block as it is made and the block's bytes, which stay
  // valid only during the call; returning false stops the cut.
  using BlockSink = std::function<bool(const FileBlock& block, std::span<const uint8_t> bytes)>;

  // The blocks of the file at `FilePath`, cut for a file of `fileLength`
  // bytes (the cut size follows this length; the blocks follow what is
  // actually read). A file that cannot be opened (missing, unreadable, not a
  // regular file) yields an empty list and sets `*opened` to false when
  // given. A read error or a failure to make a block is logged as
  // "CreateBlocksList exception: %@" and yields nothing; so does a `sink`
  // that stops the cut (not logged). Blocks.
  std::optional<std::vector<FileBlock>> CreateBlocksList(int64_t fileLength, const std::string& FilePath,
                                                         bool* opened = nullptr, const BlockSink& sink = nullptr);

  // One block with every field filled in; on an error logs
  // "CreateNewBlocks exception: %@" and yields nothing.
  std::optional<FileBlock> CreateNewBlocks(std::span<const uint8_t> data, int64_t Offset, int32_t Position);

  // The cut size for a file length.
  static int64_t GetOptimumBlockSize(int64_t fileLength);
  // The size ladder: the largest standard piece for a remainder.
  static int64_t GetBlockSize(int64_t length);

  // The strong (MD5 false) or weak (MD5 true) checksum of all of `data`; the
  // offset, length and block labels are unused. On an error logs
  // "GetChecksum exception: %@" and yields nothing.
  std::optional<std::string> GetChecksum(std::span<const uint8_t> data, int64_t Offset, int64_t Length, bool MD5,
                                         const FileBlock* Fileblock = nullptr);

  // The little-endian int32 at block bytes 4..7 of the block that starts at
  // `Offset` in `data`; 0 when the block is shorter than 8 bytes.
  static int32_t GetFirstCheckInt(std::span<const uint8_t> data, int64_t Offset);
  // The little-endian int32 at bytes L-8..L-5 of the block of `Length` bytes
  // at `Offset`; 0 when L < 8.
  static int32_t GetLastCheckInt(std::span<const uint8_t> data, int64_t Offset, int64_t Length);
  // The little-endian int32 at `Offset`, or 0 when fewer than 4 bytes remain.
  static int32_t GetIntFromBytes(std::span<const uint8_t> data, int64_t Offset);

  static std::string md5StringFromData(std::span<const uint8_t> data);
  static std::string sha256StringFromData(std::span<const uint8_t> data);

 private:
  void resetDigests() noexcept;
  // Feeds `data` to both digests in cache-sized slices.
  void digestSlices(std::span<const uint8_t> data);
  // The block of `data`, whose bytes the digests have just been fed.
  std::optional<FileBlock> finishBlock(std::span<const uint8_t> data, int64_t offset, int32_t position);
  static void fillBlock(FileBlock& block, std::span<const uint8_t> data, int64_t offset, int32_t position);

  EvpDigest sha256_;
  EvpDigest md5_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t bufferCapacity_ = 0;
};

}  // namespace palvero
