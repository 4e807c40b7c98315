// The identifiers of this computer that the service records for a device:
// a hardware serial number and a hardware UUID.
//
// Read from the firmware tables (/sys/class/dmi/id/product_serial and
// product_uuid) when they are readable and hold a real value; otherwise both
// are derived from /etc/machine-id (DMI is often root-only or missing in
// virtual machines and containers). Firmware placeholders such as
// "To Be Filled By O.E.M." or an all-zero UUID count as missing.
//
// Thread contract: safe from any thread; setRootForTesting() only while no
// other thread reads.
#pragma once

#include <optional>
#include <string>

namespace palvero {

class HardwareId {
 public:
  // The hardware serial number, or nothing when neither source is readable.
  static std::optional<std::string> serialNumber();
  // The hardware UUID in upper case ("4C4C4544-0042-..."), or nothing.
  static std::optional<std::string> computerUUID();

  // Reads the files under `root` instead of "/" (a fake sysfs and /etc); the
  // empty text restores "/".
  static void setRootForTesting(const std::string& root);

  // Whether a firmware value is a known placeholder rather than an identifier.
  static bool isPlaceholder(const std::string& value);
};

}  // namespace palvero
