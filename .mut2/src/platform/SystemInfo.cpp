#include "platform/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <fstream>

#include "base/StringFormat.h"

namespace palvero {
namespace {

// PRETTY_HOSTNAME=... of /etc/machine-info, unquoted; empty when absent.
std::string prettyHostName() {
  std::ifstream in("/etc/machine-info");
  std::string line;
  while (std::getline(in, line)) {
    constexpr std::string_view kKey = "PRETTY_HOSTNAME=";
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    std::string value = line.substr(kKey.size());
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return {};
}

}  // namespace

std::string SystemInfo::operatingSystemTextForRelease(const std::string& release) {
  std::array<int, 3> numbers{0, 0, 0};
  size_t at = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (at >= release.size() || !std::isdigit(static_cast<unsigned char>(release[at]))) break;
    int value = 0;
    while (at < release.size() && std::isdigit(static_cast<unsigned char>(release[at])) && value < 100000) {
      value = value * 10 + (release[at] - '0');
      ++at;
    }
    numbers[i] = value;
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return stringWithFormat("Linux %d.%d.%d", numbers[0], numbers[1], numbers[2]);
}

std::string SystemInfo::operatingSystemText() {
  utsname name{};
  if (::uname(&name) != 0) return operatingSystemTextForRelease("");
  return operatingSystemTextForRelease(name.release);
}

std::string SystemInfo::localizedHostName() {
  std::string pretty = prettyHostName();
  if (!pretty.empty()) return pretty;
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) == 0 && host[0] != '\0') return host.data();
  return "localhost";
}

}  // namespace palvero
