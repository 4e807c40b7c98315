// An extension list text (".ISO;.CUE;.BIN;") split into whole entries, for
// matching file names: a name matches when it ends with an entry, so ".c"
// matches "main.c" but not "disk.vmc", and ".tar.gz" matches "a.tar.gz".
// Comparison ignores ASCII case; other bytes are compared as they are.
//
// Immutable value type; safe to share between threads.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace palvero {

class ExtensionList {
 public:
  ExtensionList() = default;
  // Entries are separated by ";"; spaces around them are dropped, a missing
  // leading "." is added, and entries with nothing after the dot are skipped.
  explicit ExtensionList(std::string_view text);

  bool empty() const { return entries_.empty(); }
  // `lowerName` is the last path component, lower-cased (asciiLowercase).
  bool matchesFileName(std::string_view lowerName) const;
  // Whether ".app" (lower case, with its dot) is one of the entries.
  bool containsEntry(std::string_view lowerEntry) const;
  const std::vector<std::string>& entries() const { return entries_; }
  // This list with the entries of `other` added.
  ExtensionList unitedWith(const ExtensionList& other) const;

  static std::string asciiLowercase(std::string_view text);

 private:
  void add(std::string entry);

  std::vector<std::string> entries_;        // lower case, each beginning with ".", in list order
  std::unordered_set<std::string> lookup_;  // the same entries
  size_t longest_ = 0;                      // length of the longest entry
};

}  // namespace palvero
