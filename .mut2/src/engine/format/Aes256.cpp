#include "engine/format/Aes256.h"

#include <climits>
#include <exception>

#include "engine/format/EvpCipherContext.h"

namespace palvero {
namespace {

const EVP_CIPHER* aes256Cbc() {
  static const EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  return cipher;
}

// Runs the cipher from `in` to `out`, which may be the same memory and must
// hold size + 16 bytes. Returns the output length, or -1.
long long run(bool encrypt, const uint8_t* in, size_t size, uint8_t* out, const CipherKey& key) {
  const EVP_CIPHER* cipher = aes256Cbc();
  if (!cipher) return -1;
  EvpCipherContext ctx;
  if (EVP_CipherInit_ex2(ctx.get(), cipher, key.key.data(), key.iv.data(), encrypt ? 1 : 0, nullptr) != 1) return -1;
  // EVP counts in int: feed large buffers in slices that are whole blocks.
  constexpr size_t kSlice = size_t{1} << 30;
  size_t done = 0;
  size_t written = 0;
  while (done < size) {
    size_t slice = std::min(kSlice, size - done);
    int outLength = 0;
    if (EVP_CipherUpdate(ctx.get(), out + written, &outLength, in + done, static_cast<int>(slice)) != 1) return -1;
    done += slice;
    written += static_cast<size_t>(outLength);
  }
  int finalLength = 0;
  if (EVP_CipherFinal_ex(ctx.get(), out + written, &finalLength) != 1) return -1;
  return static_cast<long long>(written + static_cast<size_t>(finalLength));
}

// Runs the cipher over `size` bytes at `in` into `out`, which already holds
// size + 16 bytes (`in` may point into it). `out` is cleared on failure.
bool crypt(bool encrypt, const uint8_t* in, size_t size, Bytes& out, const CipherKey& key) {
  try {
    long long n = run(encrypt, in, size, out.data(), key);
    if (n >= 0) {
      out.resize(static_cast<size_t>(n));
      return true;
    }
  } catch (const std::exception&) {
    // Reported as failure below.
  }
  out.clear();
  return false;
}

bool inPlace(bool encrypt, Bytes& data, const CipherKey& key) {
  size_t size = data.size();
  try {
    data.resize(size + Aes256Cbc::kBlockSize);
  } catch (const std::exception&) {
    data.clear();
    return false;
  }
  return crypt(encrypt, data.data(), size, data, key);
}

bool copying(bool encrypt, std::span<const uint8_t> in, const CipherKey& key, Bytes& out) {
  try {
    out.resize(in.size() + Aes256Cbc::kBlockSize);
  } catch (const std::exception&) {
    out.clear();
    return false;
  }
  return crypt(encrypt, in.data(), in.size(), out, key);
}

std::optional<Bytes> withTextKey(bool encrypt, std::span<const uint8_t> data, std::string_view cipherText) {
  auto key = CipherKey::derive(cipherText);
  if (!key) return std::nullopt;
  Bytes out;
  if (!copying(encrypt, data, *key, out)) return std::nullopt;
  return out;
}

}  // namespace

bool Aes256Cbc::encryptInPlace(Bytes& data, const CipherKey& key) { return inPlace(true, data, key); }
bool Aes256Cbc::decryptInPlace(Bytes& data, const CipherKey& key) { return inPlace(false, data, key); }
bool Aes256Cbc::encrypt(std::span<const uint8_t> in, const CipherKey& key, Bytes& out) {
  return copying(true, in, key, out);
}
bool Aes256Cbc::decrypt(std::span<const uint8_t> in, const CipherKey& key, Bytes& out) {
  return copying(false, in, key, out);
}

std::optional<Bytes> AES256EncryptWithKey(std::span<const uint8_t> data, std::string_view key) {
  return withTextKey(true, data, key);
}

std::optional<Bytes> AES256DecryptWithKey(std::span<const uint8_t> data, std::string_view key) {
  return withTextKey(false, data, key);
}

}  // namespace palvero
