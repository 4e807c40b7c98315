#include "selection/Device.h"

#include <charconv>

#include "selection/DeviceTypes.h"

namespace palvero {
namespace {

std::optional<std::string> text(const Value& dictionary, const char* key) {
  auto it = dictionary.find(key);
  if (it == dictionary.end() || it->is_null()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  return it->dump();
}

// A decimal integer text or a JSON number; 0 for anything else.
int32_t typeCode(const Value& dictionary) {
  auto it = dictionary.find("DeviceType");
  if (it == dictionary.end()) return 0;
  if (it->is_number_integer()) return static_cast<int32_t>(it->get<int64_t>());
  if (!it->is_string()) return 0;
  const std::string& s = it->get_ref<const std::string&>();
  int32_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size() ? value : 0;
}

}  // namespace

Device Device::initWithDictionary(const Value& dictionary) {
  Device device;
  if (!dictionary.is_object()) return device;
  device.name = text(dictionary, "Name");
  device.computerName = text(dictionary, "ComputerName");
  device.serialNumber = text(dictionary, "SerialNumber");
  device.computerUUID = text(dictionary, "ComputerUUID");
  device.deviceType = typeCode(dictionary);
  device.clientVersion = text(dictionary, "ClientVersion");
  device.deviceEncrypting = text(dictionary, "DeviceEncripting");
  device.deviceID = text(dictionary, "DeviceID");
  return device;
}

Value Device::deviceToJson() const {
  return {{"Name", name.value_or("")},
          {"ComputerName", computerName.value_or("")},
          {"SerialNumber", serialNumber.value_or("")},
          {"ComputerUUID", computerUUID.value_or("")},
          {"DeviceType", std::to_string(deviceType)},
          {"ClientVersion", clientVersion.value_or("")},
          {"DeviceEncripting", deviceEncrypting.value_or("")},
          {"DeviceID", deviceID.value_or("")}};
}

const char* Device::typeLabel() const { return DeviceTypes::infoForType(deviceType).label; }
const char* Device::typeIcon() const { return DeviceTypes::infoForType(deviceType).icon; }

}  // namespace palvero
