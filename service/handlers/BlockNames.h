// Storage names of blocks: the strong checksum, with ".pvzip" appended when
// the block was stored packed. A block held under either name counts as held.
#pragma once

#include <string>

#include "HandlerRegistry.h"

namespace palvero::service {

inline constexpr const char* kPackedSuffix = ".pvzip";

inline bool endsWithPacked(const std::string& name) {
  std::string suffix = kPackedSuffix;
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The checksum part of a storage name.
inline std::string checksumOf(const std::string& name) {
  return endsWithPacked(name) ? name.substr(0, name.size() - std::string(kPackedSuffix).size()) : name;
}

inline bool blockHeld(ServiceContext& ctx, const std::string& name) {
  std::string checksum = checksumOf(name);
  return ctx.blocks.contains(checksum) || ctx.blocks.contains(checksum + kPackedSuffix);
}

}  // namespace palvero::service
