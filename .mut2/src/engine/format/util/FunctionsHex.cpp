#include "engine/format/util/Functions.h"

namespace palvero {

std::string Functions::HexStr(std::span<const uint8_t> data, size_t /*Length*/) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(data.size() * 2, '\0');
  char* p = out.data();
  for (uint8_t byte : data) {
    *p++ = kDigits[byte >> 4];
    *p++ = kDigits[byte & 0x0f];
  }
  return out;
}

}  // namespace palvero
