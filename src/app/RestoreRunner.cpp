#include "app/RestoreRunner.h"

#include <filesystem>

#include "base/DispatchQueue.h"
#include "base/NotificationCenter.h"
#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "engine/PathRules.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/FilesToRestore.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

std::string revisionsOf(const BackupedFile& file) {
  std::string text;
  for (const auto& version : file.versions) {
    if (!text.empty()) text += ", ";
    text += std::to_string(version.number);
  }
  return text;
}

}  // namespace

RestoreRunner::RestoreRunner(Options options) : options_(std::move(options)) {
  if (!options_.server) options_.server = CommunicationServer::create();
  if (!options_.engineFactory) options_.engineFactory = [] { return std::make_shared<DeltaHandler>(); };
  if (options_.workers == 0) {
    int count = LocalSettings::sharedManager().numberOfThreads();
    options_.workers = count < 1 ? 1 : static_cast<size_t>(count);
  }
}

std::optional<RestoreChoice> RestoreRunner::choiceFor(const Request& request, std::string& message,
                                                      Outcome& outcome) {
  outcome = Outcome::kBadRequest;
  RestoreChoice choice;
  std::string device = request.device;
  if (device == LocalSettings::sharedManager().clientId().value_or("")) device.clear();
  choice.restoreLatest = !request.at.has_value();
  if (request.at) choice.restoreDate = request.at->timeIntervalSince1970();
  choice.keepExisting = request.keepExisting;
  if (!request.to.empty()) {
    std::error_code error;
    std::filesystem::path to = std::filesystem::absolute(request.to, error).lexically_normal();
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = PathRules::withoutTrailingSlashes(to.string());
    std::filesystem::create_directories(choice.restoreDestinationPath, error);
    if (!std::filesystem::is_directory(choice.restoreDestinationPath)) {
      message = "cannot make the folder " + choice.restoreDestinationPath;
      return std::nullopt;
    }
  }
  if (request.all) {
    if (device.empty()) {
      choice.restoreAllData = true;
    } else {
      choice.filesAndFoldersForRestore = Value{{"", Value::array({RestoreChoice::kKindDevice, device})}};
    }
    return choice;
  }
  if (request.items.empty()) {
    message = "nothing to restore: give --all or the paths to restore";
    return std::nullopt;
  }
  // Each item is looked up in its folder's listing, deleted entries included.
  std::vector<std::pair<std::string, BackupedFile>> files;
  for (const std::string& given : request.items) {
    std::string path = PathRules::withoutTrailingSlashes(given);
    if (path == "/") {
      choice.filesAndFoldersForRestore[path] = Value::array({RestoreChoice::kKindDrive, device});
      continue;
    }
    auto listing = options_.server->getFolderWithPath(
        PathRules::parentOf(path), device.empty() ? std::nullopt : std::optional<std::string>(device), true);
    if (!listing) {
      message = "the service did not list " + PathRules::parentOf(path);
      outcome = Outcome::kUnreachable;
      return std::nullopt;
    }
    bool found = false;
    for (const auto& folder : listing->subFolders) {
      if (folder.name != PathRules::lastComponent(path)) continue;
      choice.filesAndFoldersForRestore[path] = Value::array({RestoreChoice::kKindFolder, device});
      found = true;
    }
    for (const auto& file : listing->files) {
      if (found || file.name != PathRules::lastComponent(path)) continue;
      files.emplace_back(path, file);
      found = true;
    }
    if (!found) {
      message = path + " is not on the service";
      return std::nullopt;
    }
  }
  const bool single = files.size() == 1 && choice.filesAndFoldersForRestore.empty();
  if (request.revision) {
    if (!single) {
      message = "--revision needs exactly one file";
      return std::nullopt;
    }
    const BackupedFile& file = files[0].second;
    const BackupFileVersion* chosen = nullptr;
    for (const auto& version : file.versions) {
      if (version.number == *request.revision) chosen = &version;
    }
    if (!chosen) {
      message = stringWithFormat("%s has no revision %lld (it has: %s)", files[0].first.c_str(),
                                 static_cast<long long>(*request.revision), revisionsOf(file).c_str());
      return std::nullopt;
    }
    choice.backupFileVersion = *chosen;
  }
  if (single) {
    choice.restoreSingleFile = true;
    BackupedFile file = files[0].second;
    file.name = files[0].first;
    file.deviceId = device;
    choice.singleFileForRestore = file;
    return choice;
  }
  for (const auto& [path, file] : files) {
    choice.filesAndFoldersForRestore[path] = Value::array({RestoreChoice::kKindFile, device});
  }
  return choice;
}

RestoreRunner::Result RestoreRunner::run(StdRunLoop& loop, const Request& request,
                                         const std::function<void(const Progress&)>& onProgress,
                                         const std::atomic<bool>& interrupt) {
  Result result;
  if (!LocalSettings::sharedManager().isInitialized()) {
    result.outcome = Outcome::kNotLoggedIn;
    result.message = "this computer is not logged in; run \"palvero login --user NAME\" first";
    return result;
  }
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  loop.runPending();  // binds the loop to this thread
  auto& server = *options_.server;
  if (server.syncPing() == CommunicationServer::kConnectionOffline) {
    result.outcome = Outcome::kUnreachable;
    result.message = "the service at the configured address does not answer";
    return result;
  }
  if (!server.syncAuthorise()) {
    result.outcome = Outcome::kRefused;
    result.message = "the service refused this computer's credentials; run \"palvero login\" again";
    return result;
  }
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  RestoreManager manager(options_.server, extensions);
  manager.setWorkers(options_.workers, options_.engineFactory);
  if (request.resume) {
    if (!extensions.restoring() || (database.GetTotalNumberOfFiles(false) == 0 && !manager.listIncomplete())) {
      result.outcome = Outcome::kNothingToDo;
      result.message = "no interrupted restore to continue";
      return result;
    }
    manager.loadChoice();
  } else {
    Outcome refusal = Outcome::kBadRequest;
    auto choice = choiceFor(request, result.message, refusal);
    if (!choice) {
      result.outcome = refusal;
      return result;
    }
    manager.setChoice(std::move(*choice));
    manager.saveChoice();
  }

  bool ended = false;
  Value endInfo;
  auto token = NotificationCenter::defaultCenter().addObserver(RestoreManager::kRestoreEnd, &manager,
                                                               [&](const Notification& n) {
                                                                 ended = true;
                                                                 endInfo = n.userInfo;
                                                               });
  Date started = Date::now();
  if (request.resume) {
    manager.restoreFromDb();
  } else {
    manager.restore();
  }
  auto progress = [&] {
    if (!onProgress) return;
    Progress p;
    p.filesDone = manager.filesHandled();
    p.filesTotal = manager.filesToRestoreCount();
    p.bytesDone = manager.totalSizeOfFilesRestored();
    p.bytesTotal = manager.sizeOfFilesToRestore();
    p.seconds = Date::now().timeIntervalSince(started);
    onProgress(p);
  };
  bool interrupted = false;
  while (!ended) {
    loop.runUntil([&] { return ended || (interrupt.load() && !interrupted); }, options_.progressInterval);
    if (interrupt.load() && !interrupted) {
      interrupted = true;
      manager.pauseRestore();
      manager.waitUntilIdle(std::chrono::seconds(60));
      break;
    }
    if (!ended) progress();
  }
  NotificationCenter::defaultCenter().removeObserver(token);
  // "restoreend" goes out in the background; the process must not end first.
  DispatchQueue::global().waitUntilIdle();
  result.seconds = Date::now().timeIntervalSince(started);
  result.filesRestored = manager.filesRestored();
  result.bytesRestored = manager.totalSizeOfFilesRestored();
  result.filesPlanned = manager.filesToRestoreCount();
  result.failures = manager.failedFiles();
  result.keptBeside = manager.keptBesideFiles();
  if (interrupted) {
    result.outcome = Outcome::kInterrupted;
  } else if (endInfo.is_object() && endInfo.value("interrupted", false)) {
    result.outcome = Outcome::kStopped;
    result.message = result.failures.empty() ? "the restore stopped (no session); run \"palvero restore --resume\""
                                             : result.failures.back().error;
  } else if (result.filesPlanned == 0 && result.failures.empty()) {
    result.outcome = Outcome::kNothingToDo;
  }
  return result;
}

}  // namespace palvero
