#include "engine/format/BlockDeflater.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace palvero {

BlockDeflater::BlockDeflater() = default;

BlockDeflater::~BlockDeflater() {
  if (main_) libdeflate_free_compressor(main_);
  if (probe_) libdeflate_free_compressor(probe_);
}

libdeflate_compressor* BlockDeflater::compressor(int level) {
  libdeflate_compressor*& slot = level == kLevel ? main_ : probe_;
  if (!slot) {
    slot = libdeflate_alloc_compressor(level);
    if (!slot) throw std::bad_alloc();
  }
  return slot;
}

size_t BlockDeflater::storedSize(size_t length) {
  size_t blocks = std::max<size_t>(1, (length + kStoredBlockMax - 1) / kStoredBlockMax);
  return length + 5 * blocks;
}

void BlockDeflater::writeStored(std::span<const uint8_t> data, Bytes& out) {
  out.resize(storedSize(data.size()));
  uint8_t* at = out.data();
  size_t done = 0;
  do {
    size_t length = std::min(kStoredBlockMax, data.size() - done);
    bool final = done + length == data.size();
    // BFINAL and BTYPE 00 in the low three bits; a stored block then skips
    // to the next byte, so its header is one byte, LEN and NLEN.
    *at++ = final ? 1 : 0;
    *at++ = static_cast<uint8_t>(length);
    *at++ = static_cast<uint8_t>(length >> 8);
    *at++ = static_cast<uint8_t>(~length);
    *at++ = static_cast<uint8_t>(~length >> 8);
    if (length > 0) std::memcpy(at, data.data() + done, length);
    at += length;
    done += length;
  } while (done < data.size());
}

uint32_t BlockDeflater::crc32(std::span<const uint8_t> data) {
  return libdeflate_crc32(0, data.data(), data.size());
}

bool BlockDeflater::looksIncompressible(std::span<const uint8_t> data) {
  if (data.size() < kProbeMinimum) return false;
  // Slices spread from the first byte to the last, so that a block whose
  // head differs from the rest (a header, a file boundary) is seen whole.
  probeIn_.resize(kProbeSlices * kProbeSliceSize);
  const size_t stride = (data.size() - kProbeSliceSize) / (kProbeSlices - 1);
  for (size_t i = 0; i < kProbeSlices; ++i) {
    std::memcpy(probeIn_.data() + i * kProbeSliceSize, data.data() + i * stride, kProbeSliceSize);
  }
  libdeflate_compressor* probe = compressor(kProbeLevel);
  // No room beyond the gain that makes compression worth it: a probe that
  // does not fit is incompressible.
  probeOut_.resize(static_cast<size_t>(static_cast<double>(probeIn_.size()) * kProbeGain));
  size_t n = libdeflate_deflate_compress(probe, probeIn_.data(), probeIn_.size(), probeOut_.data(), probeOut_.size());
  return n == 0;
}

void BlockDeflater::deflate(std::span<const uint8_t> data, Bytes& out, bool* stored) {
  if (stored) *stored = true;
  if (data.empty() || looksIncompressible(data)) {
    writeStored(data, out);
    return;
  }
  libdeflate_compressor* main = compressor(kLevel);
  // The whole bound: libdeflate needs slack beyond its output, so a buffer
  // cut at the stored size would refuse short inputs that do compress.
  out.resize(libdeflate_deflate_compress_bound(main, data.size()));
  ++fullCompressions_;
  size_t n = libdeflate_deflate_compress(main, data.data(), data.size(), out.data(), out.size());
  if (n == 0 || n >= storedSize(data.size())) {
    writeStored(data, out);
    return;
  }
  out.resize(n);
  if (stored) *stored = false;
}

}  // namespace palvero
