#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ZipTestSupport.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/BlockDeflater.h"
#include "engine/format/Compressor.h"
#include "engine/format/ZipWriter.h"
#include "platform/Env.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

class CompressorTest : public ::testing::Test {
 protected:
  Bytes pack(const Bytes& data, const std::string& name) {
    Bytes out;
    std::string errorText;
    int32_t errorType = 0;
    EXPECT_TRUE(compressor_.CompressPackageStream(data, out, name, "Octet", errorText, errorType, "b0"));
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(errorType, 0);
    return out;
  }
  std::optional<Bytes> unpack(const Bytes& archive, uint64_t maxSize = Compressor::kMaxUnpackedSize) {
    Bytes out{9, 9, 9};
    if (!compressor_.DecompressFromStream(archive, out, false, "TempFileVerFile.tmp", "r0", maxSize)) {
      EXPECT_TRUE(out.empty()) << "no partial output";
      return std::nullopt;
    }
    return out;
  }
  std::string save(const Bytes& data, const std::string& name) {
    std::string path = home_ / name;
    testing::writeFile(path, stringFromBytes(data));
    return path;
  }
  Bytes load(const std::string& path) { return bytesFromString(testing::readFile(path)); }
  std::string log() const { return testing::readFile(LogWriter::sharedLogger().currentLogFilepath()); }
  static std::string sha256Lower(const Bytes& data) {
    std::string hex = BlockCutter::sha256StringFromData(data);
    for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return hex;
  }
  bool cachesHoldFiles() const {
    std::error_code ec;
    std::string caches = Env::cachesDirectory();
    if (!fs::exists(caches, ec)) return false;
    for (const auto& entry : fs::recursive_directory_iterator(caches, ec)) {
      if (entry.is_regular_file()) return true;
    }
    return false;
  }

  testing::TempHome home_;
  Compressor compressor_;
  std::mt19937_64 rng_{7};
};

TEST_F(CompressorTest, PythonReadsOurArchives) {
  struct Case {
    std::string name;
    Bytes data;
    bool stored;  // incompressible: stored deflate blocks, not compressed
  };
  const Case cases[] = {
      {std::string(64, 'A'), testing::compressibleText(rng_, 256000), false},
      {std::string(64, 'B'), testing::randomBytes(rng_, 256000), true},
      {std::string(64, 'C'), testing::randomBytes(rng_, 2048000), true},
      {"/home/user/Documents/report.pdf", bytesFromString("0|/home/user/Documents/report.pdf|3|20240131 17:05:09"),
       false},
      {"/home/user/Документы/отчёт 1.txt", testing::compressibleText(rng_, 5000), false},
      {"empty", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes archive = pack(c.data, c.name);
    Value described = testing::pythonDescribe(home_, save(archive, "ours.zip"));
    ASSERT_EQ(described["entries"].size(), 1u);
    const Value& entry = described["entries"][0];
    EXPECT_EQ(entry["name"], c.name);
    EXPECT_EQ(entry["method"], 8) << "deflated";
    EXPECT_EQ(entry["sha256"], sha256Lower(c.data));
    EXPECT_EQ(entry["size"], c.data.size());
    EXPECT_EQ(entry["storedOnly"].get<bool>(), c.stored);
    if (c.stored) {
      EXPECT_EQ(entry["streamSize"].get<size_t>(), BlockDeflater::storedSize(c.data.size()));
    } else {
      // Level 6 of another deflater: close to zlib's level 6, far from a
      // fast level's output.
      EXPECT_LE(entry["streamSize"].get<double>(), 1.1 * entry["zlib6Size"].get<double>());
    }
    EXPECT_EQ(entry["flags"].get<int>() & 1, 0) << "no password";
    bool ascii =
        std::all_of(c.name.begin(), c.name.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    EXPECT_EQ((entry["flags"].get<int>() & 0x800) != 0, !ascii) << "UTF-8 name flag";
    EXPECT_EQ(entry["comment"], "");
    EXPECT_EQ(described["comment"], "");
    EXPECT_TRUE(described["bad"].is_null());
    // Dated now, to zip's two-second resolution.
    const Value& d = entry["date"];
    Date date = Date::fromLocalComponents(d[0], d[1], d[2], d[3], d[4], d[5]);
    EXPECT_LT(std::abs(date.timeIntervalSince(Date::now())), 120.0);
    EXPECT_EQ(unpack(archive), c.data);
  }
}

TEST_F(CompressorTest, PackingFailureIsReportedAndLogged) {
  // Zip entry names hold at most 65,535 bytes.
  Bytes out{1, 2, 3};
  std::string errorText;
  int32_t errorType = 0;
  EXPECT_FALSE(compressor_.CompressPackageStream(bytesFromString("data"), out, std::string(70000, 'n'), "Octet",
                                                 errorText, errorType, "b0"));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(errorText.rfind("Could not compress file, general stream:", 0), 0u) << errorText;
  EXPECT_EQ(errorType, 1);
  EXPECT_NE(log().find("Exception in CompressPackageStream: "), std::string::npos);
}

TEST_F(CompressorTest, WeReadPythonArchives) {
  Bytes data = testing::compressibleText(rng_, 300000);
  std::string dataPath = save(data, "data.bin");
  struct Case {
    const char* what;
    std::string python;
  };
  const Case cases[] = {
      {"deflated", "zipfile.ZipFile(out, 'w').write(sys.argv[2], 'ABC', zipfile.ZIP_DEFLATED)"},
      {"stored", "zipfile.ZipFile(out, 'w').write(sys.argv[2], 'ABC', zipfile.ZIP_STORED)"},
      {"zip64 records",
       "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
       "with z.open('ABC', 'w', force_zip64=True) as f: f.write(open(sys.argv[2], 'rb').read())\nz.close()"},
      {"streamed with data descriptors",
       "class Sink:\n  def __init__(s): s.f = open(out, 'wb')\n  def write(s, b): return s.f.write(b)\n"
       "  def flush(s): s.f.flush()\n"
       "sink = Sink()\nz = zipfile.ZipFile(sink, 'w', zipfile.ZIP_DEFLATED)\n"
       "with z.open('ABC', 'w') as f: f.write(open(sys.argv[2], 'rb').read())\nz.close(); sink.f.close()"},
      {"absolute name",
       "zipfile.ZipFile(out, 'w').writestr('/home/u/x.txt', open(sys.argv[2], 'rb').read(), "
       "zipfile.ZIP_DEFLATED)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archivePath = home_ / "python.zip";
    std::string script = home_ / "write.py";
    testing::writeFile(script, "import io, sys, zipfile\nout = sys.argv[1]\n" + std::string(c.python) + "\n");
    auto result = testing::runCommand("python3 " + testing::shellQuote(script) + " " +
                                      testing::shellQuote(archivePath) + " " + testing::shellQuote(dataPath) + " 2>&1");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(unpack(load(archivePath)), data);
  }
}

TEST_F(CompressorTest, EntryChoiceFollowsTheFirstNameOfEachLevel) {
  struct Case {
    const char* what;
    std::string python;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"first file by name", "z = zipfile.ZipFile(out, 'w')\nz.writestr('b.txt', 'bee')\nz.writestr('a.txt', 'ay')",
       "ay"},
      {"folder before file", "z = zipfile.ZipFile(out, 'w')\nz.writestr('b.txt', 'bee')\nz.writestr('a/z.txt', 'zed')",
       "zed"},
      {"only a folder", "z = zipfile.ZipFile(out, 'w')\nz.writestr('dir/', '')", std::nullopt},
      {"empty folder first", "z = zipfile.ZipFile(out, 'w')\nz.writestr('a/', '')\nz.writestr('b.txt', 'bee')",
       std::nullopt},
      {"no entries", "zipfile.ZipFile(out, 'w').close()", std::nullopt},
      {"backslashes are folders",
       "z = zipfile.ZipFile(out, 'w')\nz.writestr('x\\\\y.txt', 'why')\nz.writestr('z.txt', 'zed')", "why"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archivePath = home_ / "choice.zip";
    testing::pythonWrite(home_, archivePath, c.python + "\ntry:\n  z.close()\nexcept NameError:\n  pass");
    auto result = unpack(load(archivePath));
    ASSERT_EQ(result.has_value(), c.expected.has_value());
    if (c.expected) {
      EXPECT_EQ(stringFromBytes(*result), *c.expected);
    }
  }
}

TEST_F(CompressorTest, BytesThatAreNotAnArchiveFailAndLeaveNothing) {
  const Bytes cases[] = {{},
                         bytesFromString("0|/a|5|20240131 17:05:09"),
                         testing::randomBytes(rng_, 100000),
                         bytesFromString("PK\x05\x06")};
  for (const Bytes& data : cases) {
    EXPECT_FALSE(unpack(data));
  }
  EXPECT_FALSE(cachesHoldFiles());
}

TEST_F(CompressorTest, TruncatedArchivesFailCleanly) {
  Bytes data = testing::compressibleText(rng_, 20000);
  Bytes archive = pack(data, "NAME");
  for (size_t length = 0; length < archive.size(); ++length) {
    Bytes cut(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length));
    SCOPED_TRACE(length);
    EXPECT_FALSE(unpack(cut));
  }
  EXPECT_FALSE(cachesHoldFiles());
}

TEST_F(CompressorTest, DamagedArchivesNeverYieldWrongData) {
  Bytes data = testing::compressibleText(rng_, 20000);
  Bytes archive = pack(data, "NAME");
  int failed = 0;
  for (size_t at = 0; at < archive.size(); ++at) {
    for (uint8_t flip : {uint8_t{0x01}, uint8_t{0x80}}) {
      Bytes damaged = archive;
      damaged[at] ^= flip;
      auto result = unpack(damaged);
      if (result) {
        ASSERT_EQ(*result, data) << "byte " << at << " flip " << int(flip);
      } else {
        ++failed;
      }
    }
  }
  // Every byte of the deflated data is covered by the CRC.
  EXPECT_GT(failed, static_cast<int>(archive.size()));
  EXPECT_NE(log().find("Exception in DecompressFromStream: "), std::string::npos);
  EXPECT_NE(log().find("Details: source stream length: "), std::string::npos);
}

TEST_F(CompressorTest, InflateBombsAreRefused) {
  Bytes zeros(20 * 1000 * 1000, 0);
  Bytes bomb = pack(zeros, "BOMB");
  ASSERT_LT(bomb.size(), 100000u);
  EXPECT_FALSE(unpack(bomb, Compressor::kMaxBlockSize));
  EXPECT_FALSE(unpack(bomb, 19999999));
  EXPECT_EQ(unpack(bomb, 20000000), zeros);

  // A header that lies about the size: reading stops at the stated size and
  // the CRC catches the rest.
  Bytes liar = bomb;
  testing::patchUncompressedSize(liar, 1000);
  EXPECT_FALSE(unpack(liar, Compressor::kMaxBlockSize));
  // A header that claims more than the bound is refused before inflating.
  Bytes big = pack(Bytes(1000, 1), "BIG");
  testing::patchUncompressedSize(big, 3000000);
  EXPECT_FALSE(unpack(big, Compressor::kMaxBlockSize));
  EXPECT_NE(log().find("exceeds the limit"), std::string::npos);
}

TEST_F(CompressorTest, EncryptedEntriesAreRefused) {
  Bytes archive = pack(testing::compressibleText(rng_, 1000), "X");
  size_t local = testing::findSignature(archive, 0x04034b50);
  size_t central = testing::findSignature(archive, 0x02014b50);
  archive[local + 6] |= 1;
  archive[central + 8] |= 1;
  EXPECT_FALSE(unpack(archive));
}

TEST_F(CompressorTest, TwoThreadsPackingTheSameBlockGetTwoCorrectArchives) {
  Bytes data = testing::compressibleText(rng_, 256000);
  std::string name = BlockCutter::sha256StringFromData(data);
  Bytes results[2];
  bool ok[2] = {false, false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      Compressor own;
      std::string errorText;
      int32_t errorType = 0;
      for (int round = 0; round < 20; ++round) {
        ok[i] =
            own.CompressPackageStream(data, results[i], name, "Octet", errorText, errorType, "b" + std::to_string(i));
        if (!ok[i]) return;
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(ok[i]);
    EXPECT_EQ(unpack(results[i]), data);
    Value described = testing::pythonDescribe(home_, save(results[i], "t" + std::to_string(i) + ".zip"));
    EXPECT_EQ(described["entries"][0]["name"], name);
    EXPECT_EQ(described["entries"][0]["sha256"], sha256Lower(data));
  }
  EXPECT_FALSE(cachesHoldFiles());
}

TEST_F(CompressorTest, GetFullPathDescendsIntoTheFirstEntry) {
  std::string root = home_ / "extract";
  testing::writeFile(root + "/b/file.txt", "b");
  testing::writeFile(root + "/a/z/deep.txt", "deep");
  testing::writeFile(root + "/a/y.txt", "y");
  EXPECT_EQ(Compressor::getFullPath(root), root + "/a/y.txt");
  fs::create_directories(home_ / "empty/inner");
  EXPECT_EQ(Compressor::getFullPath(home_ / "empty"), home_ / "empty/inner");
  EXPECT_EQ(Compressor::getFullPath(root + "/b/file.txt"), root + "/b/file.txt");
}

TEST_F(CompressorTest, ScratchFolderIsPerThreadTag) {
  std::string b1 = Compressor::scratchFolder("b1");
  std::string r1 = Compressor::scratchFolder("r1");
  EXPECT_EQ(b1, Env::cachesDirectory() + "/PalveroCaches/b1");
  EXPECT_EQ(r1, Env::cachesDirectory() + "/PalveroCaches/r1");
  EXPECT_TRUE(fs::is_directory(b1));
  EXPECT_TRUE(fs::is_directory(r1));
  testing::writeFile(home_ / "blocker", "x");
  setenv("XDG_CACHE_HOME", (home_ / "blocker").c_str(), 1);
  EXPECT_EQ(Compressor::scratchFolder("b1"), "");
}

}  // namespace
}  // namespace palvero
