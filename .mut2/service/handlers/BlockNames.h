// Storage names of blocks: the strong checksum, with ".pvzip" appended when
// the block was stored packed. A block held under either name counts as held.
// Blocks live in the caller's account (AccountBlocks).
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

inline bool blockHeld(const BlobStore& store, const std::string& name) {
  std::string checksum = checksumOf(name);
  return store.contains(checksum) || store.contains(checksum + kPackedSuffix);
}

// The name under which `store` holds the block asked for as `requested`, or
// the empty text.
inline std::string heldName(const BlobStore& store, const std::string& requested) {
  std::string checksum = checksumOf(requested);
  if (store.contains(requested)) return requested;
  if (store.contains(checksum + kPackedSuffix)) return checksum + kPackedSuffix;
  if (store.contains(checksum)) return checksum;
  return {};
}

}  // namespace palvero::service
