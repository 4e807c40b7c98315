#include "base/FileURL.h"

#include <cctype>

#include "base/Hex.h"

namespace palvero {
namespace {

constexpr char kScheme[] = "file://";

}  // namespace

std::string FileURL::fromPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = kScheme;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::optional<std::string> FileURL::toPath(const std::string& url) {
  if (url.rfind(kScheme, 0) != 0) return std::nullopt;
  std::string path;
  for (size_t i = sizeof kScheme - 1; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size() && hexDigitValue(url[i + 1]) >= 0 && hexDigitValue(url[i + 2]) >= 0) {
      path += static_cast<char>(hexDigitValue(url[i + 1]) * 16 + hexDigitValue(url[i + 2]));
      i += 2;
    } else {
      path += url[i];
    }
  }
  if (path.empty() || path[0] != '/') return std::nullopt;
  return path;
}

}  // namespace palvero
