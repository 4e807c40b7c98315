#include "protocol/ProxyDetector.h"

#include <charconv>
#include <cstdlib>

namespace palvero {
namespace {

std::string environment(const char* lower, const char* upper) {
  for (const char* name : {lower, upper}) {
    if (const char* value = std::getenv(name); value && *value) return value;
  }
  return {};
}

// Undoes %XX in credentials ("p%40ss" for "p@ss").
std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int value = 0;
    if (text[i] == '%' && i + 2 < text.size() &&
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
      out.push_back(static_cast<char>(value));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

void ProxyDetector::parseProxyAddress(const std::string& address, std::string& hostname, int32_t& port,
                                      std::string& username, std::string& password) {
  hostname.clear();
  username.clear();
  password.clear();
  port = 0;
  std::string rest = address;
  bool socks = rest.rfind("socks", 0) == 0;
  if (size_t scheme = rest.find("://"); scheme != std::string::npos) rest.erase(0, scheme + 3);
  rest = rest.substr(0, rest.find('/'));
  if (size_t at = rest.rfind('@'); at != std::string::npos) {
    std::string credentials = rest.substr(0, at);
    rest.erase(0, at + 1);
    size_t colon = credentials.find(':');
    username = percentDecoded(credentials.substr(0, colon));
    if (colon != std::string::npos) password = percentDecoded(credentials.substr(colon + 1));
  }
  std::string portText;
  if (!rest.empty() && rest.front() == '[') {
    size_t close = rest.find(']');
    hostname = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':')
      portText = rest.substr(close + 2);
  } else {
    size_t colon = rest.rfind(':');
    hostname = rest.substr(0, colon);
    if (colon != std::string::npos) portText = rest.substr(colon + 1);
  }
  if (hostname.empty()) {
    username.clear();
    password.clear();
    return;
  }
  int32_t value = 0;
  auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
  bool valid =
      !portText.empty() && ec == std::errc() && ptr == portText.data() + portText.size() && value > 0 && value < 65536;
  port = valid ? value : (socks ? 1080 : 80);
}

void ProxyDetector::detectHttpProxyReturningHostname(std::string& hostname, int32_t& port, std::string& username,
                                                     std::string& password) const {
  parseProxyAddress(environment("http_proxy", "HTTP_PROXY"), hostname, port, username, password);
}

void ProxyDetector::detectHttpsProxyReturningHostname(std::string& hostname, int32_t& port, std::string& username,
                                                      std::string& password) const {
  parseProxyAddress(environment("https_proxy", "HTTPS_PROXY"), hostname, port, username, password);
}

}  // namespace palvero
