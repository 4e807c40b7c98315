// Random files of random sizes, with extra weight around every size boundary:
// the blocks must be contiguous, cover the file exactly, name their own bytes,
// follow the cut and ladder sizes, and survive the version text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

#include "FormatTestSupport.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/VersionFile.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

// Independent of the code under test: one-shot EVP digests, lower-case hex.
std::string digestHex(const EVP_MD* md, const uint8_t* data, size_t size) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(data, size, out, &n, md, nullptr), 1);
  std::string hex;
  for (unsigned i = 0; i < n; ++i) {
    static const char* kDigits = "0123456789ABCDEF";
    hex += kDigits[out[i] >> 4];
    hex += kDigits[out[i] & 15];
  }
  return hex;
}

uint64_t seedFromEnvironment() {
  if (const char* text = std::getenv("PALVERO_TEST_SEED")) return std::strtoull(text, nullptr, 10);
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

class BlockCutterPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seed_ = seedFromEnvironment();
    std::cout << "seed " << seed_ << " (rerun with PALVERO_TEST_SEED=" << seed_ << ")\n";
    rng_.seed(seed_);
  }

  // A file of `size` bytes: random throughout when small, else sparse with
  // random 4 KiB patches so that every block still differs.
  Bytes makeFile(const std::string& path, int64_t size) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    if (size <= 8 * 1024 * 1024) {
      Bytes data = testing::randomBytes(rng_, static_cast<size_t>(size));
      EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
      ::close(fd);
      return data;
    }
    EXPECT_EQ(::ftruncate(fd, size), 0);
    for (int64_t at = static_cast<int64_t>(rng_() % 4096); at < size; at += 200000 + rng_() % 300000) {
      Bytes patch = testing::randomBytes(rng_, static_cast<size_t>(std::min<int64_t>(4096, size - at)));
      EXPECT_EQ(::pwrite(fd, patch.data(), patch.size(), at), static_cast<ssize_t>(patch.size()));
    }
    Bytes last = testing::randomBytes(rng_, static_cast<size_t>(std::min<int64_t>(size, 300)));
    EXPECT_EQ(::pwrite(fd, last.data(), last.size(), size - static_cast<int64_t>(last.size())),
              static_cast<ssize_t>(last.size()));
    ::close(fd);
    return {};
  }

  static Bytes readAt(const std::string& path, int64_t offset, size_t size) {
    Bytes out(size);
    int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_EQ(::pread(fd, out.data(), size, offset), static_cast<ssize_t>(size));
    ::close(fd);
    return out;
  }

  void checkFile(int64_t size) {
    SCOPED_TRACE("size " + std::to_string(size) + ", seed " + std::to_string(seed_));
    std::string path = home_ / "file";
    Bytes data = makeFile(path, size);
    const bool sparse = data.empty() && size > 0;

    auto blocks = cutter_.CreateBlocksList(size, path);
    ASSERT_TRUE(blocks);
    const int64_t cut = BlockCutter::GetOptimumBlockSize(size);
    const int64_t full = BlockCutter::GetBlockSize(std::min(size, cut));
    int64_t offset = 0;
    int64_t lastPosition = -1;
    bool tail = false;
    for (size_t i = 0; i < blocks->size(); ++i) {
      const FileBlock& b = (*blocks)[i];
      SCOPED_TRACE("block " + std::to_string(i));
      ASSERT_EQ(b.offset, offset);
      ASSERT_LE(b.offset + b.length, size);
      bool isLast = i + 1 == blocks->size();
      if (!tail && b.length != full) {
        tail = true;
        ASSERT_EQ(b.position, lastPosition + 2) << "the discarded tail chunk takes one position";
      } else {
        ASSERT_EQ(b.position, lastPosition + 1);
      }
      if (!isLast) {
        ASSERT_TRUE(b.length == 256000 || b.length == 1024000 || b.length == 2048000) << b.length;
        if (tail) {
          ASSERT_LT(b.length, full);
        }
      } else if (tail) {
        ASSERT_LT(b.length, 256000);
      }
      auto n = static_cast<size_t>(b.length);
      Bytes own;
      const uint8_t* bytes = data.data() + b.offset;
      if (sparse) {
        // Large files: every block's layout is checked, a sample its bytes.
        bool sampled = i < 3 || i + 3 >= blocks->size() || rng_() % 50 == 0;
        if (!sampled) {
          offset += b.length;
          lastPosition = b.position;
          continue;
        }
        own = readAt(path, b.offset, n);
        bytes = own.data();
      }
      if (b.length > 256) {
        ASSERT_EQ(b.checksum, digestHex(EVP_sha256(), bytes, n));
        ASSERT_EQ(b.smallChecksum, digestHex(EVP_md5(), bytes, n));
      } else {
        ASSERT_EQ(b.checksum, testing::hexOf(Bytes(bytes, bytes + n)));
        ASSERT_EQ(b.smallChecksum, "");
      }
      auto le = [&](size_t at) {
        return static_cast<int32_t>(uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
                                    uint32_t{bytes[at + 3]} << 24);
      };
      ASSERT_EQ(b.FirstCheckInt, n >= 8 ? le(4) : 0);
      ASSERT_EQ(b.LastCheckInt, n >= 8 ? le(n - 8) : 0);
      offset += b.length;
      lastPosition = b.position;
    }
    ASSERT_EQ(offset, size) << "blocks cover the file exactly";

    FileDesc desc(Date::fromLocalComponents(2024, 5, 6, 7, 8, 9), path, size);
    desc.FileParts.push_back(FilePart(path, size));
    desc.FileParts[0].FileBlocks = *blocks;
    auto back = VersionFile::ParseFileVersionInfo(VersionFile::FormatFileVersionInfo(desc));
    ASSERT_TRUE(back);
    for (size_t i = 0; i < blocks->size(); ++i) desc.FileParts[0].FileBlocks[i].position = static_cast<int64_t>(i);
    ASSERT_EQ(*back, desc);
    for (size_t i = 0; i < blocks->size(); ++i) {
      const FileBlock& a = desc.FileParts[0].FileBlocks[i];
      const FileBlock& b = back->FileParts[0].FileBlocks[i];
      ASSERT_EQ(a.position, b.position);
      ASSERT_EQ(a.FirstCheckInt, b.FirstCheckInt);
      ASSERT_EQ(a.LastCheckInt, b.LastCheckInt);
    }
  }

  testing::TempHome home_;
  BlockCutter cutter_;
  std::mt19937_64 rng_;
  uint64_t seed_ = 0;
};

TEST_F(BlockCutterPropertyTest, SmallAndMediumSizesAroundEveryBoundary) {
  std::vector<int64_t> sizes = {0, 1, 7, 8, 9, 255, 256, 257, 258};
  for (int64_t boundary : {int64_t{256000}, int64_t{512000}, int64_t{1024000}, int64_t{1280000}, int64_t{2048000},
                           int64_t{2304000}, int64_t{4096000}}) {
    for (int64_t delta : {-1, 0, 1}) sizes.push_back(boundary + delta);
    sizes.push_back(boundary + static_cast<int64_t>(rng_() % 5000) - 2500);
  }
  for (int i = 0; i < 12; ++i) sizes.push_back(static_cast<int64_t>(rng_() % 6000000));
  for (int64_t size : sizes) {
    checkFile(size);
    if (HasFatalFailure()) return;
  }
}

TEST_F(BlockCutterPropertyTest, LargeCutSizesAroundTheirBoundaries) {
  // Sparse files: the cut size changes at 102,400,000 and 204,800,000 bytes.
  std::vector<int64_t> sizes = {102399999, 102400000, 204799999, 204800000};
  sizes.push_back(204800000 + 1 + static_cast<int64_t>(rng_() % 2047999));
  for (int64_t size : sizes) {
    checkFile(size);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace palvero
