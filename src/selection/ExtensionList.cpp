#include "selection/ExtensionList.h"

#include <algorithm>

namespace palvero {

std::string ExtensionList::asciiLowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

ExtensionList::ExtensionList(std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view entry = text.substr(start, end - start);
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    if (!entry.empty()) {
      std::string lower = asciiLowercase(entry);
      if (lower.front() != '.') lower.insert(lower.begin(), '.');
      if (lower.size() > 1 && std::find(entries_.begin(), entries_.end(), lower) == entries_.end()) {
        entries_.push_back(std::move(lower));
      }
    }
    start = end + 1;
  }
}

bool ExtensionList::matchesFileName(std::string_view lowerName) const {
  for (const auto& entry : entries_) {
    if (lowerName.size() >= entry.size() && lowerName.compare(lowerName.size() - entry.size(), entry.size(), entry) == 0) {
      return true;
    }
  }
  return false;
}

bool ExtensionList::containsEntry(std::string_view lowerEntry) const {
  return std::find(entries_.begin(), entries_.end(), lowerEntry) != entries_.end();
}

}  // namespace palvero
