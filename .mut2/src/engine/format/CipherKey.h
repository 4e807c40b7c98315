// The AES-256 key and initialisation vector that a cipher text (a setting
// handed out by the server at login) stands for:
//
//   1. while K has fewer than 32 characters, K <- K K;
//   2. vector = the first 16 characters of K as UTF-8, zero-padded to 16 bytes
//      (all zero when that takes more than 16 bytes);
//   3. key = the last 32 characters of K in the Windows-1251 code page
//      (all zero when one of them has no Windows-1251 byte).
//
// Characters are counted as UTF-16 code units, as the stored ciphers were
// produced that way; a cut through a surrogate pair leaves a half that
// converts to nothing, so the affected field is all zero.
//
// Thread contract: pure; safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace palvero {

struct CipherKey {
  std::array<uint8_t, 32> key{};
  std::array<uint8_t, 16> iv{};

  // Nothing for the empty text (doubling it never reaches 32 characters) and
  // for text that is not valid UTF-8.
  static std::optional<CipherKey> derive(std::string_view cipherText);

  bool operator==(const CipherKey&) const = default;
};

}  // namespace palvero
