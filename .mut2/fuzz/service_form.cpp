// palvero-service's readers of form fields: the URL-encoded body, the
// Cookie header and the numbers taken from requests.
//
// Besides not crashing: a body of fields whose every byte is %-encoded reads
// back to exactly those fields; a number is accepted only within its bounds
// and only when the whole text is that number; a cookie value never holds
// ";" or surrounding blanks.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "FormCodec.h"
#include "FuzzHome.h"

using namespace palvero::service;

namespace {

std::string percentEncoded(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  parseForm(text);
  urlDecode(text);
  // Fields cut from the input at "\n": key, value, key, value ...
  std::map<std::string, std::string> given;
  std::string body;
  size_t at = 0;
  while (at < text.size()) {
    size_t keyEnd = std::min(text.find('\n', at), text.size());
    size_t valueEnd = keyEnd < text.size() ? std::min(text.find('\n', keyEnd + 1), text.size()) : keyEnd;
    std::string_view key = text.substr(at, keyEnd - at);
    std::string_view value = keyEnd < text.size() ? text.substr(keyEnd + 1, valueEnd - keyEnd - 1) : std::string_view();
    at = valueEnd + 1;
    if (key.empty() || given.count(std::string(key))) continue;
    given.emplace(key, value);
    body += (body.empty() ? "" : "&") + percentEncoded(key) + "=" + percentEncoded(value);
  }
  if (parseForm(body) != given) palvero::fuzz::fail("encoded fields do not read back: " + body);

  std::string cookie = cookieValue(text, "PVSESSID");
  if (cookie.find(';') != std::string::npos) palvero::fuzz::fail("\";\" in a cookie value");
  if (!cookie.empty() && (cookie.front() == ' ' || cookie.back() == ' ')) palvero::fuzz::fail("blanks around a cookie");

  std::string_view number = text.substr(0, std::min<size_t>(text.size(), 24));
  for (auto [min, max] : {std::pair<int64_t, int64_t>{0, 100}, {-1, INT64_MAX}, {INT64_MIN, INT64_MAX}}) {
    if (auto value = boundedInteger(number, min, max)) {
      if (*value < min || *value > max) palvero::fuzz::fail("a number outside its bounds was accepted");
      if (std::to_string(*value) != number && ("+" + std::to_string(*value)) != number) {
        // Leading zeros are the only other spelling of an accepted number.
        if (number.find_first_not_of("-0123456789") != std::string_view::npos) {
          palvero::fuzz::fail("accepted a number with other characters: " + std::string(number));
        }
      }
    }
  }
  return 0;
}
