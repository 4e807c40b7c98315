#include "app/VerifyRunner.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>

#include "base/Date.h"
#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "engine/PathRules.h"
#include "protocol/CommunicationServer.h"
#include "restore/RemoteTreeWalker.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

constexpr size_t kListingThreads = 4;

std::string listingPath(const BackupedFolder& folder) {
  if (folder.type == BackupedFolder::kTypeDrive) return folder.name;
  if (folder.type == BackupedFolder::kTypeDevice) return "";
  return folder.path;
}

void logVerify(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionRestore, text, level);
}

}  // namespace

VerifyRunner::VerifyRunner(Options options) : options_(std::move(options)) {
  if (!options_.newServer) options_.newServer = [] { return CommunicationServer::create(); };
  if (options_.workers == 0) {
    int count = LocalSettings::sharedManager().numberOfThreads();
    options_.workers = count < 1 ? 1 : static_cast<size_t>(count);
  }
}

size_t VerifyRunner::sampleSize(size_t total, double percent) {
  if (total == 0) return 0;
  if (!(percent > 0)) return 1;
  double wanted = std::ceil(static_cast<double>(total) * std::min(percent, 100.0) / 100.0 - 1e-9);
  return std::clamp<size_t>(static_cast<size_t>(wanted), 1, total);
}

std::vector<size_t> VerifyRunner::sample(size_t total, size_t count, uint64_t seed) {
  std::vector<size_t> indices(total);
  std::iota(indices.begin(), indices.end(), 0);
  if (count >= total) return indices;
  std::mt19937_64 random(seed);
  // The first `count` places of a partial Fisher-Yates shuffle.
  for (size_t i = 0; i < count; ++i) {
    std::uniform_int_distribution<size_t> pick(i, total - 1);
    std::swap(indices[i], indices[pick(random)]);
  }
  indices.resize(count);
  std::sort(indices.begin(), indices.end());
  return indices;
}

std::vector<VerifyRunner::Listed> VerifyRunner::listFiles(const std::string& device, std::vector<Problem>& problems) {
  std::vector<Listed> files;
  BackupedFolder root;
  root.type = BackupedFolder::kTypeDevice;
  root.deviceId = device;
  RemoteTreeWalker walker(options_.newServer, kListingThreads);
  walker.walk(
      {root},
      [&](CommunicationServer& server, const BackupedFolder& folder) {
        return server.getFolderWithPath(listingPath(folder), device, true);
      },
      [&](const BackupedFolder& asked, const std::optional<BackupedFolder>& listed) {
        std::vector<BackupedFolder> next;
        const std::string path = listingPath(asked);
        if (!listed) {
          problems.push_back({asked.type == BackupedFolder::kTypeDevice ? "device " + device : path,
                              "it cannot be listed"});
          return next;
        }
        for (const BackupedFile& file : listed->files) files.push_back({PathRules::join(path, file.name), file.size});
        for (BackupedFolder sub : listed->subFolders) {
          if (sub.type == BackupedFolder::kTypeDevice) continue;
          if (sub.type != BackupedFolder::kTypeDrive) sub.path = PathRules::join(path, sub.name);
          next.push_back(std::move(sub));
        }
        return next;
      });
  std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) { return a.path < b.path; });
  return files;
}

VerifyRunner::Result VerifyRunner::run(const Request& request, const std::function<void(const Progress&)>& onProgress,
                                       const std::atomic<bool>& interrupt) {
  Result result;
  Date started = Date::now();
  auto& settings = LocalSettings::sharedManager();
  if (!settings.isInitialized()) {
    result.outcome = Outcome::kNotLoggedIn;
    result.message = "this computer is not logged in; run \"palvero login --user NAME\" first";
    return result;
  }
  auto server = options_.newServer();
  if (server->syncPing() == CommunicationServer::kConnectionOffline) {
    result.outcome = Outcome::kUnreachable;
    result.message = "the service at " + server->serverURL() + " does not answer";
    return result;
  }
  if (!server->syncAuthorise()) {
    result.outcome = Outcome::kRefused;
    result.message = "the service refused this computer's credentials; run \"palvero login\" again";
    return result;
  }
  const std::string ownDevice = settings.clientId().value_or("");
  const std::string device = request.device.empty() ? ownDevice : request.device;
  // The version requests name another device only; this one is implied.
  const std::string sourceDevice = device == ownDevice ? std::string() : device;

  std::vector<Listed> listed = listFiles(device, result.problems);
  result.filesListed = static_cast<int64_t>(listed.size());
  uint64_t seed = options_.seed.value_or(std::random_device{}());
  std::vector<size_t> chosen = sample(listed.size(), sampleSize(listed.size(), request.samplePercent), seed);
  result.filesChosen = static_cast<int64_t>(chosen.size());
  logVerify(stringWithFormat("Verify started: %zu of %zu files", chosen.size(), listed.size()), kLogEvent);

  Progress progress;
  progress.filesTotal = result.filesChosen;
  for (size_t index : chosen) progress.bytesTotal += listed[index].size;

  std::mutex mutex;
  // Guarded by `mutex`: the engines (to cancel them), the results, the
  // progress figures and `refused`.
  std::vector<std::shared_ptr<DeltaHandler>> engines;
  std::vector<Problem> problems;
  bool refused = false;
  std::atomic<size_t> nextFile{0};
  std::atomic<size_t> running{0};

  auto work = [&] {
    auto engineServer = options_.newServer();
    auto engine = std::make_shared<DeltaHandler>(engineServer);
    {
      std::lock_guard lock(mutex);
      engines.push_back(engine);
    }
    if (!engineServer->syncAuthorise()) {
      std::lock_guard lock(mutex);
      refused = true;
      return;
    }
    for (;;) {
      if (interrupt.load()) return;
      size_t at = nextFile.fetch_add(1);
      if (at >= chosen.size()) return;
      const Listed& file = listed[chosen[at]];
      DeltaHandler::RevisionCheck check = engine->verifyFile(file.path, -1, sourceDevice);
      std::lock_guard lock(mutex);
      if (check.cancelled) return;
      ++result.filesChecked;
      result.blocksChecked += check.blocks;
      result.bytesChecked += check.bytes;
      ++progress.filesDone;
      progress.bytesDone += file.size;
      if (!check.restorable) problems.push_back({file.path, check.problem});
    }
  };
  std::vector<std::thread> threads;
  size_t workers = std::min(options_.workers, std::max<size_t>(chosen.size(), 1));
  running.store(workers);
  for (size_t i = 0; i < workers; ++i) {
    threads.emplace_back([&] {
      work();
      running.fetch_sub(1);
    });
  }
  bool cancelled = false;
  auto lastShown = std::chrono::steady_clock::now();
  while (running.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(mutex);
    if (interrupt.load() && !cancelled) {
      cancelled = true;
      for (auto& engine : engines) engine->setCancel(true);
    }
    if (onProgress && std::chrono::steady_clock::now() - lastShown >= options_.progressInterval) {
      lastShown = std::chrono::steady_clock::now();
      progress.seconds = Date::now().timeIntervalSince(started);
      onProgress(progress);
    }
  }
  for (auto& thread : threads) thread.join();

  std::sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) { return a.path < b.path; });
  result.problems.insert(result.problems.end(), problems.begin(), problems.end());
  result.seconds = Date::now().timeIntervalSince(started);
  if (interrupt.load()) {
    result.outcome = Outcome::kInterrupted;
  } else if (refused && result.filesChecked < result.filesChosen) {
    result.outcome = Outcome::kRefused;
    result.message = "the service refused a session during the check";
  }
  logVerify(stringWithFormat("Verify ended: %lld files checked, %zu cannot be restored",
                             static_cast<long long>(result.filesChecked), result.problems.size()),
            kLogEvent);
  return result;
}

}  // namespace palvero
