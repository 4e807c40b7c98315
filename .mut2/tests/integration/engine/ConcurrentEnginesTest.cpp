// Several workers, each with its own engine, back up and restore at once;
// they share the block table, the settings and the log.
#include <filesystem>

#include "EngineFixture.h"

namespace palvero::testing {
namespace {

class ConcurrentEnginesTest : public EngineFixture {};

TEST_F(ConcurrentEnginesTest, ThreeEnginesBackUpAndRestoreOverlappingFilesAtOnce) {
  constexpr int kEngines = 3;
  constexpr int kFilesPerEngine = 4;
  std::vector<std::string> contents;
  for (int i = 0; i < kEngines * kFilesPerEngine; ++i) {
    // Every third file repeats another's content, so engines race on blocks.
    contents.push_back(i % 3 == 2 ? contents[i - 2] : randomContent(300000 + 70000 * i, i));
    writeFile(dataPath("f" + std::to_string(i) + ".bin"), contents.back());
  }
  std::vector<std::unique_ptr<DeltaHandler>> engines;
  for (int e = 0; e < kEngines; ++e) engines.push_back(newEngine());

  auto runAll = [&](const std::function<bool(DeltaHandler*, int)>& work) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int e = 0; e < kEngines; ++e) {
      threads.emplace_back([&, e] {
        for (int f = 0; f < kFilesPerEngine; ++f) {
          if (!work(engines[e].get(), e * kFilesPerEngine + f)) ++failures;
        }
      });
    }
    for (auto& t : threads) t.join();
    return failures.load();
  };
  EXPECT_EQ(
      runAll([&](DeltaHandler* engine, int i) { return backup(dataPath("f" + std::to_string(i) + ".bin"), engine); }),
      0);
  EXPECT_EQ(runAll([&](DeltaHandler* engine, int i) {
              std::string name = "f" + std::to_string(i) + ".bin";
              return restore(dataPath(name), restoredPath(name), -1, engine);
            }),
            0);
  for (int i = 0; i < kEngines * kFilesPerEngine; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(readFile(restoredPath("f" + std::to_string(i) + ".bin")) == contents[i]);
  }
  int ok = 0;
  for (const auto& p : posted()) ok += p.name == "BackupFileOK" || p.name == "RestoreOK";
  EXPECT_EQ(ok, 2 * kEngines * kFilesPerEngine);
}

}  // namespace
}  // namespace palvero::testing
