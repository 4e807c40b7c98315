// Unpredictable identifiers for sessions, devices, passwords and ciphers,
// drawn from the kernel's random source.
#pragma once

#include <cstddef>
#include <string>

namespace palvero::service {

// `bytes` random bytes as lower-case hexadecimal.
std::string randomHex(size_t bytes);
// A version-4 UUID in upper case ("8F1C...-....").
std::string randomUuid();
// `length` random letters and digits.
std::string randomAlphanumeric(size_t length);

}  // namespace palvero::service
