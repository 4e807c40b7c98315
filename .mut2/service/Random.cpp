#include "Random.h"

#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace palvero::service {
namespace {

std::vector<unsigned char> randomBytes(size_t count) {
  std::vector<unsigned char> bytes(count);
  if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
    throw std::runtime_error("no random bytes available");
  }
  return bytes;
}

}  // namespace

std::string randomHex(size_t bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : randomBytes(bytes)) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string randomUuid() {
  auto b = randomBytes(16);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string randomAlphanumeric(size_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string out;
  // 248 is the largest multiple of 62 below 256: rejecting above it keeps the
  // letters uniform.
  while (out.size() < length) {
    for (unsigned char b : randomBytes(length)) {
      if (b < 248 && out.size() < length) out.push_back(kAlphabet[b % 62]);
    }
  }
  return out;
}

}  // namespace palvero::service
