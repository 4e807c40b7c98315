#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FormatTestSupport.h"
#include "engine/format/BlockCutter.h"
#include "state/LogWriter.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class BlockCutterTest : public ::testing::Test {
 protected:
  std::string makeFile(const std::string& name, const Bytes& data) {
    std::string path = home_ / name;
    testing::writeFile(path, stringFromBytes(data));
    return path;
  }
  // A sparse file of `size` zero bytes.
  std::string makeSparse(const std::string& name, int64_t size) {
    std::string path = home_ / name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
  }
  std::string log() const { return testing::readFile(LogWriter::sharedLogger().currentLogFilepath()); }

  testing::TempHome home_;
  BlockCutter cutter_;
  std::mt19937_64 rng_{20240131};
};

struct Expected {
  int64_t length;
  int64_t position;
  int64_t offset;
};

void expectLayout(const std::vector<FileBlock>& blocks, const std::vector<Expected>& expected) {
  ASSERT_EQ(blocks.size(), expected.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    EXPECT_EQ(blocks[i].length, expected[i].length);
    EXPECT_EQ(blocks[i].position, expected[i].position);
    EXPECT_EQ(blocks[i].offset, expected[i].offset);
  }
}

TEST_F(BlockCutterTest, SizeRules) {
  struct Case {
    int64_t length, cut, ladder;
  };
  for (const Case& c :
       {Case{0, 256000, 0}, Case{1, 256000, 1}, Case{255999, 256000, 255999}, Case{256000, 256000, 256000},
        Case{1023999, 256000, 256000}, Case{1024000, 256000, 1024000}, Case{2047999, 256000, 1024000},
        Case{2048000, 256000, 2048000}, Case{102399999, 256000, 2048000}, Case{102400000, 1024000, 2048000},
        Case{204799999, 1024000, 2048000}, Case{204800000, 2048000, 2048000}}) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(BlockCutter::GetOptimumBlockSize(c.length), c.cut);
    EXPECT_EQ(BlockCutter::GetBlockSize(c.length), c.ladder);
  }
}

TEST_F(BlockCutterTest, EmptyFileGivesNoBlocks) {
  std::string path = makeFile("empty", {});
  bool opened = false;
  auto blocks = cutter_.CreateBlocksList(0, path, &opened);
  ASSERT_TRUE(blocks);
  EXPECT_TRUE(blocks->empty());
  EXPECT_TRUE(opened);
  EXPECT_EQ(FileBlock::blockListString(*blocks), "[]");
}

TEST_F(BlockCutterTest, LargeCutTailLadderAndTheEmptyLastPiece) {
  // Cut at 2,048,000 with a tail of 1,280,000 = 1,024,000 + 256,000 + an
  // empty last piece, which the ladder makes into an empty block.
  int64_t size = 2048000 + 1280000;
  std::string path = makeFile("f", testing::randomBytes(rng_, static_cast<size_t>(size)));
  auto blocks = cutter_.CreateBlocksList(204800000, path);
  ASSERT_TRUE(blocks);
  expectLayout(*blocks, {{2048000, 0, 0}, {1024000, 2, 2048000}, {256000, 3, 3072000}, {0, 4, 3328000}});
  EXPECT_EQ(blocks->back().checksum, "");
  EXPECT_EQ(blocks->back().smallChecksum, "");
}

TEST_F(BlockCutterTest, StaleLengthCutsWhatIsThere) {
  // The length given says "cut at 1,024,000", the file holds 600,000 bytes:
  // the first read sets the block size to the ladder of 600,000 (256,000).
  std::string path = makeFile("f", testing::randomBytes(rng_, 600000));
  auto blocks = cutter_.CreateBlocksList(150000000, path);
  ASSERT_TRUE(blocks);
  expectLayout(*blocks, {{256000, 0, 0}, {256000, 1, 256000}, {88000, 3, 512000}});
  Bytes data = bytesFromString(testing::readFile(path));
  EXPECT_EQ(blocks->at(2).checksum, BlockCutter::sha256StringFromData({data.data() + 512000, 88000}));
}

// Blocks of 7 to 9 bytes and their check integers are in the property test.
TEST_F(BlockCutterTest, CheckIntegersReachingPastTheDataAreZero) {
  Bytes twelve = {0, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f, 9, 8, 7, 6};
  EXPECT_EQ(BlockCutter::GetIntFromBytes(twelve, 8), 0x06070809);
  EXPECT_EQ(BlockCutter::GetIntFromBytes(twelve, 9), 0);
  EXPECT_EQ(BlockCutter::GetIntFromBytes(twelve, -1), 0);
  EXPECT_EQ(BlockCutter::GetFirstCheckInt(twelve, 4), BlockCutter::GetIntFromBytes(twelve, 8));
  EXPECT_EQ(BlockCutter::GetFirstCheckInt(twelve, 5), 0);
  EXPECT_EQ(BlockCutter::GetLastCheckInt(twelve, 2, 10), BlockCutter::GetIntFromBytes(twelve, 4));
  EXPECT_EQ(BlockCutter::GetLastCheckInt(twelve, 2, 7), 0);
}

TEST_F(BlockCutterTest, ZeroBlocksOfTheMediumCutMatchSha256sum) {
  auto expected = testing::runCommand("head -c 1024000 /dev/zero | sha256sum");
  ASSERT_EQ(expected.exitCode, 0);
  std::string path = makeSparse("zeros", 102400000 + 1024000);
  auto blocks = cutter_.CreateBlocksList(102400000 + 1024000, path);
  ASSERT_TRUE(blocks);
  ASSERT_EQ(blocks->size(), 101u);
  std::string sha = expected.output.substr(0, 64);
  for (char& c : sha) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const FileBlock& b : *blocks) ASSERT_EQ(b.checksum, sha);
}

TEST_F(BlockCutterTest, FilesThatCannotBeOpenedGiveAnEmptyList) {
  std::string regular = makeFile("regular", bytesFromString("content that is there"));
  std::string fifo = home_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::string link = home_ / "link";
  fs::create_symlink(regular, link);
  std::string folder = home_ / "folder";
  fs::create_directory(folder);
  for (const std::string& path : {fifo, link, folder, home_ / "missing", std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    bool opened = true;
    auto blocks = cutter_.CreateBlocksList(100, path, &opened);
    ASSERT_TRUE(blocks);
    EXPECT_TRUE(blocks->empty());
    EXPECT_FALSE(opened);
  }
  EXPECT_NE(log().find("Starting DeltaHandler CreateBlocksList: " + fifo), std::string::npos);
}

TEST_F(BlockCutterTest, UnreadableFileGivesAnEmptyList) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files regardless of permissions";
  std::string path = makeFile("secret", bytesFromString("x"));
  ::chmod(path.c_str(), 0);
  auto blocks = cutter_.CreateBlocksList(1, path);
  ASSERT_TRUE(blocks);
  EXPECT_TRUE(blocks->empty());
}

TEST_F(BlockCutterTest, ReadErrorGivesNoListAndIsLogged) {
  // /proc/self/mem is a regular file whose reads fail at offset 0, where
  // nothing is mapped.
  std::string mem = "/proc/self/mem";
  struct stat st {};
  if (::stat(mem.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) GTEST_SKIP() << "no /proc/self/mem";
  auto blocks = cutter_.CreateBlocksList(1000, mem);
  EXPECT_FALSE(blocks);
  EXPECT_NE(log().find("CreateBlocksList exception: /proc/self/mem"), std::string::npos);
}

}  // namespace
}  // namespace palvero
