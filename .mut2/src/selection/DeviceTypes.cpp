#include "selection/DeviceTypes.h"

#include <array>

namespace palvero {
namespace {

struct Entry {
  int32_t code;
  DeviceTypes::Info info;
};

constexpr std::array<Entry, 8> kTable = {{
    {0, {"AD", "AD.png", "AD25x25.png"}},
    {1, {"Windows", "Windows.png", "Windows25x25.png"}},
    {2, {"Windows Phone", "WindowsPhone.png", "WindowsPhone25x25.png"}},
    {3, {"Windows Server", "Windows.png", "Windows25x25.png"}},
    {11, {"Mac OSX", "MacOS.png", "MacOS25x25.png"}},
    {12, {"iOS", "iOS.png", "iOS25x25.png"}},
    {21, {"Android", "Android.png", "Android25x25.png"}},
    {31, {"Linux", "Linux.png", "Linux25x25.png"}},
}};

}  // namespace

DeviceTypes::Info DeviceTypes::infoForType(int32_t code) {
  for (const Entry& entry : kTable) {
    if (entry.code == code) return entry.info;
  }
  return {"Unknown", "NoDevices.png", "NoDevices.png"};
}

}  // namespace palvero
