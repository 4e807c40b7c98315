// Checks that what the service stores for a device can be restored: every
// file of the device's folder tree (or a random share of them) has its latest
// revision fetched with every block it lists, each block's length and SHA-256
// compared with the version text, and nothing written (DeltaHandler::
// verifyFile). The CLI's "verify" command uses it.
//
// Files marked deleted on the device are checked too: the service still
// holds them and a restore may bring them back.
//
// Thread contract: run() blocks the caller, which must not be a thread the
// checks need (it only polls); `interrupt` may be set from any thread and
// stops the checks at the next block. `onProgress` runs on the caller's
// thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BackupRunner.h"

namespace palvero {

class CommunicationServer;

class VerifyRunner {
 public:
  enum class Outcome {
    kFinished,     // every chosen file checked (some may be unrestorable)
    kNotLoggedIn,
    kRefused,      // the service refused the session
    kUnreachable,  // the service did not answer
    kInterrupted,  // stopped by the caller
  };

  struct Request {
    double samplePercent = 100;  // 0 < percent <= 100
    std::string device;          // another device's id; empty: this one
  };

  struct Problem {
    std::string path;
    std::string reason;
  };

  using Progress = BackupRunner::Progress;

  struct Result {
    Outcome outcome = Outcome::kFinished;
    int64_t filesListed = 0;   // files the service holds for the device
    int64_t filesChosen = 0;   // of those, the ones to check
    int64_t filesChecked = 0;  // checked to the end, restorable or not
    int64_t blocksChecked = 0;
    int64_t bytesChecked = 0;
    double seconds = 0;
    std::vector<Problem> problems;  // files (or folders) that cannot be restored, by path
    std::string message;
  };

  struct Options {
    // The request object of the session checks and listings; one of its own
    // per worker either way. CommunicationServer::create() when null.
    std::function<std::shared_ptr<CommunicationServer>()> newServer;
    size_t workers = 0;  // numberOfThreads when 0
    std::optional<uint64_t> seed;  // of the random sample; random when unset
    std::chrono::milliseconds progressInterval{500};
  };

  explicit VerifyRunner(Options options);

  Result run(const Request& request, const std::function<void(const Progress&)>& onProgress,
             const std::atomic<bool>& interrupt);

  // `count` indices of `total`, chosen at random from `seed`, in increasing
  // order; all of them when count >= total.
  static std::vector<size_t> sample(size_t total, size_t count, uint64_t seed);
  // How many files a percentage of `total` means: rounded up, at least one
  // of a non-empty list.
  static size_t sampleSize(size_t total, double percent);

 private:
  struct Listed {
    std::string path;
    int64_t size = 0;
  };

  // Every file of the device's tree; folders that cannot be listed become
  // problems.
  std::vector<Listed> listFiles(const std::string& device, std::vector<Problem>& problems);

  Options options_;
};

}  // namespace palvero
