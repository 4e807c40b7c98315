#include "app/LoginFlow.h"

#include <functional>
#include <memory>

#include "app/FirstRun.h"
#include "platform/Env.h"
#include "platform/SystemInfo.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

// Runs one step of the first run and the loop until it reports.
std::optional<FirstRun::Report> step(StdRunLoop& loop, std::chrono::seconds timeout,
                                     const std::function<void(FirstRun::Completion)>& start) {
  std::optional<FirstRun::Report> report;
  start([&report](const FirstRun::Report& r) { report = r; });
  loop.runUntil([&] { return report.has_value(); }, timeout);
  return report;
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
  auto& settings = LocalSettings::sharedManager();
  if (!settings.isInitialized()) FirstRun::storeFirstRunDefaults();

  FirstRun firstRun(server);
  auto report = step(loop, options.timeout, [&](FirstRun::Completion done) {
    firstRun.login(options.user, options.password, std::move(done));
  });
  if (report && report->outcome == FirstRun::Outcome::kChooseDevice) {
    result.devices = report->devices;
    if (options.newDevice) {
      report = step(loop, options.timeout,
                    [&](FirstRun::Completion done) { firstRun.addNewDevice(*options.newDevice, std::move(done)); });
    } else if (options.device) {
      report = step(loop, options.timeout,
                    [&](FirstRun::Completion done) { firstRun.replaceDevice(*options.device, std::move(done)); });
    }
  } else if (report && report->outcome == FirstRun::Outcome::kExclusions && options.newDevice &&
             firstRun.newDeviceRegistered()) {
    // The account had no device: the login registered this computer under
    // its host name; it gets the name asked for.
    report = step(loop, options.timeout,
                  [&](FirstRun::Completion done) { firstRun.renameThisDevice(*options.newDevice, std::move(done)); });
  }
  if (!report) {
    result.outcome = Outcome::kTimedOut;
    result.message = "the service did not answer the login in time";
    return result;
  }
  switch (report->outcome) {
    case FirstRun::Outcome::kExclusions:
      break;
    case FirstRun::Outcome::kChooseDevice:
      result.outcome = Outcome::kChooseDevice;
      result.message = "the account has devices: choose one with --device NAME_OR_ID or add this computer "
                       "with --new-device NAME";
      return result;
    case FirstRun::Outcome::kNoSuchDevice:
      result.outcome = Outcome::kNoSuchDevice;
      result.message = report->message;
      return result;
    case FirstRun::Outcome::kWrongPassword:
      result.outcome = Outcome::kWrongPassword;
      result.message = report->message;
      return result;
    case FirstRun::Outcome::kDeviceRefused:
      result.outcome = Outcome::kDeviceRefused;
      result.message = "the service refused the device: " + report->message;
      return result;
    case FirstRun::Outcome::kRefused:
    case FirstRun::Outcome::kBusy:
      result.outcome = Outcome::kRefused;
      result.message = report->message;
      return result;
  }

  // The exclusions page's Next, then what the hand-over stores.
  firstRun.leaveExclusions();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setDefaultExclusions(std::string(".DS_Store;"));
  extensions.saveExtensions();
  std::string running = Env::applicationVersion();
  if (settings.localAppVersion().value_or("") != running) {
    settings.saveParameter("localAppVersion", running);
    if (server->syncAuthorise()) server->saveSettings("client");
  }
  settings.setWrongPassInProgress(false);
  settings.setIsInitialized(true);
  settings.save();
  result.outcome = Outcome::kLoggedIn;
  result.deviceName = deviceName(options);
  return result;
}

std::string LoginFlow::deviceName(const Options& options) {
  // The record the service keeps for this device, when the login listed it.
  std::string id = LocalSettings::sharedManager().clientId().value_or("");
  Value listed = LocalSettings::sharedManager().devices();
  if (!options.newDevice && listed.is_array()) {
    std::vector<Value> devices(listed.begin(), listed.end());
    if (auto device = findDevice(devices, id)) return device->value("Name", id);
  }
  return options.newDevice.value_or(options.device.value_or(SystemInfo::localizedHostName()));
}

}  // namespace palvero
