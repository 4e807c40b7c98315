// palvero verify against palvero-service: a clean store passes; a stored
// block with a byte flipped (plain or packed) or removed makes the file
// unrestorable, named, exit 3; a random sample checks its share; nothing is
// written; a device that cannot be listed is named too.
#include <filesystem>
#include <regex>

#include "CliFixture.h"
#include "engine/format/BlockCutter.h"

namespace palvero::testing {
namespace {

class CliVerifyTest : public CliFixture {
 protected:
  static std::string checksumOf(const std::string& data) {
    return BlockCutter::sha256StringFromData(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  }
  static int64_t verifiedCount(const std::string& out) {
    std::smatch match;
    if (!std::regex_search(out, match, std::regex("Verified ([0-9]+) files"))) return -1;
    return std::stoll(match[1]);
  }
  // Every file under the home folder with its size and change time.
  std::map<std::string, std::pair<uintmax_t, long long>> snapshot() {
    std::map<std::string, std::pair<uintmax_t, long long>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home_ / "Documents")) {
      if (!entry.is_regular_file()) continue;
      files[entry.path()] = {entry.file_size(), entry.last_write_time().time_since_epoch().count()};
    }
    return files;
  }
};

TEST_F(CliVerifyTest, DamagedOrMissingBlocksNameTheirFilesAndASampleChecksItsShare) {
  EXPECT_EQ(run({"verify"}).code, 2) << "not logged in";
  ASSERT_EQ(login({"--new-device", "checked"}).code, 0);
  useTenWorkers();
  auto small = makeFiles("plain", 40);  // one stored block each, not packed (< 4,000 bytes)
  // Three compressible blocks (256,000 + 256,000 + 88,000 bytes), stored packed.
  std::string big;
  for (int i = 0; big.size() < 600000; ++i) big += "line " + std::to_string(i) + " of the big file\n";
  big.resize(600000);
  std::string bigPath = home_ / "Documents/big/big.log";
  writeFile(bigPath, big);
  age(bigPath);
  std::string tinyPath = home_ / "Documents/big/tiny.txt";  // carried in its version text
  writeFile(tinyPath, "tiny");
  age(tinyPath);
  ASSERT_EQ(run({"scan"}).code, 0);
  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;

  auto before = snapshot();
  CliResult clean = run({"verify"});
  ASSERT_EQ(clean.code, 0) << clean.out << clean.err;
  int64_t all = verifiedCount(clean.out);
  EXPECT_GE(all, 42) << clean.out;
  EXPECT_NE(clean.out.find("Every file checked can be restored."), std::string::npos) << clean.out;
  EXPECT_EQ(snapshot(), before) << "verify writes nothing";
  CliResult sample = run({"verify", "--sample", "10"});
  ASSERT_EQ(sample.code, 0) << sample.out << sample.err;
  int64_t share = (all + 9) / 10;
  EXPECT_EQ(verifiedCount(sample.out), share) << sample.out;
  EXPECT_NE(sample.out.find("(a random " + std::to_string(share) + " of " + std::to_string(all) + ")"),
            std::string::npos)
      << sample.out;

  struct Damage {
    const char* name;
    std::string path;
    std::string block;
    const char* how;
    const char* reason;
  };
  const std::string middle = big.substr(256000, 256000);
  const std::vector<Damage> damages = {
      {"plain block flipped", small[2], checksumOf(readFile(small[2])), "flip", "does not match"},
      {"packed block flipped", bigPath, checksumOf(middle), "flip", "does not match"},
      {"block removed", small[4], checksumOf(readFile(small[4])), "remove", "cannot be fetched"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    std::string stored = service_.damageBlock(d.block, d.how);
    EXPECT_EQ(stored.substr(0, 64), d.block);
    CliResult found = run({"verify"});
    EXPECT_EQ(found.code, 3) << found.out << found.err;
    EXPECT_NE(found.out.find("1 cannot be restored:\n  " + d.path + ": block " + d.block), std::string::npos)
        << found.out;
    EXPECT_NE(found.out.find(d.reason), std::string::npos) << found.out;
    EXPECT_EQ(verifiedCount(found.out), all) << "every other file is still checked";
    if (std::string(d.how) == "flip") {
      service_.damageBlock(d.block, "flip");  // back as it was
      EXPECT_EQ(run({"verify"}).code, 0) << "the same byte flipped back";
    }
  }
  EXPECT_EQ(snapshot(), before);

  // The removed block stays removed: a sample finds it only when drawn, and
  // every file of a full sample is.
  EXPECT_EQ(run({"verify", "--sample", "100"}).code, 3);
  for (const char* bad : {"0", "-5", "101", "lots"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(run({"verify", "--sample", bad}).code, 1);
  }
  CliResult own = run({"verify", "--device", deviceId()});
  EXPECT_EQ(own.code, 3) << own.out << own.err;
  EXPECT_NE(own.out.find(small[4] + ": block"), std::string::npos) << own.out;
  CliResult stranger = run({"verify", "--device", "no-such-device"});
  EXPECT_EQ(stranger.code, 3) << stranger.out << stranger.err;
  EXPECT_NE(stranger.out.find("device no-such-device: it cannot be listed"), std::string::npos) << stranger.out;

  CliResult away = run({"--server", "http://127.0.0.1:1/server.php", "verify"});
  EXPECT_EQ(away.code, 4) << away.out << away.err;
}

}  // namespace
}  // namespace palvero::testing
