#include "app/LoginFlow.h"

#include <deque>
#include <memory>

#include "base/NotificationCenter.h"
#include "platform/Env.h"
#include "platform/SystemInfo.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "selection/USB.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// Collects the named notifications of one sender, in order.
class Inbox {
 public:
  Inbox(const void* sender, std::initializer_list<const char*> names) {
    for (const char* name : names) {
      tokens_.push_back(NotificationCenter::defaultCenter().addObserver(
          name, sender, [this](const Notification& note) { received_.push_back(note); }));
    }
  }
  ~Inbox() {
    for (auto token : tokens_) NotificationCenter::defaultCenter().removeObserver(token);
  }
  // Waits (running the loop) for the next notification.
  std::optional<Notification> next(StdRunLoop& loop, std::chrono::seconds timeout) {
    if (received_.empty()) loop.runUntil([&] { return !received_.empty(); }, timeout);
    if (received_.empty()) return std::nullopt;
    Notification note = received_.front();
    received_.pop_front();
    return note;
  }
  // Notifications posted together with the last one (same completion).
  std::vector<std::string> drainNames(StdRunLoop& loop) {
    loop.runPending();
    std::vector<std::string> names;
    for (const auto& note : received_) names.push_back(note.name);
    received_.clear();
    return names;
  }

 private:
  std::vector<NotificationCenter::Token> tokens_;
  std::deque<Notification> received_;  // loop thread only
};

void logLogin(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, kLogEvent);
}

bool contains(const std::vector<std::string>& names, const char* name) {
  for (const auto& each : names) {
    if (each == name) return true;
  }
  return false;
}

}  // namespace

std::optional<Value> LoginFlow::findDevice(const std::vector<Value>& devices, const std::string& nameOrId) {
  for (const auto& device : devices) {
    if (device.value("Name", std::string()) == nameOrId || device.value("DeviceID", std::string()) == nameOrId) {
      return device;
    }
  }
  return std::nullopt;
}

LoginFlow::Result LoginFlow::run(StdRunLoop& loop, const Options& options) {
  auto& before = LocalSettings::sharedManager();
  std::optional<std::string> identity = before.clientId();
  Result result = runSteps(loop, options);
  // Saving the login reply marks the client initialised; a login that then
  // stops (no device chosen, device refused, no answer) must not leave it so,
  // or the next command would run as the account without a device. A login
  // refused before anything was saved leaves the previous one as it was.
  if (result.outcome != Outcome::kLoggedIn && LocalSettings::sharedManager().clientId() != identity) {
    auto& settings = LocalSettings::sharedManager();
    settings.setIsInitialized(false);
    settings.save();
  }
  return result;
}

LoginFlow::Result LoginFlow::runSteps(StdRunLoop& loop, const Options& options) {
  Result result;
  loop.runPending();
  auto server = CommunicationServer::create();
  if (server->syncPing() == CommunicationServer::kConnectionOffline) {
    result.outcome = Outcome::kUnreachable;
    result.message = "the service at " + server->serverURL() + " does not answer";
    return result;
  }
  Inbox inbox(server.get(), {"RegUserOK", "RegUserFail", "RegUserWrongPassword", "RegUserEmptyPassword",
                             "RegDeviceOK", "RegDevicePassedOK", "RegDevicePassedFail", "LoadSettingsOK",
                             "LoadSettingsFail", "LoadExclusionsOK", "LoadExclusionsFail"});
  LocalSettings::sharedManager().setWrongPassInProgress(false);
  server->registerUsername(options.user, options.password);

  bool enrolled = false;
  bool sentOwnRecord = false;
  // The device the request layer registered on its own (an account without
  // devices gets one named after the host) while the user named it.
  std::optional<std::string> toRename;
  while (!enrolled) {
    auto note = inbox.next(loop, options.timeout);
    if (!note) {
      result.message = "the service did not answer the login in time";
      return result;
    }
    if (note->name == "RegDevicePassedOK" && options.newDevice && !sentOwnRecord && !toRename) {
      // Logged in again, the account's list holds the new device: it is
      // registered once more under the name asked for.
      toRename = LocalSettings::sharedManager().clientId().value_or("");
      server->registerUsername(options.user, options.password);
    } else if (note->name == "RegUserOK" || note->name == "RegDevicePassedOK") {
      enrolled = true;
    } else if (note->name == "RegUserFail") {
      auto also = inbox.drainNames(loop);
      bool wrong = contains(also, "RegUserWrongPassword") || contains(also, "RegUserEmptyPassword");
      result.outcome = wrong ? Outcome::kWrongPassword : Outcome::kRefused;
      result.message = wrong ? "wrong user name or password" : "the service refused the login";
      logLogin("User registration fail");
      return result;
    } else if (note->name == "RegDevicePassedFail") {
      result.outcome = Outcome::kDeviceRefused;
      result.message = "the service refused the device: " + note->userInfo.value("message", std::string());
      return result;
    } else if (note->name == "RegDeviceOK") {
      for (const auto& device : note->userInfo.value("devices", Value::array())) result.devices.push_back(device);
      Value record;
      sentOwnRecord = true;
      if (options.newDevice && !toRename) {
        record = server->loginWithNewDevice();
        record["Name"] = *options.newDevice;
      } else if (options.device || toRename) {
        auto chosen = findDevice(result.devices, toRename ? *toRename : *options.device);
        if (!chosen) {
          result.outcome = Outcome::kNoSuchDevice;
          result.message = "the account has no device \"" + *options.device + "\"";
          return result;
        }
        record = *chosen;
        if (toRename) record["Name"] = *options.newDevice;
        record["DeviceType"] = std::to_string(SystemInfo::kDeviceType);
        record["ComputerName"] = SystemInfo::localizedHostName();
        record["ClientVersion"] = Env::applicationVersion();
      } else {
        result.outcome = Outcome::kChooseDevice;
        result.message = "the account has devices: choose one with --device NAME_OR_ID or add this computer "
                         "with --new-device NAME";
        return result;
      }
      auto& settings = LocalSettings::sharedManager();
      server->registerDevice(settings.clientId().value_or(""), options.password, record);
      server->sendSerialNumbers(USB::GetSerialNumber().value_or(""), USB::GetComputerUUID().value_or(""));
    }
  }

  // The settings and exclusions as the service keeps them.
  if (server->syncAuthorise()) {
    server->loadSettings("clientfull");
    server->loadSettings("backup");
    server->loadExclusions();
    int replies = 0;
    while (replies < 3) {
      auto note = inbox.next(loop, options.timeout);
      if (!note) break;
      if (note->name.rfind("Load", 0) == 0) ++replies;
    }
  } else {
    LogWriter::sharedLogger().logEntry(kSessionEnded, kSessionOther, "Update settings - authorise fail",
                                       kLogFailure);
  }

  // What the wizard and its hand-over store.
  auto& settings = LocalSettings::sharedManager();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.saveParameter("maxSize", 0);
  extensions.setDefaultExclusions(std::string(".DS_Store;"));
  extensions.saveExtensions();
  logLogin("User registred");
  std::string running = Env::applicationVersion();
  if (settings.localAppVersion().value_or("") != running) {
    settings.saveParameter("localAppVersion", running);
    if (server->syncAuthorise()) server->saveSettings("client");
  }
  settings.setWrongPassInProgress(false);
  settings.setIsInitialized(true);
  settings.save();
  result.outcome = Outcome::kLoggedIn;
  result.deviceName = options.newDevice.value_or(options.device.value_or(SystemInfo::localizedHostName()));
  return result;
}

}  // namespace palvero
