// The device-type codes of the service with the labels and icons the device
// pages and the folder tree show for them.
//
// Stateless; safe from any thread.
#pragma once

#include <cstdint>

namespace palvero {

class DeviceTypes {
 public:
  struct Info {
    const char* label;
    const char* icon;       // device pages
    const char* smallIcon;  // folder tree
  };

  // The entry of `code`; "Unknown" with "NoDevices.png" for a code not in the table.
  static Info infoForType(int32_t code);
};

}  // namespace palvero
