// ls, versions and restore.
#include <unistd.h>

#include <iostream>

#include "app/ProcessStartup.h"
#include "app/RestoreRunner.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "base/StringFormat.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Output.h"
#include "cli/SignalWatcher.h"
#include "engine/PathRules.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"

namespace palvero::cli {
namespace {

std::string dateText(const std::optional<Date>& date) { return date ? date->format("yyyy-MM-dd HH:mm:ss") : "?"; }

std::optional<std::string> deviceOf(const Request& request) {
  if (request.device.empty()) return std::nullopt;
  return request.device;
}

// Opens a session for the browsing commands; the exit code on failure.
int openSession(CommunicationServer& server, std::ostream& err) {
  if (!LocalSettings::sharedManager().isInitialized()) {
    err << "palvero: this computer is not logged in; run \"palvero login --user NAME\" first\n";
    return kExitNotLoggedIn;
  }
  if (server.syncPing() == CommunicationServer::kConnectionOffline) {
    err << "palvero: the service at " << server.serverURL() << " does not answer\n";
    return kExitUnreachable;
  }
  if (!server.syncAuthorise()) {
    err << "palvero: the service refused this computer's credentials; run \"palvero login\" again\n";
    return kExitNotLoggedIn;
  }
  return kExitSuccess;
}

Value fileJSON(const BackupedFile& file, const std::string& folder) {
  Value versions = Value::array();
  for (const auto& v : file.versions) {
    versions.push_back({{"number", v.number}, {"size", v.size}, {"date", dateText(v.date)}});
  }
  std::string path = folder.empty() || folder.back() == '/' ? folder + file.name : folder + "/" + file.name;
  return {{"type", "file"},        {"name", file.name},          {"path", path},
          {"size", file.size},     {"deleted", file.toDelete},   {"revisions", file.versions.size()},
          {"versions", versions}};
}

}  // namespace

int Commands::ls() {
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  auto server = CommunicationServer::create();
  if (int code = openSession(*server, err_); code != kExitSuccess) return code;
  const std::string path = PathRules::withoutTrailingSlashes(request_.remotePath);
  // "" without a device: the account's devices; with one: its drives.
  std::optional<std::string> device = deviceOf(request_);
  auto listing = server->getFolderWithPath(path, device, request_.deleted);
  if (!listing) {
    err_ << "palvero: the service did not list \"" << path << "\"\n";
    return kExitUnreachable;
  }
  Value json = Value::array();
  for (const auto& folder : listing->subFolders) {
    Value entry = {{"type", folder.type}, {"name", folder.name}};
    if (folder.type == BackupedFolder::kTypeDevice) entry["id"] = folder.deviceId;
    if (folder.type == BackupedFolder::kTypeFolder) {
      entry["path"] = folder.path;
      entry["deleted"] = folder.toDelete != 0;
    }
    json.push_back(entry);
    if (request_.json) continue;
    if (folder.type == BackupedFolder::kTypeDevice) {
      out_ << "device  " << folder.deviceId << "  " << folder.name << "\n";
    } else if (folder.type == BackupedFolder::kTypeDrive) {
      out_ << "drive   " << folder.name << "\n";
    } else {
      out_ << "folder  " << folder.name << "/" << (folder.toDelete ? "  (deleted)" : "") << "\n";
    }
  }
  for (const auto& file : listing->files) {
    json.push_back(fileJSON(file, path));
    if (request_.json) continue;
    std::string latest = file.versions.empty() ? "?" : dateText(file.versions.back().date);
    out_ << stringWithFormat("file    %10s  %3zu rev  %s  %s%s\n", Output::bytes(file.size).c_str(),
                             file.versions.size(), latest.c_str(), file.name.c_str(),
                             file.toDelete ? "  (deleted)" : "");
  }
  if (request_.json) out_ << json.dump(2) << "\n";
  return kExitSuccess;
}

int Commands::versions() {
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  auto server = CommunicationServer::create();
  if (int code = openSession(*server, err_); code != kExitSuccess) return code;
  const std::string path = PathRules::withoutTrailingSlashes(request_.remotePath);
  auto listing = server->getFolderWithPath(PathRules::parentOf(path), deviceOf(request_), true);
  if (!listing) {
    err_ << "palvero: the service did not list \"" << PathRules::parentOf(path) << "\"\n";
    return kExitUnreachable;
  }
  for (const auto& file : listing->files) {
    if (file.name != PathRules::lastComponent(path)) continue;
    if (request_.json) {
      out_ << fileJSON(file, PathRules::parentOf(path)).dump(2) << "\n";
      return kExitSuccess;
    }
    out_ << path << (file.toDelete ? "  (deleted on the device)" : "") << "\n";
    for (const auto& v : file.versions) {
      out_ << stringWithFormat("  %4lld  %s  %s\n", static_cast<long long>(v.number), dateText(v.date).c_str(),
                               Output::bytes(v.size).c_str());
    }
    return kExitSuccess;
  }
  err_ << "palvero: " << path << " is not a file on the service\n";
  return kExitUsage;
}

int Commands::restore() {
  RestoreRunner::Request request;
  request.all = request_.all;
  request.items = request_.items;
  request.to = request_.to;
  request.keepExisting = request_.keepExisting;
  request.device = request_.device;
  request.revision = request_.revision;
  request.resume = request_.resume;
  if (!request_.at.empty()) {
    // Seconds may be given too, to tell apart revisions of the same minute.
    request.at = Date::parse(request_.at, "yyyy-MM-dd HH:mm:ss");
    if (!request.at) request.at = Date::parse(request_.at, Date::kQueuePattern);
    if (!request.at) {
      err_ << "palvero: --at \"" << request_.at
           << "\" is not a local time of the form \"yyyy-MM-dd HH:mm\" (or \"yyyy-MM-dd HH:mm:ss\")\n";
      return kExitUsage;
    }
    if (request_.revision) {
      err_ << "palvero: --at and --revision choose the revision twice; give one\n";
      return kExitUsage;
    }
  }
  if (!request.all && request.items.empty() && !request.resume) {
    err_ << "palvero: give --all, the paths to restore, or --resume\n";
    return kExitUsage;
  }
  if (!lockInstance()) return kExitUsage;
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  std::atomic<bool> interrupt{false};
  SignalWatcher signals([&](int) {
    interrupt.store(true);
    loop->async([] {});
  });
  ProgressLine line(out_, ::isatty(STDOUT_FILENO) && !request_.quiet);
  RestoreRunner runner(RestoreRunner::Options{});
  auto result = runner.run(
      *loop, request, [&](const RestoreRunner::Progress& progress) { line.show(progress); }, interrupt);
  line.clear();
  using Outcome = RestoreRunner::Outcome;
  switch (result.outcome) {
    case Outcome::kNothingToDo:
      out_ << (result.message.empty() ? "Nothing to restore." : "Nothing to restore: " + result.message) << "\n";
      return kExitSuccess;
    case Outcome::kBadRequest:
      err_ << "palvero: " << result.message << "\n";
      return kExitUsage;
    case Outcome::kNotLoggedIn:
    case Outcome::kRefused:
      err_ << "palvero: " << result.message << "\n";
      return kExitNotLoggedIn;
    case Outcome::kUnreachable:
      err_ << "palvero: " << result.message << "\n";
      return kExitUnreachable;
    case Outcome::kInterrupted:
      out_ << Output::restoreSummary(result)
           << "Interrupted; \"palvero restore --resume\" restores the rest.\n";
      return kExitInterrupted;
    case Outcome::kStopped:
      out_ << Output::restoreSummary(result);
      err_ << "palvero: the restore stopped: " << result.message << "\n";
      return kExitFilesFailed;
    case Outcome::kFinished:
      break;
  }
  out_ << Output::restoreSummary(result);
  return result.failures.empty() ? kExitSuccess : kExitFilesFailed;
}

}  // namespace palvero::cli
