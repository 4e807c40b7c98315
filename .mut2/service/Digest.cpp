#include "Digest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace palvero::service {

Md5::Md5() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::runtime_error("MD5 unavailable");
  }
}

Md5::~Md5() { EVP_MD_CTX_free(ctx_); }

void Md5::update(const void* data, size_t size) {
  if (EVP_DigestUpdate(ctx_, data, size) != 1) throw std::runtime_error("MD5 failed");
}

std::string Md5::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx_, digest, &size) != 1) throw std::runtime_error("MD5 failed");
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out.push_back(kDigits[digest[i] >> 4]);
    out.push_back(kDigits[digest[i] & 15]);
  }
  return out;
}

std::string md5Hex(std::string_view data) {
  Md5 md5;
  md5.update(data.data(), data.size());
  return md5.finish();
}

}  // namespace palvero::service
