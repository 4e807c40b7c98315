// A removable disk as a name and serial pair, and the hardware identifiers
// of this computer (read through the platform layer's HardwareId).
//
// Plain value type; the class operations are safe from any thread.
#pragma once

#include <optional>
#include <string>

namespace palvero {

class USB {
 public:
  std::string DiskName;
  std::string SerialNumber;

  USB() = default;
  USB(std::string diskName, std::string serial) : DiskName(std::move(diskName)), SerialNumber(std::move(serial)) {}
  static USB initWithParameters(const std::string& diskName, const std::string& Serial) { return {diskName, Serial}; }

  // The computer's hardware serial number, or nothing when unreadable.
  static std::optional<std::string> GetSerialNumber();
  // The computer's hardware UUID, or nothing when unreadable.
  static std::optional<std::string> GetComputerUUID();
  // The part of a device-instance text after its last backslash, up to the
  // first "&" ("USBSTOR\\DISK&VEN_X\\0123ABC&0" → "0123ABC").
  static std::string ParseSerialFromDeviceId(const std::string& deviceId);
  // Always empty: there are no drive letters here.
  static std::string GetSerialNumberFromDriveLetter(const std::string& driveLetter);
};

}  // namespace palvero
