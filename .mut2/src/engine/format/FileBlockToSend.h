// One encrypted block waiting in a batched upload: the body as sent (packed or
// not, then encrypted), the name the server stores it under (the block's
// checksum, plus ".pvzip" for the packed form) and the plain block's length.
// Immutable once made; the MD5 of the body is computed once, when it is made
// (the constructor throws std::runtime_error only when OpenSSL fails).
//
// A plain value; safe to move between threads.
#pragma once

#include <cstdint>
#include <string>

#include "base/Bytes.h"

namespace palvero {

class FileBlockToSend {
 public:
  FileBlockToSend() = default;
  // `initWithParameters:Checksum:Length:`
  FileBlockToSend(Bytes body, std::string Checksum, int64_t Length);

  const Bytes& body() const { return body_; }
  const std::string& checksum() const { return checksum_; }
  int64_t length() const { return length_; }

  // "{ \"name\": \"%@\", \"size\": %ld, \"checksum\": \"%@\"}" with the storage
  // name, the plain length and the MD5 of the body (32 upper-case hex digits).
  std::string toJson() const;
  // Body length plus the length of toJson(); 0 when there is no body.
  int64_t fullLength() const;

  // Records are the same upload when their storage names are equal.
  bool operator==(const FileBlockToSend& other) const { return checksum_ == other.checksum_; }

 private:
  Bytes body_;
  std::string checksum_;
  int64_t length_ = 0;
  std::string bodyMD5_;
};

}  // namespace palvero
