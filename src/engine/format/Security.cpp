#include "engine/format/Security.h"

#include "engine/format/Aes256.h"

namespace palvero {

const CipherKey* Security::keyFor(const std::string& cipherText) {
  if (!cachedKey_ || cachedText_ != cipherText) {
    cachedKey_ = CipherKey::derive(cipherText);
    cachedText_ = cipherText;
  }
  return cachedKey_ ? &*cachedKey_ : nullptr;
}

bool Security::EncryptStream(Bytes& stream, const std::string& Key) {
  const CipherKey* key = keyFor(Key);
  if (!key) {
    stream.clear();
    return false;
  }
  return Aes256Cbc::encryptInPlace(stream, *key);
}

std::optional<Bytes> Security::DecryptStream(const Bytes& stream, const std::string& Key) {
  const CipherKey* key = keyFor(Key);
  if (!key) return std::nullopt;
  Bytes out;
  if (!Aes256Cbc::decrypt(stream, *key, out)) return std::nullopt;
  return out;
}

bool Security::DecryptRefStream(Bytes& stream, const std::string& Key) {
  const CipherKey* key = keyFor(Key);
  if (!key) {
    stream.clear();
    return false;
  }
  return Aes256Cbc::decryptInPlace(stream, *key);
}

}  // namespace palvero
