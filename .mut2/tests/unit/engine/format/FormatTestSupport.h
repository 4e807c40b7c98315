// Helpers shared by the format tests: running independent tools (openssl,
// sha256sum, python3) and making test data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "base/Bytes.h"

namespace palvero::testing {

struct CommandResult {
  int exitCode = -1;
  std::string output;
};

// Runs `command` through /bin/sh and captures its standard output.
inline CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

inline Bytes randomBytes(std::mt19937_64& rng, size_t size) {
  Bytes out(size);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v = rng();
    for (int k = 0; k < 8; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  for (; i < size; ++i) out[i] = static_cast<uint8_t>(rng());
  return out;
}

// Text that deflates well but not trivially: words drawn from a small list.
inline Bytes compressibleText(std::mt19937_64& rng, size_t size) {
  static const char* const kWords[] = {"backup ",   "block ",   "version ", "restore ", "palvero ", "file ",
                                       "checksum ", "archive ", "the ",     "of ",      "and ",     "\n"};
  Bytes out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const char* word = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    for (const char* p = word; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
  }
  return out;
}

inline std::string hexOf(const Bytes& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace palvero::testing
