// One running message digest (SHA-256 or MD5) over OpenSSL 3's EVP interface:
// the only place that touches EVP_MD_CTX. A digest object is reused block after
// block; finishing it resets it for the next message.
//
// Thread contract: one object per thread; the algorithms themselves are
// fetched once per process and shared.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>

namespace palvero {

class EvpDigest {
 public:
  enum class Algorithm { kSHA256, kMD5 };

  // Throws std::runtime_error when OpenSSL cannot provide the algorithm or
  // memory runs out; callers catch at their operation's boundary.
  explicit EvpDigest(Algorithm algorithm);
  ~EvpDigest();
  EvpDigest(const EvpDigest&) = delete;
  EvpDigest& operator=(const EvpDigest&) = delete;

  void update(std::span<const uint8_t> data);
  // Upper-case hexadecimal of the digest of everything fed since the last
  // finish; starts a new message.
  std::string finishHex();
  // Drops whatever was fed since the last finish.
  void reset() { start(); }

  static std::string sha256Hex(std::span<const uint8_t> data);
  static std::string md5Hex(std::span<const uint8_t> data);

 private:
  void start();

  EVP_MD_CTX* ctx_ = nullptr;
  const EVP_MD* md_ = nullptr;
};

// Upper-case hexadecimal, two digits per byte, no separators.
std::string upperHex(std::span<const uint8_t> data);

}  // namespace palvero
