// Encryption of blocks and version texts for one engine: AES-256-CBC with the
// key and vector of a cipher text (Aes256.h, CipherKey.h). Remembers the last
// cipher text's derived key, since an engine uses the same one block after
// block.
//
// Thread contract: one instance per engine (per worker thread); not to be
// shared between threads.
#pragma once

#include <optional>
#include <string>

#include "base/Bytes.h"
#include "engine/format/CipherKey.h"

namespace palvero {

class Security {
 public:
  // Replaces `stream` by its encrypted form. On failure (no usable cipher
  // text) `stream` is emptied and false is returned.
  bool EncryptStream(Bytes& stream, const std::string& Key);
  // The decrypted bytes, or nothing (wrong key, damaged or truncated data).
  std::optional<Bytes> DecryptStream(const Bytes& stream, const std::string& Key);
  // As EncryptStream, decrypting.
  bool DecryptRefStream(Bytes& stream, const std::string& Key);

 private:
  const CipherKey* keyFor(const std::string& cipherText);
  bool inPlace(bool encrypt, Bytes& stream, const std::string& cipherText);

  std::string cachedText_;
  std::optional<CipherKey> cachedKey_;
};

}  // namespace palvero
