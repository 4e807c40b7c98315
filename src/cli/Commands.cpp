// scan, backup, status, failed, settings, logout and daemon.
#include "cli/Commands.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "app/BackupRunner.h"
#include "app/CommunicationServerLink.h"
#include "app/Daemon.h"
#include "app/FirstScan.h"
#include "app/InstanceLock.h"
#include "app/InstanceTakeover.h"
#include "app/ProcessStartup.h"
#include "app/SettingsCatalog.h"
#include "app/SettingsInbox.h"
#include "app/StatusReport.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "cli/ExitCode.h"
#include "cli/Output.h"
#include "cli/SignalWatcher.h"
#include "platform/AtomicFile.h"
#include "platform/PreferencesStore.h"
#include "platform/Process.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"

namespace palvero::cli {
namespace {

std::shared_ptr<StdRunLoop> installMainLoop() {
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  return loop;
}

// How the holder of the instance lock is stopped.
std::string stopHint(std::optional<long> pid) {
  switch (InstanceTakeover::holder(pid)) {
    case InstanceTakeover::Holder::kDaemon: {
      std::string cgroup;
      if (AtomicFile::read("/proc/" + std::to_string(*pid) + "/cgroup", cgroup) &&
          cgroup.find("/palvero.service") != std::string::npos) {
        return "stop it first with \"systemctl --user stop palvero.service\"";
      }
      return "stop the daemon first (\"kill " + std::to_string(*pid) + "\" stops it cleanly)";
    }
    case InstanceTakeover::Holder::kDesktop:
      return "quit the desktop app first";
    case InstanceTakeover::Holder::kCommand:
      return "wait until that command ends";
    case InstanceTakeover::Holder::kUnknown:
      break;
  }
  return "stop it first";
}

}  // namespace

Commands::Commands(const Request& request, std::ostream& out, std::ostream& err)
    : request_(request), out_(out), err_(err) {}

int Commands::run() {
  ProcessStartup::installCollaborators();
  const std::string& c = request_.command;
  if (c == "login") return login();
  if (c == "scan") return scan();
  if (c == "backup") return backup();
  if (c == "status") return status();
  if (c == "failed") return failed();
  if (c == "settings get") return settingsGet();
  if (c == "settings set") return settingsSet();
  if (c == "logs send") return logsSend();
  if (c == "logout") return logout();
  if (c == "daemon") return daemon();
  if (c == "ls") return ls();
  if (c == "versions") return versions();
  if (c == "restore") return restore();
  if (c == "verify") return verify();
  err_ << "palvero: unknown command \"" << c << "\"\n";
  return kExitUsage;
}

bool Commands::lockInstance(bool quiet) {
  auto lock = std::make_shared<InstanceLock>();
  if (!lock->acquired()) {
    if (quiet) return false;
    auto pid = InstanceLock::holderPid();
    err_ << "palvero: another Palvero is running for this user";
    if (pid) err_ << " (process " << *pid << ")";
    err_ << "; " << stopHint(pid) << " (it holds " << InstanceLock::lockPath() << ")\n";
    return false;
  }
  lock_ = lock;
  return true;
}

bool Commands::requireLogin() {
  if (LocalSettings::sharedManager().isInitialized()) return true;
  err_ << "palvero: this computer is not logged in; run \"palvero login --user NAME\" first\n";
  return false;
}

int Commands::scan() {
  if (!lockInstance()) return kExitUsage;
  if (!requireLogin()) return kExitNotLoggedIn;
  FirstScan::Result result = request_.changed ? FirstScan::runChanged() : FirstScan::run();
  if (!result.scanned) {
    err_ << "palvero: cannot scan " << result.folder << "\n";
    return kExitUsage;
  }
  out_ << "Scanned " << result.folder << ": " << result.waitingFiles << " files (" << Output::bytes(result.waitingBytes)
       << ") waiting to be backed up\n";
  return kExitSuccess;
}

int Commands::backup() {
  if (!lockInstance()) return kExitUsage;
  if (!requireLogin()) return kExitNotLoggedIn;
  auto loop = installMainLoop();
  std::atomic<bool> interrupt{false};
  SignalWatcher signals([&](int) {
    interrupt.store(true);
    loop->async([] {});
  });
  ProgressLine line(out_, ::isatty(STDOUT_FILENO) && !request_.quiet);
  BackupRunner runner(BackupRunner::Options{});
  auto result = runner.run(
      *loop, [&](const BackupRunner::Progress& progress) { line.show(progress); }, interrupt);
  line.clear();
  if (result.deletedOnServer > 0) out_ << "Marked " << result.deletedOnServer << " removed files deleted on the service\n";
  switch (result.outcome) {
    case BackupRunner::Outcome::kNothingToDo:
      out_ << "Nothing to back up.\n";
      return kExitSuccess;
    case BackupRunner::Outcome::kNotLoggedIn:
    case BackupRunner::Outcome::kRefused:
      err_ << "palvero: " << result.message << "\n";
      return kExitNotLoggedIn;
    case BackupRunner::Outcome::kUnreachable:
      err_ << "palvero: " << result.message << "\n";
      return kExitUnreachable;
    case BackupRunner::Outcome::kNotAllowed:
      err_ << "palvero: backups are held back: " << result.message << "\n";
      return kExitUsage;
    case BackupRunner::Outcome::kInterrupted:
      out_ << Output::summary(result) << "Interrupted; the rest stays queued.\n";
      return kExitInterrupted;
    case BackupRunner::Outcome::kStopped:
      out_ << Output::summary(result);
      err_ << "palvero: the run stopped: " << result.message << "\n";
      return kExitNotLoggedIn;
    case BackupRunner::Outcome::kFinished:
      break;
  }
  out_ << Output::summary(result);
  return result.summary.filesFailed > 0 ? kExitFilesFailed : kExitSuccess;
}

int Commands::status() {
  warnIfUnencrypted();
  auto loop = installMainLoop();
  loop->runPending();
  StatusReport report = StatusReport::gather(std::make_shared<CommunicationServerLink>());
  if (request_.json) {
    out_ << report.toJSON().dump(2) << "\n";
  } else {
    out_ << Output::status(report);
  }
  if (!report.loggedIn) return kExitNotLoggedIn;
  if (!report.reachable) return kExitUnreachable;
  if (!report.authorised) return kExitNotLoggedIn;
  return kExitSuccess;
}

int Commands::failed() {
  if (request_.retry && !lockInstance()) return kExitUsage;
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  auto rows = database.selectFailedFiles(true);
  if (request_.retry) {
    if (!rows.empty() && !database.changeFailedFilesStatus(rows)) {
      err_ << "palvero: cannot queue the failed files again\n";
      return kExitUsage;
    }
    out_ << rows.size() << " failed files queued again\n";
    return kExitSuccess;
  }
  for (const auto& row : rows) out_ << row.path << "\n";
  int64_t retrying = database.GetTotalNumberOfFailedFilesWithoutTries(true) - static_cast<int64_t>(rows.size());
  if (!request_.quiet) {
    out_ << rows.size() << " files failed five times or more";
    if (retrying > 0) out_ << "; " << retrying << " more are retried by the next run";
    out_ << "\n";
  }
  return rows.empty() ? kExitSuccess : kExitFilesFailed;
}

int Commands::settingsGet() {
  if (request_.key.empty()) {
    out_ << SettingsCatalog::snapshot().dump(2) << "\n";
    return kExitSuccess;
  }
  auto value = SettingsCatalog::get(request_.key);
  if (!value) {
    err_ << "palvero: \"" << request_.key << "\" is not set\n";
    return kExitUsage;
  }
  out_ << (value->is_string() ? value->get<std::string>() : value->dump()) << "\n";
  return kExitSuccess;
}

int Commands::settingsSet() {
  const SettingsCatalog::Entry* entry = SettingsCatalog::find(request_.key);
  if (!entry) {
    err_ << "palvero: unknown setting \"" << request_.key << "\"; settable are:\n";
    for (const auto& known : SettingsCatalog::entries()) err_ << "  " << known.key << "  " << known.help << "\n";
    return kExitUsage;
  }
  // A secret given on the command line would show in the process list and
  // the shell's history: it comes from standard input, like the login
  // password.
  std::string text = request_.value;
  if (SettingsCatalog::isSecret(entry->storedKey)) {
    if (request_.valueGiven) {
      err_ << "palvero: " << entry->key << " is read from standard input, not from the command line\n";
      return kExitUsage;
    }
    auto line = readSecretLine(true, (std::string(entry->key) + ": ").c_str(), err_);
    if (!line) {
      err_ << "palvero: no value for " << entry->key << " on standard input\n";
      return kExitUsage;
    }
    text = *line;
  } else if (!request_.valueGiven) {
    err_ << "palvero: settings set " << entry->key << " needs a value\n";
    return kExitUsage;
  }
  std::string error;
  auto value = SettingsCatalog::parse(*entry, text, error);
  if (!value) {
    err_ << "palvero: " << entry->key << ": " << error << "\n";
    return kExitUsage;
  }
  if (!lockInstance(true)) {
    auto pid = InstanceLock::holderPid();
    auto holder = InstanceTakeover::holder(pid);
    if (holder == InstanceTakeover::Holder::kDaemon) return handSettingOver(*entry, *value, *pid, "daemon");
    if (holder == InstanceTakeover::Holder::kDesktop) return handSettingOver(*entry, *value, *pid, "desktop app");
    if (!lockInstance()) return kExitUsage;
  }
  // Changes handed to a daemon that ended before it took them are older
  // than this one.
  for (const auto& [key, earlier] : SettingsInbox::take()) {
    if (const SettingsCatalog::Entry* left = SettingsCatalog::find(key)) SettingsCatalog::apply(*left, earlier);
  }
  if (!SettingsCatalog::apply(*entry, *value)) {
    err_ << "palvero: " << entry->key << " could not be stored\n";
    return kExitUsage;
  }
  if (entry->serverType && LocalSettings::sharedManager().isInitialized()) {
    auto link = std::make_shared<CommunicationServerLink>();
    if (!link->syncAuthorise() || !link->saveSettings(entry->serverType)) {
      err_ << "palvero: stored here; the service was not told (it is sent again with the next change)\n";
    }
  }
  return kExitSuccess;
}

int Commands::handSettingOver(const SettingsCatalog::Entry& entry, const Value& value, long pid, const char* holder) {
  if (!SettingsInbox::post(entry.key, value)) {
    err_ << "palvero: " << entry.key << " could not be handed to the running " << holder << " (process " << pid
         << ")\n";
    return kExitUsage;
  }
  // The holder looks every second.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (SettingsInbox::pending() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (SettingsInbox::pending()) {
    err_ << "palvero: the " << holder << " (process " << pid << ") has not taken " << entry.key
         << " yet; it applies it once it does, or when it next starts\n";
    return kExitUsage;
  }
  out_ << entry.key << " applied by the running " << holder << " (process " << pid << ")\n";
  return kExitSuccess;
}

int Commands::logout() {
  if (!lockInstance()) return kExitUsage;
  PreferencesStore::sharedStore().removePersistentDomain();
  DBManager::sharedDBManager().deleteDatabase();
  out_ << "Logged out: settings and queue removed\n";
  return kExitSuccess;
}

int Commands::daemon() {
  if (!lockInstance()) {
    err_ << "palvero: the daemon is not started twice\n";
    return kExitUsage;
  }
  auto loop = installMainLoop();
  if (LocalSettings::sharedManager().isInitialized() &&
      LocalSettings::sharedManager().backupTimingType() == LocalSettings::kTimingManual && !request_.quiet) {
    err_ << "palvero: backups are manual (BackupTimingType 0): the daemon watches and queues changes but starts no "
            "backup; \"palvero settings set BackupTimingType 1\" makes them continuous\n";
  }
  AppDelegate::Options options;
  options.relaunchArguments = {"daemon"};
  Daemon daemon(*loop, options);
  SignalWatcher signals([&](int) { daemon.requestStop(); });
  std::string message;
  int code = daemon.run(message);
  if (!message.empty()) err_ << "palvero: " << message << "\n";
  return code == Daemon::kExitNotLoggedIn ? kExitNotLoggedIn : kExitSuccess;
}

}  // namespace palvero::cli
