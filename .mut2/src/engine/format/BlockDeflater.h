// Raw deflate streams for the packed form, through libdeflate at level 6:
// the only place that calls libdeflate. Data that a cheap probe finds
// incompressible (random bytes, JPEG, video, archives) is not compressed at
// all: it becomes stored deflate blocks, which any inflater reads, at the
// cost of a copy instead of a full compression attempt.
//
// The probe compresses a few slices spread over the data at level 1; when
// they shrink by less than kProbeGain, the data is stored. Data below
// kProbeMinimum bytes is always compressed (the attempt costs little there).
//
// Thread contract: one deflater per thread (an engine's Compressor owns
// one); crc32() and writeStored() are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Bytes.h"

struct libdeflate_compressor;

namespace palvero {

class BlockDeflater {
 public:
  static constexpr int kLevel = 6;
  static constexpr int kProbeLevel = 1;
  // Largest length of one stored deflate block.
  static constexpr size_t kStoredBlockMax = 65535;
  // Data shorter than this is compressed without probing.
  static constexpr size_t kProbeMinimum = 32 * 1024;
  static constexpr size_t kProbeSlices = 4;
  static constexpr size_t kProbeSliceSize = 4096;
  // The probe's output must be below this share of its input for the data
  // to be compressed.
  static constexpr double kProbeGain = 0.97;

  BlockDeflater();
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  // Replaces `out` with one complete raw deflate stream of `data` (stored
  // blocks when the probe finds it incompressible, or when compressing did
  // not make it smaller). `*stored` tells which. Throws std::bad_alloc when
  // libdeflate cannot get memory.
  void deflate(std::span<const uint8_t> data, Bytes& out, bool* stored = nullptr);
  // Whether the probe finds `data` not worth compressing.
  bool looksIncompressible(std::span<const uint8_t> data);

  // `data` as stored deflate blocks of at most kStoredBlockMax bytes, the
  // last one final (an empty input gives one empty final block).
  static void writeStored(std::span<const uint8_t> data, Bytes& out);
  static size_t storedSize(size_t length);
  // The zip CRC-32 of `data`.
  static uint32_t crc32(std::span<const uint8_t> data);

  // How many times deflate() ran the level-6 compressor.
  size_t fullCompressions() const { return fullCompressions_; }

 private:
  libdeflate_compressor* compressor(int level);

  libdeflate_compressor* main_ = nullptr;
  libdeflate_compressor* probe_ = nullptr;
  Bytes probeIn_;
  Bytes probeOut_;
  size_t fullCompressions_ = 0;
};

}  // namespace palvero
