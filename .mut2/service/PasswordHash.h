// Account passwords as stored: a salted PBKDF2-HMAC-SHA256 hash (OpenSSL),
// never the password itself. Text form:
//   pbkdf2-sha256$<iterations>$<salt, hex>$<hash, hex>
// The iteration count travels with each hash, so it can be raised later
// without making older hashes unreadable.
//
// Stateless; safe from any thread.
#pragma once

#include <string>

namespace palvero::service {

class PasswordHash {
 public:
  static constexpr int kIterations = 100000;

  // A new hash of `password` with a fresh 16-byte salt.
  static std::string make(const std::string& password, int iterations = kIterations);
  // Whether `password` matches `stored` (compared in constant time); false
  // for a `stored` text that is no hash of this form.
  static bool verify(const std::string& password, const std::string& stored);
  // Whether `stored` is a hash of this form (and not a password kept in
  // clear by an older service).
  static bool isHash(const std::string& stored);
};

}  // namespace palvero::service
