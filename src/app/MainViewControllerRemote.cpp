// Work with the server started by timers: settings refresh, version check,
// update download and installation, statistics, logs.
#include <sys/stat.h>

#include "app/MainViewController.h"
#include "platform/Env.h"
#include "platform/Process.h"
#include "base/StringFormat.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

constexpr const char* kUpdaterName = "PalveroUpdater.app";

// The program to start for an updater put in the support folder: the file
// itself, or "AppRun" inside a folder of that name.
std::string updaterProgram(const std::string& updater) {
  struct stat st {};
  if (::lstat(updater.c_str(), &st) != 0) return {};
  if (S_ISREG(st.st_mode)) return updater;
  if (S_ISDIR(st.st_mode)) return updater + "/AppRun";
  return {};
}

}  // namespace

void MainViewController::updateSettings() {
  runInBackground([this] {
    if (!server_->syncAuthorise()) {
      log(kSessionEnded, kSessionOther, "Update settings - authorise fail", kLogFailure);
      return;
    }
    server_->loadSettings("clientfull");
    server_->loadSettings("backup");
    server_->loadExclusions();
  });
}

void MainViewController::checkVersion() {
  runInBackground([this] {
    if (!server_->syncAuthorise()) {
      log(kSessionEnded, kSessionOther, "Check version - authorise fail", kLogFailure);
      return;
    }
    server_->checkVersion(kClientType);
  });
}

void MainViewController::downloadUpdate() {
  runInBackground([this] {
    if (!server_->syncAuthorise()) {
      log(kSessionEnded, kSessionOther, "Download update - authorise fail", kLogFailure);
      return;
    }
    server_->downloadUpdate(kClientType);
  });
}

void MainViewController::updateClient() {
  // Code fetched from the network runs only when the user agrees: the
  // window asks (installUpdate() is its yes); without one the news stays in
  // the log and the status rows.
  updateDownloaded_.store(true);
  std::string offered = version();
  log(kGeneralLogEvent, kSessionOther,
      stringWithFormat("A new version is available (%s); it is installed when the user agrees",
                       offered.empty() ? "unknown" : offered.c_str()),
      kLogFailure);
  runOnMain([this, offered] {
    if (view_) view_->updateDownloaded(offered);
  });
}

void MainViewController::installUpdate() {
  if (!updateDownloaded_.load()) return;
  if (restoring()) {
    scheduler_.armIfIdle(BackupScheduler::Slot::kUpdate, [this] {
      return Timer::scheduled(std::chrono::seconds(30), true, [this] { installUpdate(); });
    });
    return;
  }
  if (run_.active()) run_.cancelEngines();
  scheduler_.replace(BackupScheduler::Slot::kUpdate, nullptr);
  std::string updater = Env::supportDirectory() + "/" + kUpdaterName;
  std::string program = updaterProgram(updater);
  if (program.empty()) return;
  // The download left it executable by its owner only; it is not opened up
  // to other users here.
  std::string error;
  if (!Process::launch(program, {}, &error)) {
    log(kGeneralLogEvent, kSessionOther, stringWithFormat("Cannot start the updater %s: %s", program.c_str(),
                                                          error.c_str()),
        kLogFailure);
    return;
  }
  log(kGeneralLogEvent, kSessionOther, stringWithFormat("The updater is started: %s", program.c_str()), kLogFailure);
}

void MainViewController::updateStatistic() {
  runInBackground([this] {
    try {
      if (!server_->syncAuthorise()) return;
      auto statistics = server_->getStatisticByCategories();
      if (!statistics) return;
      Value reply = Value::object();
      for (const auto& [key, value] : *statistics) reply[key] = value;
      std::optional<int64_t> used;
      if (auto it = statistics->find("total_used"); it != statistics->end()) {
        if (it->second.is_number()) used = it->second.get<int64_t>();
        if (it->second.is_string()) used = std::strtoll(it->second.get<std::string>().c_str(), nullptr, 10);
      }
      if (used) setTotalUsed(used);
      runOnMain([this, reply] {
        if (view_) view_->statisticsChanged(reply);
      });
    } catch (const std::exception& e) {
      log(kGeneralLogEvent, kSessionOther, stringWithFormat("Exception in update statistic: %s", e.what()),
          kLogDetail);
    }
  });
}

void MainViewController::sendLogs(const std::string& message) { server_->sendLogsWithMessage(message, false); }

}  // namespace palvero
