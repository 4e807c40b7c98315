#include "engine/format/ZipEntryName.h"

#include <algorithm>

namespace palvero {

std::vector<std::string> ZipEntryName::components(std::string_view name) {
  std::vector<std::string> out;
  std::string current;
  auto flush = [&] {
    if (!current.empty() && current != ".") out.push_back(current);
    current.clear();
  };
  for (char c : name) {
    if (c == '/' || c == '\\') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return out;
}

bool ZipEntryName::isSafeToExtract(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  if (name.find('\0') != std::string_view::npos) return false;
  auto parts = components(name);
  return !parts.empty() && std::none_of(parts.begin(), parts.end(), [](const std::string& p) { return p == ".."; });
}

}  // namespace palvero
