// The cipher texts handed out at login (any bytes the service sends) and the
// bytes it hands back for decryption.
//
// Input: one byte giving the cipher text's length, the cipher text, then the
// data. Properties: a cipher text that yields a key encrypts any data to the
// next multiple of 16 and decrypts it back unchanged; decrypting any data
// either fails or removes 1 to 16 bytes of padding from a whole number of
// blocks.
#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "engine/format/Aes256.h"
#include "engine/format/CipherKey.h"
#include "FuzzHome.h"

using namespace palvero;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = fuzz::Input::of(data, size);
  size_t keyLength = std::min<size_t>(input.selector, input.rest.size());
  std::string cipherText(input.rest.substr(0, keyLength));
  std::string_view rest = input.rest.substr(keyLength);
  Bytes plain(rest.begin(), rest.end());

  auto key = CipherKey::derive(cipherText);
  if (!key) {
    if (AES256EncryptWithKey(plain, cipherText)) fuzz::fail("encrypted with a cipher text that gives no key");
    return 0;
  }
  if (cipherText.empty()) fuzz::fail("the empty cipher text gave a key");

  auto sealed = AES256EncryptWithKey(plain, cipherText);
  if (!sealed) fuzz::fail("encryption failed with a usable key");
  if (sealed->size() != (plain.size() / 16 + 1) * 16) fuzz::fail("cipher text of the wrong length");
  auto opened = AES256DecryptWithKey(*sealed, cipherText);
  if (!opened || *opened != plain) fuzz::fail("decryption does not give the plain bytes back");

  if (auto decrypted = AES256DecryptWithKey(plain, cipherText)) {
    if (plain.size() % 16 != 0 || plain.size() - decrypted->size() < 1 || plain.size() - decrypted->size() > 16) {
      fuzz::fail("decryption of " + std::to_string(plain.size()) + " bytes gave " +
                 std::to_string(decrypted->size()));
    }
  }
  Bytes inPlace = plain;
  if (Aes256Cbc::decryptInPlace(inPlace, *key) != static_cast<bool>(AES256DecryptWithKey(plain, cipherText))) {
    fuzz::fail("in-place and copying decryption disagree");
  }
  return 0;
}
