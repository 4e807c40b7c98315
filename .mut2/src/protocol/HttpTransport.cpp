#include "protocol/HttpTransport.h"

#include <strings.h>

namespace palvero {
namespace {

bool sameName(const std::string& a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), b.size()) == 0;
}

}  // namespace

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return std::nullopt;
}

std::vector<std::string> HttpResponse::headerValues(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) out.push_back(value);
  }
  return out;
}

}  // namespace palvero
