#include "engine/format/FileBlockToSend.h"

#include "base/StringFormat.h"
#include "engine/format/EvpDigest.h"

namespace palvero {

FileBlockToSend::FileBlockToSend(Bytes body, std::string Checksum, int64_t Length)
    : body_(std::move(body)), checksum_(std::move(Checksum)), length_(Length), bodyMD5_(EvpDigest::md5Hex(body_)) {}

std::string FileBlockToSend::toJson() const {
  return stringWithFormat("{ \"name\": \"%s\", \"size\": %lld, \"checksum\": \"%s\"}", checksum_.c_str(),
                          static_cast<long long>(length_), bodyMD5_.c_str());
}

int64_t FileBlockToSend::fullLength() const {
  if (body_.empty()) return 0;
  return static_cast<int64_t>(body_.size() + toJson().size());
}

}  // namespace palvero
