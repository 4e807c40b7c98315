// What every fuzz target shares: a home folder of its own (HOME and the XDG
// folders point into a temporary folder, on /dev/shm when there is one, since
// the settings store flushes every save), removed when the process exits; a
// fake clock, so that the pauses the request layer keeps cost nothing;
// and a way to let asynchronous requests complete.
//
// Thread contract: setUp() once, from LLVMFuzzerInitialize or main.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/DispatchQueue.h"
#include "base/FakeClock.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"

namespace palvero::fuzz {

class FuzzHome {
 public:
  static const std::string& setUp() {
    static FuzzHome* home = new FuzzHome();
    return home->path_;
  }

 private:
  FuzzHome() {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/palvero-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed under " + base);
    path_ = buffer.data();
    ::setenv("HOME", path_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (path_ + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (path_ + "/.cache").c_str(), 1);
    Clock::setCurrent(std::make_shared<FakeClock>());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(setUp(), ignored);
    });
  }

  std::string path_;
};

// Lets background requests and their main-loop completions run until
// neither has anything left (a completion may start more work).
inline void settleAsyncWork() {
  auto& loop = dynamic_cast<StdRunLoop&>(RunLoop::main());
  for (int i = 0; i < 8; ++i) {
    DispatchQueue::global().waitUntilIdle();
    loop.runPending();
  }
}

// Splits a fuzz input into a selector byte and the rest.
struct Input {
  uint8_t selector = 0;
  std::string_view rest;

  static Input of(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    return {data[0], std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)};
  }
};

// Aborts with a message: a broken property is a finding like a crash.
[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

}  // namespace palvero::fuzz
