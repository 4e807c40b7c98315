// Fixture of the engine's integration tests: the request layer's fixture (a
// home of its own, a palvero-service with one enrolled device whose identity
// and ciphers are in the settings, a fake clock for the client's own waits) plus
// one DeltaHandler talking to the service over libcurl. Records every
// notification the engine posts.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/NotificationCenter.h"
#include "engine/DeltaHandler.h"
#include "engine/format/util/Functions.h"
#include "integration/protocol/ServiceFixture.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero::testing {

struct Posted {
  std::string name;
  Value userInfo;
};

// Content makers: random bytes, or text that deflates well.
inline std::string randomContent(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string out(size, '\0');
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v = rng();
    std::memcpy(&out[i], &v, 8);
  }
  for (; i < size; ++i) out[i] = static_cast<char>(rng());
  return out;
}

inline std::string textContent(size_t size, uint64_t seed) {
  static const char* const kWords[] = {"backup ", "block ", "version ", "restore ", "file ", "the ", "of ", "\n"};
  std::mt19937_64 rng(seed);
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) out += kWords[rng() % 8];
  out.resize(size);
  return out;
}

// Test names of parameter structs with a `label`.
template <class Case>
std::string labelOf(const ::testing::TestParamInfo<Case>& param) {
  return param.param.label;
}

// How such a parameter is printed (test listings name the case, not bytes).
template <class Case>
requires requires(const Case& c) { c.label; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class EngineFixture : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    CommonExtensions::resetForTesting();
    engine_ = newEngine();
    for (const char* name : {BlockEngine::kBackupFileOK, BlockEngine::kBackupFileFail, BlockEngine::kRestoreOK,
                             BlockEngine::kRestoreFail}) {
      NotificationCenter::defaultCenter().addObserver(name, nullptr, [this](const Notification& n) {
        std::lock_guard lock(postedMutex_);
        posted_.push_back({n.name, n.userInfo});
        senders_.push_back(n.object);
      });
    }
    service_.clearLog();
  }

  void TearDown() override {
    engine_.reset();
    CommonExtensions::resetForTesting();
    ServiceFixture::TearDown();
  }

  std::unique_ptr<DeltaHandler> newEngine() { return std::make_unique<DeltaHandler>(newServer()); }

  std::string dataPath(const std::string& relative) const { return home_ / ("data/" + relative); }
  std::string restoredPath(const std::string& relative) const { return home_ / ("restored/" + relative); }

  static void setUserCipher(const std::string& cipher) { LocalSettings::sharedManager().setUserCipher(cipher); }

  // Backs up `path` through the worker's entry point.
  bool backup(const std::string& path, DeltaHandler* engine = nullptr) {
    struct stat st {};
    int64_t size = ::lstat(path.c_str(), &st) == 0 ? st.st_size : 0;
    Value args = {{"filePath", path}, {"name", std::filesystem::path(path).filename().string()}, {"fileLength", size}};
    return (engine ? engine : engine_.get())->backupFileWithArgs(args, 1);
  }

  bool restore(const std::string& path, const std::string& target, int revision = -1, DeltaHandler* engine = nullptr) {
    Value args = {{"filePath", path}, {"targetPath", target}, {"revision", revision}, {"deviceID", ""}};
    return (engine ? engine : engine_.get())->restoreFileWithArgs(args, 1);
  }

  // Runs `work` on a thread while this thread releases each clock pause in
  // turn; `atPause(n)` runs while the work is held in its n-th pause (from
  // 1): 1 "get_ver", 2 the first "check_block" (after cutting), 3 the
  // re-check (after the blocks went out), 4 "upload_ver" for a one-batch file.
  bool runPausing(const std::function<bool()>& work, const std::function<void(int)>& atPause) {
    clock_->setAutoAdvance(false);
    std::atomic<bool> done{false};
    bool result = false;
    std::thread worker([&] {
      result = work();
      done = true;
    });
    int pause = 0;
    while (!done) {
      if (clock_->blockedSleepers() == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      atPause(++pause);
      // Release this pause only: advance until its sleeper leaves, and stop
      // as soon as it starts another sleep (that is the next pause).
      auto slept = clock_->totalSlept();
      while (!done) {
        clock_->advance(std::chrono::milliseconds(100));
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (std::chrono::steady_clock::now() < until && clock_->blockedSleepers() > 0 &&
               clock_->totalSlept() == slept) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (clock_->blockedSleepers() == 0 || clock_->totalSlept() != slept) break;
      }
    }
    worker.join();
    clock_->setAutoAdvance(true);
    return result;
  }

  std::vector<Posted> posted() {
    std::lock_guard lock(postedMutex_);
    return posted_;
  }
  Posted lastPosted() {
    std::lock_guard lock(postedMutex_);
    return posted_.empty() ? Posted{} : posted_.back();
  }
  const void* lastSender() {
    std::lock_guard lock(postedMutex_);
    return senders_.empty() ? nullptr : senders_.back();
  }

  // Every logged request of `kind` that the service answered 200.
  std::vector<Value> answered(const std::string& kind) {
    std::vector<Value> out;
    for (const auto& entry : service_.requests(kind)) {
      if (entry.value("status", 0) == 200) out.push_back(entry);
    }
    return out;
  }
  // Block files the client uploaded (names of the "file[]" parts).
  std::vector<std::string> uploadedBlockNames() {
    std::vector<std::string> names;
    for (const auto& entry : answered("upload_blocks_multi")) {
      for (const auto& file : entry["files"]) names.push_back(file.value("filename", std::string()));
    }
    return names;
  }

  // True when the client's log holds `text` (which may span lines).
  static bool logContains(const std::string& text) {
    return readFile(LogWriter::sharedLogger().currentLogFilepath()).find(text) != std::string::npos;
  }

  // The change time the engine records for `path`, whole seconds.
  static int64_t recordedChangeTime(const std::string& path) {
    auto date = Functions::GetFileDateTime(path);
    return date ? static_cast<int64_t>(date->timeIntervalSince1970()) : -1;
  }
  static std::string changeTimeText(const std::string& path) {
    auto date = Functions::GetFileDateTime(path);
    return date ? date->format(Date::kSettingsPattern) : "";
  }
  static int64_t modificationTime(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtim.tv_sec) : -1;
  }
  static void setModificationTime(const std::string& path, int64_t seconds) {
    struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  // Names in `folder` that start with the restore's temporary prefix.
  static std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      std::string name = entry.path().filename().string();
      if (name.rfind(".pvrestore-", 0) == 0) out.push_back(name);
    }
    return out;
  }

  std::unique_ptr<DeltaHandler> engine_;
  std::mutex postedMutex_;
  std::vector<Posted> posted_;        // guarded by postedMutex_
  std::vector<const void*> senders_;  // guarded by postedMutex_
};

}  // namespace palvero::testing
