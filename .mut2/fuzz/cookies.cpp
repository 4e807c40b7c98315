// The cookie parser: Set-Cookie headers of any reply, for a server address.
//
// Input: the server address on the first line, then one Set-Cookie header
// per line. Besides not crashing: every cookie kept has a name, neither name
// nor value has surrounding blanks, the name holds no "=" and neither holds
// ";" (only the first pair of a header is a cookie), and no header gives
// more than one cookie.
#include <cctype>
#include <cstdint>
#include <string>

#include "FuzzHome.h"
#include "protocol/HTTPCookie.h"

using namespace palvero;

namespace {

bool hasSurroundingBlank(const std::string& text) {
  return !text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                           std::isspace(static_cast<unsigned char>(text.back())));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t end = text.find('\n');
  std::string url = text.substr(0, end);
  HttpResponse response;
  response.status = 200;
  response.headers.emplace_back("Content-Type", "text/plain");
  while (end != std::string::npos) {
    size_t start = end + 1;
    end = text.find('\n', start);
    response.headers.emplace_back(start % 2 ? "Set-Cookie" : "set-cookie",
                                  text.substr(start, end == std::string::npos ? end : end - start));
  }
  std::string host = hostOfURL(url);
  for (char c : host) {
    if (std::isupper(static_cast<unsigned char>(c))) fuzz::fail("the host is not lower-cased: " + host);
  }
  auto cookies = cookiesFromResponse(response, url);
  if (cookies.size() + 1 > response.headers.size()) fuzz::fail("more cookies than Set-Cookie headers");
  for (const auto& cookie : cookies) {
    if (cookie.name.empty()) fuzz::fail("a cookie without a name");
    if (hasSurroundingBlank(cookie.name) || hasSurroundingBlank(cookie.value)) {
      fuzz::fail("blanks around the cookie " + cookie.name + "=" + cookie.value);
    }
    if (cookie.name.find('=') != std::string::npos) fuzz::fail("\"=\" in the cookie name " + cookie.name);
    if (cookie.name.find(';') != std::string::npos || cookie.value.find(';') != std::string::npos) {
      fuzz::fail("\";\" in the cookie " + cookie.name + "=" + cookie.value);
    }
  }
  return 0;
}
