// Raw byte buffers and their conversions to and from text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesFromString(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline std::string stringFromBytes(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace palvero
