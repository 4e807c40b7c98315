// MD5 digests for checking uploaded block bodies against the client's record.
#pragma once

#include <string>
#include <string_view>

namespace palvero::service {

// The MD5 of `data` as 32 upper-case hexadecimal digits.
std::string md5Hex(std::string_view data);

}  // namespace palvero::service
