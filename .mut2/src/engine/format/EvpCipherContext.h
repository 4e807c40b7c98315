// Owns one OpenSSL EVP_CIPHER_CTX; the only place that creates or frees one.
#pragma once

#include <openssl/evp.h>

#include <stdexcept>

namespace palvero {

class EvpCipherContext {
 public:
  // Throws std::runtime_error when OpenSSL cannot allocate the context.
  EvpCipherContext() : ctx_(EVP_CIPHER_CTX_new()) {
    if (!ctx_) throw std::runtime_error("EVP_CIPHER_CTX_new failed");
  }
  ~EvpCipherContext() { EVP_CIPHER_CTX_free(ctx_); }
  EvpCipherContext(const EvpCipherContext&) = delete;
  EvpCipherContext& operator=(const EvpCipherContext&) = delete;

  EVP_CIPHER_CTX* get() const { return ctx_; }

 private:
  EVP_CIPHER_CTX* ctx_;
};

}  // namespace palvero
