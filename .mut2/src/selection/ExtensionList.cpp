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
      if (lower.size() > 1) add(std::move(lower));
    }
    start = end + 1;
  }
}

void ExtensionList::add(std::string entry) {
  if (!lookup_.insert(entry).second) return;
  longest_ = std::max(longest_, entry.size());
  entries_.push_back(std::move(entry));
}

ExtensionList ExtensionList::unitedWith(const ExtensionList& other) const {
  ExtensionList united = *this;
  for (const auto& entry : other.entries_) united.add(entry);
  return united;
}

bool ExtensionList::matchesFileName(std::string_view lowerName) const {
  if (lookup_.empty()) return false;
  // Every entry begins with ".", so only the name's tails from a dot can match.
  std::string tail;
  for (size_t dot = lowerName.rfind('.'); dot != std::string_view::npos; dot = lowerName.rfind('.', dot - 1)) {
    if (lowerName.size() - dot > longest_) break;
    tail.assign(lowerName.substr(dot));
    if (lookup_.count(tail)) return true;
    if (dot == 0) break;
  }
  return false;
}

bool ExtensionList::containsEntry(std::string_view lowerEntry) const {
  return lookup_.count(std::string(lowerEntry)) > 0;
}

}  // namespace palvero
