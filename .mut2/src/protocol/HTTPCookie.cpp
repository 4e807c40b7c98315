#include "protocol/HTTPCookie.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace palvero {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// RFC 6265 domain matching: the host is the domain or ends with "." + domain.
bool domainMatches(const std::string& host, std::string domain) {
  if (!domain.empty() && domain.front() == '.') domain.erase(domain.begin());
  domain = lower(domain);
  if (domain.empty() || host == domain) return true;
  return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

}  // namespace

std::string hostOfURL(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    return lower(authority.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  return lower(authority.substr(0, authority.find(':')));
}

std::vector<HTTPCookie> cookiesFromResponse(const HttpResponse& response, const std::string& serverURL) {
  std::vector<HTTPCookie> cookies;
  std::string host = hostOfURL(serverURL);
  for (const auto& header : response.headerValues("Set-Cookie")) {
    std::string_view text(header);
    size_t semicolon = text.find(';');
    std::string_view pair = trim(text.substr(0, semicolon));
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    HTTPCookie cookie{std::string(trim(pair.substr(0, eq))), std::string(trim(pair.substr(eq + 1)))};
    if (cookie.name.empty()) continue;
    bool accepted = true;
    while (semicolon != std::string_view::npos) {
      text.remove_prefix(semicolon + 1);
      semicolon = text.find(';');
      std::string_view attribute = trim(text.substr(0, semicolon));
      size_t attrEq = attribute.find('=');
      if (attrEq != std::string_view::npos && lower(trim(attribute.substr(0, attrEq))) == "domain") {
        accepted = domainMatches(host, std::string(trim(attribute.substr(attrEq + 1))));
      }
    }
    if (accepted) cookies.push_back(std::move(cookie));
  }
  return cookies;
}

}  // namespace palvero
