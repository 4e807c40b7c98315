// The palvero command's login: the first run's login and device steps
// (FirstRun) driven to the end on a run loop: logs the user in, attaches
// this computer to an existing device or registers it as a new one (or
// names the one the login registered by itself), loads the settings and
// exclusions from the service, saves the exclusions page, and ends with the
// client initialised and the hand-over's settings stored. The first scan is
// "palvero scan" (FirstScan), as the wizard's last page.
//
// Thread contract: run() on the thread that drives `loop`; the request
// layer's completions arrive there as notifications.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/StdRunLoop.h"
#include "base/Value.h"

namespace palvero {

class LoginFlow {
 public:
  enum class Outcome {
    kLoggedIn,
    kWrongPassword,   // "wrongpas" or an empty password
    kRefused,         // any other refusal of the login
    kChooseDevice,    // the account has devices: name one, or ask for a new one
    kNoSuchDevice,    // the named device is not in the account's list
    kDeviceRefused,   // the service refused the device registration
    kUnreachable,
    kTimedOut,
  };

  struct Options {
    std::string user;
    std::string password;
    std::optional<std::string> newDevice;  // register this computer under this name
    std::optional<std::string> device;     // take over the device with this name or id
    std::chrono::seconds timeout{180};  // per step: login, device, settings
  };

  struct Result {
    Outcome outcome = Outcome::kTimedOut;
    std::string message;
    std::vector<Value> devices;  // the account's devices, for kChooseDevice / kNoSuchDevice
    std::string deviceName;      // the device this computer is now
  };

  static Result run(StdRunLoop& loop, const Options& options);
  // The device of `devices` whose "Name" or "DeviceID" is `nameOrId`.
  static std::optional<Value> findDevice(const std::vector<Value>& devices, const std::string& nameOrId);

 private:
  static Result runSteps(StdRunLoop& loop, const Options& options);
  static std::string deviceName(const Options& options);
};

}  // namespace palvero
