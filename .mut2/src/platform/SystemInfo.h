// What this client tells the service about the system it runs on: the device
// type it registers with, the operating-system text of the log upload, and
// the computer's name.
//
// Thread contract: safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace palvero {

class SystemInfo {
 public:
  // The device-type code this client registers as: 31 ("Linux"); a macOS
  // build registers as 11 ("Mac OSX").
#ifdef __APPLE__
  static constexpr int32_t kDeviceType = 11;
#else
  static constexpr int32_t kDeviceType = 31;
#endif

  // "Linux %d.%d.%d" with the kernel's major, minor and patch numbers.
  static std::string operatingSystemText();
  // The same for a kernel release text as uname gives it ("6.1.0-18-amd64"):
  // the leading numbers, missing ones as 0.
  static std::string operatingSystemTextForRelease(const std::string& release);
  // The computer's name as the user knows it: the pretty host name of
  // /etc/machine-info when set, else the host name; "localhost" when neither.
  static std::string localizedHostName();
};

}  // namespace palvero
