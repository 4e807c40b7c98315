// URL-encoded form bodies as the client sends them. The client inserts most
// values without encoding (JSON lists, device records), so the parser is
// lenient: a field is split at its first "=", "+" is a blank, "%XX" a byte,
// and a "%" that is not followed by two hex digits stays as it is.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace palvero::service {

std::string urlDecode(std::string_view text);
// Fields in body order; a repeated field keeps its first value.
std::map<std::string, std::string> parseForm(std::string_view body);
// The value of `name` in a Cookie header ("a=b; c=d"), or the empty text.
std::string cookieValue(std::string_view header, std::string_view name);
// A decimal integer (optional "-", digits only) within [min, max], or
// nothing. Every number taken from a request goes through this, so that no
// arithmetic on it can overflow.
std::optional<int64_t> boundedInteger(std::string_view text, int64_t min, int64_t max);

}  // namespace palvero::service
