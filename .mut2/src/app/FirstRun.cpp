#include "app/FirstRun.h"

#include <algorithm>

#include "app/ProcessStartup.h"
#include "app/RestorePresets.h"
#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "platform/Env.h"
#include "platform/HardwareId.h"
#include "platform/SystemInfo.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

bool contains(const std::vector<std::string>& names, const char* name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

void FirstRun::storeFirstRunDefaults() {
  LocalSettings::sharedManager().saveParameter("BackupTimingType", 0);
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setDefaultExclusions(std::string(".DS_Store;"));
  extensions.setComplexFiles(std::string(".APP;.IPA;.DMG;.LPDF;"));
  Value complex = extensions.complexValues();
  if (!complex.is_object()) complex = Value::object();
  for (const char* ext : {".APP", ".IPA", ".DMG", ".LPDF"}) complex[ext] = true;
  extensions.setComplexValues(complex);
  extensions.saveExtensions();
  log("Wizard started", kLogEvent);
}

FirstRun::FirstRun(std::shared_ptr<CommunicationServer> server)
    : server_(server ? std::move(server) : CommunicationServer::create()) {
  ProcessStartup::installCollaborators();
  observe("RegUserOK", [this](const Notification&) {
    if (phase_ != Phase::kLoggingIn) return;
    enrolledByLogin_ = true;
    enrolled();
  });
  // A refused login posts "RegUserFail" and then, in the same completion,
  // what kind of refusal it was: the names are gathered and judged after.
  for (const char* name : {"RegUserFail", "RegUserWrongPassword", "RegUserEmptyPassword"}) {
    observe(name, [this, name](const Notification&) {
      if (phase_ != Phase::kLoggingIn) return;
      if (refusal_.empty()) {
        std::weak_ptr<int> alive = alive_;
        RunLoop::main().async([this, alive] {
          if (alive.lock()) loginRefused();
        });
      }
      refusal_.push_back(name);
    });
  }
  observe("RegDeviceOK", [this](const Notification& note) {
    if (phase_ != Phase::kLoggingIn) return;
    devices_.clear();
    if (note.userInfo.is_object() && note.userInfo.contains("devices") && note.userInfo["devices"].is_array()) {
      for (const auto& device : note.userInfo["devices"]) devices_.push_back(device);
    }
    log("User registred", kLogEvent);
    Report report;
    report.outcome = Outcome::kChooseDevice;
    report.devices = devices_;
    complete(std::move(report));
  });
  observe("RegDevicePassedOK", [this](const Notification&) {
    if (phase_ == Phase::kLoggingIn) {
      // The request layer enrolled this computer by itself; it sends the
      // hardware identifiers on its own too.
      enrolledByLogin_ = true;
      Value listed = LocalSettings::sharedManager().devices();
      newDeviceRegistered_ = !listed.is_array() || listed.empty();
      enrolled();
    } else if (phase_ == Phase::kRegistering || phase_ == Phase::kRenaming) {
      // Under the device's own identity now.
      server_->sendSerialNumbers(HardwareId::serialNumber().value_or(""), HardwareId::computerUUID().value_or(""));
      if (phase_ == Phase::kRenaming) {
        complete(Report{Outcome::kExclusions, {}, {}});
      } else {
        enrolled();
      }
    }
  });
  observe("RegDevicePassedFail", [this](const Notification& note) {
    if (phase_ != Phase::kLoggingIn && phase_ != Phase::kRegistering && phase_ != Phase::kRenaming) return;
    Report report;
    report.outcome = Outcome::kDeviceRefused;
    if (note.userInfo.is_object() && note.userInfo.contains("message") && note.userInfo["message"].is_string()) {
      report.message = note.userInfo["message"].get<std::string>();
    }
    complete(std::move(report));
  });
  for (const char* name : {"LoadSettingsOK", "LoadSettingsFail", "LoadExclusionsOK", "LoadExclusionsFail"}) {
    observe(name, [this](const Notification&) {
      if (phase_ != Phase::kLoadingSettings) return;
      if (--loadsLeft_ <= 0) settingsLoaded();
    });
  }
}

FirstRun::~FirstRun() {
  for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
  if (settingsTimer_) settingsTimer_->invalidate();
}

void FirstRun::log(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

void FirstRun::observe(const char* name, std::function<void(const Notification&)> handler) {
  observers_.push_back(NotificationCenter::defaultCenter().addObserver(name, server_.get(), std::move(handler)));
}

bool FirstRun::begin(Phase phase, Completion& done) {
  if (phase_ != Phase::kIdle) {
    std::weak_ptr<int> alive = alive_;
    RunLoop::main().async([alive, done = std::move(done)] {
      if (alive.lock() && done) done(Report{Outcome::kBusy, "a first-run step is still under way", {}});
    });
    return false;
  }
  phase_ = phase;
  pending_ = std::move(done);
  return true;
}

void FirstRun::complete(Report report) {
  phase_ = Phase::kIdle;
  refusal_.clear();
  if (settingsTimer_) settingsTimer_->invalidate();
  settingsTimer_.reset();
  Completion done = std::move(pending_);
  pending_ = nullptr;
  if (done) done(report);
}

void FirstRun::login(const std::string& user, const std::string& password, Completion done) {
  if (!begin(Phase::kLoggingIn, done)) return;
  enrolledByLogin_ = false;
  newDeviceRegistered_ = false;
  devices_.clear();
  refusal_.clear();
  password_ = password;
  LocalSettings::sharedManager().setWrongPassInProgress(false);
  if (user.empty() || password.empty()) {
    // Nothing is sent for an empty field.
    std::weak_ptr<int> alive = alive_;
    RunLoop::main().async([this, alive] {
      if (alive.lock()) complete(Report{Outcome::kWrongPassword, "wrong username or password", {}});
    });
    return;
  }
  server_->registerUsername(user, password);
}

void FirstRun::loginRefused() {
  if (phase_ != Phase::kLoggingIn) return;
  bool wrong = contains(refusal_, "RegUserWrongPassword") || contains(refusal_, "RegUserEmptyPassword");
  log("User registration fail", kLogEvent);
  Report report;
  report.outcome = wrong ? Outcome::kWrongPassword : Outcome::kRefused;
  report.message = wrong ? "wrong username or password" : "the service refused the login";
  complete(std::move(report));
}

void FirstRun::addNewDevice(const std::string& name, Completion done) {
  if (!begin(Phase::kRegistering, done)) return;
  Value record = server_->loginWithNewDevice();
  record["Name"] = name;
  registerRecord(record, Phase::kRegistering);
}

void FirstRun::replaceDevice(const std::string& nameOrId, Completion done) {
  if (!begin(Phase::kRegistering, done)) return;
  auto found = std::find_if(devices_.begin(), devices_.end(), [&](const Value& device) {
    return device.value("Name", std::string()) == nameOrId || device.value("DeviceID", std::string()) == nameOrId;
  });
  if (found == devices_.end()) {
    complete(Report{Outcome::kNoSuchDevice, "the account has no device \"" + nameOrId + "\"", devices_});
    return;
  }
  Value record = *found;
  record["DeviceType"] = std::to_string(SystemInfo::kDeviceType);
  record["ComputerName"] = SystemInfo::localizedHostName();
  record["ClientVersion"] = Env::applicationVersion();
  registerRecord(record, Phase::kRegistering);
}

void FirstRun::renameThisDevice(const std::string& name, Completion done) {
  if (!begin(Phase::kRenaming, done)) return;
  Value record = server_->loginWithNewDevice();
  record["DeviceID"] = LocalSettings::sharedManager().clientId().value_or("");
  record["Name"] = name;
  registerRecord(record, Phase::kRenaming);
}

void FirstRun::registerRecord(const Value& record, Phase phase) {
  phase_ = phase;
  // A rename goes under the device's own identity; a new or taken-over
  // device under the account's, with the password typed at login.
  auto credentials = LocalSettings::sharedManager().credentials();
  const std::string& password = phase == Phase::kRenaming ? credentials.password : password_;
  server_->registerDevice(credentials.clientId, password, CommunicationServer::encodedDeviceRecord(record));
}

void FirstRun::enrolled() {
  log("User registred", kLogEvent);
  CommonExtensions::sharedExtensionsManager().saveParameter("maxSize", 0);
  phase_ = Phase::kLoadingSettings;
  loadsLeft_ = 3;
  std::weak_ptr<int> alive = alive_;
  settingsTimer_ = Timer::scheduled(std::chrono::duration_cast<Clock::Duration>(kSettingsTimeout), false,
                                    [this, alive] {
                                      if (!alive.lock() || phase_ != Phase::kLoadingSettings) return;
                                      log("The settings were not all loaded in time", kLogFailure);
                                      settingsLoaded();
                                    });
  // The renewal blocks: it runs off the main loop; the loads answer there.
  auto server = server_;
  DispatchQueue::global().async([server, alive, this] {
    bool authorised = server->syncAuthorise();
    if (authorised) {
      server->loadSettings("clientfull");
      server->loadSettings("backup");
      server->loadExclusions();
      return;
    }
    LogWriter::sharedLogger().logEntry(kSessionEnded, kSessionOther, "Update settings - authorise fail", kLogFailure);
    RunLoop::main().async([this, alive] {
      if (alive.lock() && phase_ == Phase::kLoadingSettings) settingsLoaded();
    });
  });
}

void FirstRun::settingsLoaded() { complete(Report{Outcome::kExclusions, {}, {}}); }

void FirstRun::sendExclusions(std::function<void(bool)> done) {
  auto server = server_;
  std::weak_ptr<int> alive = alive_;
  DispatchQueue::global().async([server, alive, done = std::move(done)] {
    bool sent = false;
    if (server->syncAuthorise()) {
      sent = server->saveSettings("exclusions");
    } else {
      log("Save exclusions to server - authorise fail", kLogFailure);
    }
    RunLoop::main().async([alive, done, sent] {
      if (alive.lock() && done) done(sent);
    });
  });
}

void FirstRun::setBackupHiddenFiles(bool on) {
  CommonExtensions::sharedExtensionsManager().saveParameter("backupHiddenFiles", on);
}

void FirstRun::leaveExclusions() { CommonExtensions::sharedExtensionsManager().saveExtensions(); }

void FirstRun::chooseRestore(const Value& presets, const Value& filesAndFolders) {
  RestorePresets::store(presets, filesAndFolders);
}

FirstScan::Result FirstRun::finish() { return FirstScan::run(); }

}  // namespace palvero
