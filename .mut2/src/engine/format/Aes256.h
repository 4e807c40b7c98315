// AES-256 in CBC mode with PKCS#7 padding over a whole buffer, with the key
// and vector of a cipher text (CipherKey). The output of encryption is the
// input rounded up to the next multiple of 16, a whole block of padding being
// added when the input already is one; nothing is prepended.
//
// Failure (an empty or malformed cipher text, a wrong key, damaged or
// truncated cipher text, which shows as a padding error) yields nothing and
// never partial output.
//
// Thread contract: safe from any thread; nothing is shared between calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/Bytes.h"
#include "engine/format/CipherKey.h"

namespace palvero {

// The byte-buffer operations the engine and the settings use, as free functions.
std::optional<Bytes> AES256EncryptWithKey(std::span<const uint8_t> data, std::string_view key);
std::optional<Bytes> AES256DecryptWithKey(std::span<const uint8_t> data, std::string_view key);

class Aes256Cbc {
 public:
  // Replaces `data` by its encrypted or decrypted form, in place. On failure
  // `data` is cleared and false is returned.
  static bool encryptInPlace(Bytes& data, const CipherKey& key);
  static bool decryptInPlace(Bytes& data, const CipherKey& key);
  // Writes the result to `out` (resized); `out` is cleared on failure.
  static bool encrypt(std::span<const uint8_t> in, const CipherKey& key, Bytes& out);
  static bool decrypt(std::span<const uint8_t> in, const CipherKey& key, Bytes& out);

  static constexpr size_t kBlockSize = 16;
};

}  // namespace palvero
