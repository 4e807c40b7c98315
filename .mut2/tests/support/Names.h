#pragma once
// The names of listed folders or files, in listing order.
#include <string>
#include <vector>

namespace palvero::testing {

template <typename Listed>
std::vector<std::string> names(const std::vector<Listed>& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.name);
  return out;
}

}  // namespace palvero::testing
