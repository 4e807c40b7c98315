// Session cookies as the request layer keeps them: a name and a value, taken
// from the Set-Cookie headers of a reply. Attributes are not kept; a cookie
// whose Domain attribute does not cover the server's host is ignored, as a
// browser would ignore it.
#pragma once

#include <string>
#include <vector>

#include "protocol/HttpTransport.h"

namespace palvero {

struct HTTPCookie {
  std::string name;
  std::string value;
  bool operator==(const HTTPCookie&) const = default;
};

// The cookies of every Set-Cookie header of `response`, in order, for the
// server at `serverURL`.
std::vector<HTTPCookie> cookiesFromResponse(const HttpResponse& response, const std::string& serverURL);

// The host of an http(s) URL, lower-cased, without port or brackets.
std::string hostOfURL(const std::string& url);

}  // namespace palvero
