// MD5 digests for checking uploaded block bodies against the client's record.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace palvero::service {

// The MD5 of `data` as 32 upper-case hexadecimal digits.
std::string md5Hex(std::string_view data);

// An MD5 fed piece by piece, for bodies that are never held whole.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  void update(const void* data, size_t size);
  // 32 upper-case hexadecimal digits; the digest cannot be fed afterwards.
  std::string finish();

 private:
  evp_md_ctx_st* ctx_;
};

}  // namespace palvero::service
