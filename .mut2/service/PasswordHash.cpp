#include "PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <charconv>
#include <stdexcept>
#include <vector>

#include "Random.h"

namespace palvero::service {
namespace {

constexpr const char* kScheme = "pbkdf2-sha256";
constexpr size_t kHashBytes = 32;
constexpr int kMaxIterations = 10000000;

std::string hex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

std::string derive(const std::string& password, const std::string& salt, int iterations) {
  unsigned char out[kHashBytes];
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), iterations,
                        EVP_sha256(), sizeof out, out) != 1) {
    throw std::runtime_error("PBKDF2 failed");
  }
  return hex(out, sizeof out);
}

struct Parsed {
  int iterations = 0;
  std::string salt;
  std::string hash;
};

bool parse(const std::string& stored, Parsed& out) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t end = stored.find('$', start);
    fields.push_back(stored.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (fields.size() != 4 || fields[0] != kScheme || fields[2].empty() || fields[3].size() != kHashBytes * 2) {
    return false;
  }
  const std::string& count = fields[1];
  auto [ptr, ec] = std::from_chars(count.data(), count.data() + count.size(), out.iterations);
  if (ec != std::errc() || ptr != count.data() + count.size() || out.iterations < 1 ||
      out.iterations > kMaxIterations) {
    return false;
  }
  out.salt = fields[2];
  out.hash = fields[3];
  return true;
}

}  // namespace

std::string PasswordHash::make(const std::string& password, int iterations) {
  std::string salt = randomHex(16);
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + salt + "$" +
         derive(password, salt, iterations);
}

bool PasswordHash::verify(const std::string& password, const std::string& stored) {
  Parsed parsed;
  if (!parse(stored, parsed)) return false;
  std::string computed = derive(password, parsed.salt, parsed.iterations);
  return computed.size() == parsed.hash.size() &&
         CRYPTO_memcmp(computed.data(), parsed.hash.data(), computed.size()) == 0;
}

bool PasswordHash::isHash(const std::string& stored) {
  Parsed parsed;
  return parse(stored, parsed);
}

}  // namespace palvero::service
