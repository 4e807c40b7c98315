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

bool Security::inPlace(bool encrypt, Bytes& stream, const std::string& cipherText) {
  const CipherKey* key = keyFor(cipherText);
  if (!key) {
    stream.clear();
    return false;
  }
  return encrypt ? Aes256Cbc::encryptInPlace(stream, *key) : Aes256Cbc::decryptInPlace(stream, *key);
}

bool Security::EncryptStream(Bytes& stream, const std::string& Key) { return inPlace(true, stream, Key); }

bool Security::DecryptRefStream(Bytes& stream, const std::string& Key) { return inPlace(false, stream, Key); }

std::optional<Bytes> Security::DecryptStream(const Bytes& stream, const std::string& Key) {
  const CipherKey* key = keyFor(Key);
  if (!key) return std::nullopt;
  Bytes out;
  if (!Aes256Cbc::decrypt(stream, *key, out)) return std::nullopt;
  return out;
}

}  // namespace palvero
