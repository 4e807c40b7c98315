#include "engine/format/BlockCutter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// Digests alternate over slices this large so that the second one reads
// bytes the first has just pulled into the cache.
constexpr size_t kDigestSlice = 64 * 1024;
// Chunks are read in slices this large and digested as they arrive.
constexpr size_t kReadSlice = 256 * 1024;

void logFailure(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, kLogFailure);
}

// Opens a regular file for reading without following a final symbolic link
// and without blocking on a FIFO; an invalid descriptor for anything else.
UniqueFd openRegularFile(const std::string& path) {
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return fd;
  struct stat st {};
  if (fs.status(fd.get(), st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

// Reads until `size` bytes or the end of the file; throws on a read error.
size_t readFully(int fd, uint8_t* out, size_t size) {
  FileSystem& fs = FileSystem::current();
  size_t done = 0;
  while (done < size) {
    ssize_t n = fs.read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error(std::string("read failed: ") + std::strerror(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

BlockCutter::BlockCutter() : sha256_(EvpDigest::Algorithm::kSHA256), md5_(EvpDigest::Algorithm::kMD5) {}

BlockCutter::~BlockCutter() = default;

int64_t BlockCutter::GetOptimumBlockSize(int64_t fileLength) {
  if (fileLength < kMediumFileLength) return kSmallCutSize;
  if (fileLength < kLargeFileLength) return kMediumCutSize;
  return kLargeCutSize;
}

int64_t BlockCutter::GetBlockSize(int64_t length) {
  if (length >= kLargeCutSize) return kLargeCutSize;
  if (length >= kMediumCutSize) return kMediumCutSize;
  if (length >= kSmallCutSize) return kSmallCutSize;
  return length;
}

namespace {

// Thrown when the sink stops the cut: not a failure to report.
struct CutStopped {};

}  // namespace

std::optional<std::vector<FileBlock>> BlockCutter::CreateBlocksList(int64_t fileLength, const std::string& FilePath,
                                                                    bool* opened, const BlockSink& sink) {
  LogWriter::sharedLogger().logEntry(kContinuingBackup, kSessionBackup,
                                     stringWithFormat("Starting DeltaHandler CreateBlocksList: %s", FilePath.c_str()),
                                     kLogDetail);
  if (opened) *opened = false;
  try {
    std::vector<FileBlock> blocks;
    auto keep = [&](FileBlock block, std::span<const uint8_t> bytes) {
      if (sink && !sink(block, bytes)) throw CutStopped{};
      blocks.push_back(std::move(block));
    };
    UniqueFd fd = openRegularFile(FilePath);
    if (!fd) return blocks;
    if (opened) *opened = true;

    const auto cutSize = static_cast<size_t>(GetOptimumBlockSize(fileLength));
    if (bufferCapacity_ < cutSize) {
      buffer_.reset();
      buffer_ = std::make_unique_for_overwrite<uint8_t[]>(cutSize);
      bufferCapacity_ = cutSize;
    }
    uint8_t* buffer = buffer_.get();
    // Invariant: buffer[0, have) holds the file's bytes from `offset` on.
    size_t have = readFully(fd.get(), buffer, cutSize);
    const auto blockSize = static_cast<size_t>(GetBlockSize(static_cast<int64_t>(have)));
    int64_t offset = 0;
    int32_t position = 0;
    const bool digestsUsed = FileBlock::IfSizeIsBlock(static_cast<int64_t>(blockSize));
    while (true) {
      // Top the buffer up to a whole chunk one slice at a time, digesting
      // each slice while it is still in the cache.
      if (digestsUsed) digestSlices({buffer, std::min(have, blockSize)});
      while (have < blockSize) {
        size_t n = readFully(fd.get(), buffer + have, std::min(kReadSlice, blockSize - have));
        if (n == 0) break;
        if (digestsUsed) digestSlices({buffer + have, n});
        have += n;
      }
      size_t chunk = std::min(have, blockSize);
      if (chunk == 0) break;
      if (chunk == blockSize) {
        auto block = digestsUsed ? finishBlock({buffer, chunk}, offset, position)
                                 : CreateNewBlocks({buffer, chunk}, offset, position);
        ++position;
        if (!block) throw std::runtime_error("no block at offset " + std::to_string(offset));
        keep(std::move(*block), {buffer, chunk});
        offset += static_cast<int64_t>(chunk);
        have -= chunk;
        if (have > 0) std::memmove(buffer, buffer + chunk, have);
        continue;
      }
      resetDigests();
      // The short tail: its chunk takes a position without becoming a block.
      ++position;
      size_t start = 0;
      size_t remaining = chunk;
      auto piece = static_cast<size_t>(GetBlockSize(static_cast<int64_t>(remaining)));
      while (piece >= static_cast<size_t>(kSmallCutSize)) {
        auto block = CreateNewBlocks({buffer + start, piece}, offset, position++);
        if (!block) throw std::runtime_error("no block at offset " + std::to_string(offset));
        keep(std::move(*block), {buffer + start, piece});
        offset += static_cast<int64_t>(piece);
        start += piece;
        remaining -= piece;
        piece = static_cast<size_t>(GetBlockSize(static_cast<int64_t>(remaining)));
      }
      auto last = CreateNewBlocks({buffer + start, piece}, offset, position);
      if (!last) throw std::runtime_error("no block at offset " + std::to_string(offset));
      keep(std::move(*last), {buffer + start, piece});
      break;
    }
    return blocks;
  } catch (const CutStopped&) {
    resetDigests();
    return std::nullopt;
  } catch (const std::exception& e) {
    resetDigests();
    logFailure(stringWithFormat("CreateBlocksList exception: %s: %s", FilePath.c_str(), e.what()));
    return std::nullopt;
  }
}

void BlockCutter::resetDigests() noexcept {
  try {
    sha256_.reset();
    md5_.reset();
  } catch (const std::exception&) {
    // The next update fails the same way and is reported there.
  }
}

void BlockCutter::digestSlices(std::span<const uint8_t> data) {
  for (size_t at = 0; at < data.size(); at += kDigestSlice) {
    auto slice = data.subspan(at, std::min(kDigestSlice, data.size() - at));
    sha256_.update(slice);
    md5_.update(slice);
  }
}

std::optional<FileBlock> BlockCutter::finishBlock(std::span<const uint8_t> data, int64_t offset, int32_t position) {
  try {
    FileBlock block;
    block.checksum = sha256_.finishHex();
    block.smallChecksum = md5_.finishHex();
    fillBlock(block, data, offset, position);
    return block;
  } catch (const std::exception& e) {
    resetDigests();
    logFailure(stringWithFormat("CreateNewBlocks exception: %s", e.what()));
    return std::nullopt;
  }
}

void BlockCutter::fillBlock(FileBlock& block, std::span<const uint8_t> data, int64_t offset, int32_t position) {
  block.length = static_cast<int64_t>(data.size());
  block.offset = offset;
  block.position = position;
  block.FirstCheckInt = GetFirstCheckInt(data, 0);
  block.LastCheckInt = GetLastCheckInt(data, 0, static_cast<int64_t>(data.size()));
}

std::optional<FileBlock> BlockCutter::CreateNewBlocks(std::span<const uint8_t> data, int64_t Offset, int32_t Position) {
  if (!FileBlock::IfSizeIsBlock(static_cast<int64_t>(data.size()))) {
    try {
      FileBlock block;
      block.checksum = Functions::HexStr(data, data.size());
      fillBlock(block, data, Offset, Position);
      return block;
    } catch (const std::exception& e) {
      logFailure(stringWithFormat("CreateNewBlocks exception: %s", e.what()));
      return std::nullopt;
    }
  }
  try {
    digestSlices(data);
  } catch (const std::exception& e) {
    resetDigests();
    logFailure(stringWithFormat("CreateNewBlocks exception: %s", e.what()));
    return std::nullopt;
  }
  return finishBlock(data, Offset, Position);
}

std::optional<std::string> BlockCutter::GetChecksum(std::span<const uint8_t> data, int64_t /*Offset*/,
                                                    int64_t /*Length*/, bool MD5, const FileBlock* /*Fileblock*/) {
  try {
    if (!FileBlock::IfSizeIsBlock(static_cast<int64_t>(data.size()))) {
      return MD5 ? std::string() : Functions::HexStr(data, data.size());
    }
    EvpDigest& digest = MD5 ? md5_ : sha256_;
    digest.update(data);
    return digest.finishHex();
  } catch (const std::exception& e) {
    resetDigests();
    logFailure(stringWithFormat("GetChecksum exception: %s", e.what()));
    return std::nullopt;
  }
}

int32_t BlockCutter::GetIntFromBytes(std::span<const uint8_t> data, int64_t Offset) {
  if (Offset < 0 || static_cast<uint64_t>(Offset) + 4 > data.size()) return 0;
  const uint8_t* p = data.data() + Offset;
  uint32_t value = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return static_cast<int32_t>(value);
}

int32_t BlockCutter::GetFirstCheckInt(std::span<const uint8_t> data, int64_t Offset) {
  if (Offset < 0 || static_cast<uint64_t>(Offset) + 8 > data.size()) return 0;
  return GetIntFromBytes(data, Offset + 4);
}

int32_t BlockCutter::GetLastCheckInt(std::span<const uint8_t> data, int64_t Offset, int64_t Length) {
  if (Length < 8) return 0;
  return GetIntFromBytes(data, Offset + Length - 8);
}

std::string BlockCutter::md5StringFromData(std::span<const uint8_t> data) { return EvpDigest::md5Hex(data); }

std::string BlockCutter::sha256StringFromData(std::span<const uint8_t> data) { return EvpDigest::sha256Hex(data); }

}  // namespace palvero
