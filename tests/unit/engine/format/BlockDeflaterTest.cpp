#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "FormatTestSupport.h"
#include "engine/format/BlockDeflater.h"

namespace palvero {
namespace {

// Inflates a raw deflate stream with zlib, which reads what we write;
// nothing when zlib rejects it or it does not end exactly at its last byte.
std::optional<Bytes> inflateRaw(const Bytes& stream, size_t expected) {
  Bytes out(expected + 1);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  size_t produced = z.total_out;
  bool whole = z.avail_in == 0;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || !whole) return std::nullopt;
  out.resize(produced);
  return out;
}

// The lengths of the stored blocks `stream` is made of; nothing when it
// holds anything else or a block's NLEN does not match.
std::optional<std::vector<size_t>> storedBlockLengths(const Bytes& stream) {
  std::vector<size_t> lengths;
  size_t at = 0;
  while (true) {
    if (at + 5 > stream.size() || (stream[at] & ~1u) != 0) return std::nullopt;
    bool final = stream[at] & 1;
    size_t length = stream[at + 1] | size_t{stream[at + 2]} << 8;
    size_t inverse = stream[at + 3] | size_t{stream[at + 4]} << 8;
    if ((length ^ 0xffff) != inverse || at + 5 + length > stream.size()) return std::nullopt;
    lengths.push_back(length);
    at += 5 + length;
    if (final) return at == stream.size() ? std::optional(lengths) : std::nullopt;
  }
}

TEST(BlockDeflaterTest, StoredBlocksSplitAtTheLargestLengthAndInflate) {
  std::mt19937_64 rng(11);
  const std::pair<size_t, std::vector<size_t>> cases[] = {
      {0, {0}},
      {1, {1}},
      {65534, {65534}},
      {65535, {65535}},
      {65536, {65535, 1}},
      {131070, {65535, 65535}},
      {256000, {65535, 65535, 65535, 59395}},
  };
  for (const auto& [size, lengths] : cases) {
    SCOPED_TRACE(size);
    Bytes data = testing::randomBytes(rng, size);
    Bytes stream{7, 7};
    BlockDeflater::writeStored(data, stream);
    EXPECT_EQ(storedBlockLengths(stream), lengths);
    EXPECT_EQ(stream.size(), BlockDeflater::storedSize(size));
    EXPECT_EQ(inflateRaw(stream, size), data);
  }
}

TEST(BlockDeflaterTest, ProbeStoresIncompressibleDataWithoutCompressingIt) {
  std::mt19937_64 rng(12);
  Bytes random = testing::randomBytes(rng, 256000);
  Bytes text = testing::compressibleText(rng, 256000);
  // Mostly text with random bytes at the start: the probe sees the text.
  Bytes headed = text;
  Bytes head = testing::randomBytes(rng, 40000);
  std::copy(head.begin(), head.end(), headed.begin());
  // Random bytes with a text tail the probe reaches.
  Bytes tailed = random;
  std::copy(text.begin(), text.begin() + 8192, tailed.end() - 8192);
  // Short data is compressed without probing; random bytes then do not fit
  // below the stored size and are stored after all.
  Bytes shortRandom = testing::randomBytes(rng, BlockDeflater::kProbeMinimum - 1);
  Bytes shortText = testing::compressibleText(rng, 5000);
  struct Case {
    const char* name;
    const Bytes& data;
    bool stored;
    size_t compressions;
  };
  const Case cases[] = {
      {"random", random, true, 0},      {"text", text, false, 1},
      {"random head", headed, false, 1}, {"text tail", tailed, false, 1},
      {"short random", shortRandom, true, 1}, {"short text", shortText, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlockDeflater deflater;
    Bytes stream;
    bool stored = !c.stored;
    deflater.deflate(c.data, stream, &stored);
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(deflater.fullCompressions(), c.compressions);
    EXPECT_EQ(storedBlockLengths(stream).has_value(), c.stored);
    if (!c.stored) {
      EXPECT_LT(stream.size(), c.data.size());
    }
    EXPECT_EQ(inflateRaw(stream, c.data.size()), c.data);
  }
}

}  // namespace
}  // namespace palvero
