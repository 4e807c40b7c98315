// One registered (or registrable) device of the account, as the service's
// device dictionaries describe it: the login reply's "Devices" list, the
// device-choice page of the wizard, the restore pages.
//
// Plain value type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Value.h"

namespace palvero {

class Device {
 public:
  std::optional<std::string> name;              // "Name"
  std::optional<std::string> computerName;      // "ComputerName"
  std::optional<std::string> serialNumber;      // "SerialNumber"
  std::optional<std::string> computerUUID;      // "ComputerUUID"
  int32_t deviceType = 0;                       // "DeviceType" (decimal text on the wire)
  std::optional<std::string> clientVersion;     // "ClientVersion"
  std::optional<std::string> deviceEncrypting;  // "DeviceEncripting"
  std::optional<std::string> deviceID;          // "DeviceID"

  // Reads the eight keys; "DeviceType" as an integer (0 when absent or not a
  // number); an absent text key leaves its field unset.
  static Device initWithDictionary(const Value& dictionary);
  // The eight keys with the field values ("" for an unset one), "DeviceType"
  // as decimal text.
  Value deviceToJson() const;

  // The label and icons of this device's type.
  const char* typeLabel() const;
  const char* typeIcon() const;
};

}  // namespace palvero
