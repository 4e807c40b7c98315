#include "engine/format/EvpDigest.h"

#include <stdexcept>

namespace palvero {
namespace {

// Explicitly fetched algorithms: the implicit fetch behind EVP_sha256() costs
// a provider lookup on every init.
const EVP_MD* fetched(EvpDigest::Algorithm algorithm) {
  static const EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  static const EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  const EVP_MD* md = algorithm == EvpDigest::Algorithm::kSHA256 ? sha256 : md5;
  if (!md) throw std::runtime_error("digest algorithm unavailable");
  return md;
}

}  // namespace

std::string upperHex(std::span<const uint8_t> data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(data.size() * 2, '\0');
  char* p = out.data();
  for (uint8_t byte : data) {
    *p++ = kDigits[byte >> 4];
    *p++ = kDigits[byte & 0x0f];
  }
  return out;
}

EvpDigest::EvpDigest(Algorithm algorithm) : ctx_(EVP_MD_CTX_new()), md_(nullptr) {
  if (!ctx_) throw std::runtime_error("EVP_MD_CTX_new failed");
  try {
    md_ = fetched(algorithm);
    start();
  } catch (...) {
    EVP_MD_CTX_free(ctx_);
    throw;
  }
}

EvpDigest::~EvpDigest() { EVP_MD_CTX_free(ctx_); }

void EvpDigest::start() {
  if (EVP_DigestInit_ex2(ctx_, md_, nullptr) != 1) throw std::runtime_error("EVP_DigestInit_ex2 failed");
}

void EvpDigest::update(std::span<const uint8_t> data) {
  if (data.empty()) return;
  if (EVP_DigestUpdate(ctx_, data.data(), data.size()) != 1) throw std::runtime_error("EVP_DigestUpdate failed");
}

std::string EvpDigest::finishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx_, digest, &size) != 1) throw std::runtime_error("EVP_DigestFinal_ex failed");
  start();
  return upperHex({digest, size});
}

std::string EvpDigest::sha256Hex(std::span<const uint8_t> data) {
  EvpDigest digest(Algorithm::kSHA256);
  digest.update(data);
  return digest.finishHex();
}

std::string EvpDigest::md5Hex(std::span<const uint8_t> data) {
  EvpDigest digest(Algorithm::kMD5);
  digest.update(data);
  return digest.finishHex();
}

}  // namespace palvero
