#include "selection/USB.h"

#include "platform/HardwareId.h"

namespace palvero {

std::optional<std::string> USB::GetSerialNumber() { return HardwareId::serialNumber(); }

std::optional<std::string> USB::GetComputerUUID() { return HardwareId::computerUUID(); }

std::string USB::ParseSerialFromDeviceId(const std::string& deviceId) {
  size_t slash = deviceId.rfind('\\');
  std::string last = slash == std::string::npos ? deviceId : deviceId.substr(slash + 1);
  return last.substr(0, last.find('&'));
}

std::string USB::GetSerialNumberFromDriveLetter(const std::string& /*driveLetter*/) { return {}; }

}  // namespace palvero
