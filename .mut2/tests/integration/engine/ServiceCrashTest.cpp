// palvero-service killed with SIGKILL and started again, over and over, while
// three engines back files up. Whatever the service acknowledged must
// survive: every file whose backup reported success has its revision, the
// client's block cache never names a block the service lacks (a later backup
// would skip that block and leave a revision nobody can restore), and every
// file restores byte for byte.
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "EngineFixture.h"
#include "engine/format/BlockCutter.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

class ServiceCrashTest : public EngineFixture {};

TEST_F(ServiceCrashTest, EveryAcknowledgedRevisionAndBlockSurvivesRepeatedKills) {
  const uint64_t seed = 20240131;
  std::mt19937_64 generator(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  // Files are made as the engines ask for them, until the service has been
  // killed fifteen times, so that every kill lands in the middle of backups
  // however fast they run. Sizes across the block boundaries; every third
  // file starts with the previous one's first block, so that blocks are
  // shared between files. Each path is written once: what it holds is what
  // was acknowledged.
  std::mutex filesMutex;
  std::vector<std::pair<std::string, std::string>> files;  // guarded by filesMutex
  auto nextFile = [&] {
    std::lock_guard lock(filesMutex);
    size_t i = files.size();
    static const size_t kSizes[] = {90, 4000, 256000, 300000, 700000, 1100000};
    std::string content = randomContent(kSizes[i % 6] + i, seed + i);
    if (i % 3 == 2 && files.back().second.size() >= 256000 && content.size() >= 256000) {
      content.replace(0, 256000, files.back().second, 0, 256000);
    }
    std::string path = dataPath("file-" + std::to_string(i) + ".bin");
    writeFile(path, content);
    files.emplace_back(path, content);
    return path;
  };

  std::atomic<bool> stop{false};
  std::atomic<size_t> acknowledged{0};
  std::atomic<size_t> given{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      auto engine = newEngine();
      while (!stop.load()) {
        std::string path = nextFile();
        ++given;
        // A failure while the service was down is counted as the queue
        // counts it: the file goes again (within a minute of real time).
        auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        bool stored = false;
        while (!(stored = backup(path, engine.get())) && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (stored) ++acknowledged;
      }
    });
  }
  for (int kills = 0; kills < 15; ++kills) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + generator() % 200));
    service_.crashAndRestart();
  }
  stop.store(true);
  for (auto& worker : workers) worker.join();
  ASSERT_EQ(acknowledged.load(), given.load()) << "files still failing a minute after the last kill";

  std::vector<std::string> checksums;
  BlockCutter cutter;
  for (const auto& [path, content] : files) {
    EXPECT_FALSE(service_.versions(device_.clientId, path).empty()) << path << ": acknowledged, then lost";
    auto blocks = cutter.CreateBlocksList(static_cast<int64_t>(content.size()), path);
    ASSERT_TRUE(blocks);
    for (const auto& block : *blocks) {
      if (block.length > 256) checksums.push_back(block.checksum);
    }
  }
  std::vector<std::string> notCached = DBManager::sharedDBManager().checkBlocks(checksums);
  std::set<std::string> uncached(notCached.begin(), notCached.end());
  for (const auto& checksum : checksums) {
    if (uncached.count(checksum)) continue;
    EXPECT_TRUE(service_.block(checksum).value("held", false)) << checksum << " is cached but not held";
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& [path, content] = files[i];
    std::string target = restoredPath("file-" + std::to_string(i) + ".bin");
    ASSERT_TRUE(restore(path, target)) << path << ": " << lastPosted().userInfo.dump();
    EXPECT_TRUE(readFile(target) == content) << path;
  }
}

}  // namespace
}  // namespace palvero::testing
