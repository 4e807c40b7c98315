// The upload limit in real runs of `palvero backup`: the same client backs
// up incompressible files without a limit (learning its peak) and then at
// 25 %, and the limited run's rate is about a quarter of the unlimited one.
// The two rates are measured in the same test on the same machine and only
// their ratio is checked, never a speed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "CliFixture.h"

namespace palvero::testing {
namespace {

constexpr int64_t kFileBytes = 8 * 1024 * 1024;

class CliBandwidthTest : public CliFixture {
 protected:
  // `count` files of random bytes under Documents/NAME (".txt": a type the
  // default selection keeps).
  int64_t makeRandomFiles(const std::string& name, int count) {
    std::mt19937_64 random(std::hash<std::string>{}(name));
    for (int i = 0; i < count; ++i) {
      std::string data(static_cast<size_t>(kFileBytes), '\0');
      for (size_t at = 0; at + 8 <= data.size(); at += 8) {
        uint64_t word = random();
        std::memcpy(&data[at], &word, 8);
      }
      std::string path = home_ / ("Documents/" + name + "/part-" + std::to_string(i) + ".txt");
      writeFile(path, data);
      age(path);
    }
    return count * kFileBytes;
  }

  // Scans, then times the backup; bytes per second of the files backed up.
  double backupRate(int64_t bytes) {
    EXPECT_EQ(run({"scan", "--changed"}).code, 0);
    auto start = std::chrono::steady_clock::now();
    CliResult backup = run({"backup"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(backup.code, 0) << backup.err;
    return static_cast<double>(bytes) / seconds;
  }

  int64_t storedPeak() {
    CliResult peak = run({"settings", "get", "UploadPeakRate"});
    return peak.code == 0 ? std::stoll(peak.out) : 0;
  }
};

TEST_F(CliBandwidthTest, AQuarterOfTheMeasuredPeakIsAboutAQuarterOfTheUnlimitedRate) {
  ASSERT_EQ(login().code, 0);
  ASSERT_EQ(run({"scan"}).code, 0);
  ASSERT_EQ(run({"backup"}).code, 0);
  EXPECT_EQ(run({"settings", "get", "BandwidthLimit"}).out, "100\n");

  // Unlimited, until a peak was measured. A run shorter than one window of
  // uploads (three seconds) measures none, so after a first small run each
  // corpus is sized from the rate just seen to last about six seconds.
  double unlimited = 0;
  int files = 6;
  for (int attempt = 0; attempt < 4 && storedPeak() == 0; ++attempt) {
    unlimited = backupRate(makeRandomFiles("unlimited" + std::to_string(attempt), files));
    files = std::clamp(static_cast<int>(unlimited * 6 / kFileBytes), 2 * files, 160);
  }
  const double peak = static_cast<double>(storedPeak());
  ASSERT_GT(peak, 0) << "no peak was measured";

  ASSERT_EQ(run({"settings", "set", "BandwidthLimit", "25"}).code, 0);
  // About eight seconds at the limit.
  int limitedFiles = static_cast<int>(std::clamp(0.25 * peak * 8 / kFileBytes, 2.0, 24.0));
  double limited = backupRate(makeRandomFiles("limited", limitedFiles));

  double ofUnlimited = limited / unlimited;
  double ofPeak = limited / peak;
  std::printf(
      "unlimited run %.1f MB/s, peak %.1f MB/s, 25 %% run %.1f MB/s: %.2f of the unlimited run, %.2f of the peak\n",
      unlimited / 1e6, peak / 1e6, limited / 1e6, ofUnlimited, ofPeak);
  RecordProperty("unlimited_bytes_per_second", std::to_string(static_cast<int64_t>(unlimited)));
  RecordProperty("limited_bytes_per_second", std::to_string(static_cast<int64_t>(limited)));
  RecordProperty("peak_bytes_per_second", std::to_string(static_cast<int64_t>(peak)));
  // The limit holds the upload to a quarter of the peak; the run around it
  // (listing, hashing, version files) costs a little on top.
  EXPECT_GT(ofPeak, 0.15);
  EXPECT_LT(ofPeak, 0.30);
  EXPECT_GT(ofUnlimited, 0.12);
  EXPECT_LT(ofUnlimited, 0.40);
}

TEST_F(CliBandwidthTest, TheLimitIsAPercentage) {
  for (const char* bad : {"0", "101", "-3", "fast", ""}) {
    SCOPED_TRACE(bad);
    CliResult set = run({"settings", "set", "BandwidthLimit", bad});
    EXPECT_NE(set.code, 0);
    EXPECT_NE(set.err.find("1 to 100"), std::string::npos) << set.err;
  }
  EXPECT_EQ(run({"settings", "set", "BandwidthLimit", "40"}).code, 0);
  EXPECT_EQ(run({"settings", "get", "BandwidthLimit"}).out, "40\n");
  EXPECT_EQ(run({"settings", "set", "BandwidthLimit", "100"}).code, 0);
  EXPECT_EQ(run({"settings", "get", "BandwidthLimit"}).out, "100\n");
}

}  // namespace
}  // namespace palvero::testing
