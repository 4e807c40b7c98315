// The folder tree a client browses for restore, built from one device's
// version rows. A stored path "/home/ann/a.txt" lies on the drive "/", a
// path "C:/Users/a.txt" on the drive "C:". Listing "" gives the drives;
// listing a drive or folder gives its folders (by name, "toDelete" when
// every file beneath is marked deleted), then its files (by name, with the
// latest revision's size and mark and every revision as "version"). The
// whole-folder listing gives every folder and file beneath a path instead,
// named by their paths below "/". A name that is not UTF-8 also carries its
// bytes in hexadecimal as "nameBytes".
//
// Stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MetadataStore.h"

namespace palvero::service {

class FolderListing {
 public:
  // Repeated "/" collapsed and a trailing one dropped ("/" stays "/").
  static std::string normalize(const std::string& path);
  // "/" for an absolute path, else the first component ("C:").
  static std::string driveOf(const std::string& path);

  // The entries of `path` among `rows` (every revision of one owner, ordered
  // by path, then number). "toDelete" is 0/1.
  static std::vector<Value> entries(const std::vector<VersionRow>& rows, const std::string& path);
  // The whole tree under `path` ("/": every absolute path, "": every path), as the whole-folder
  // listing answers it: every folder beneath ({"folder", "toDelete"}) and
  // every file beneath ({"file", "size", "toDelete", "version"}), each named
  // by its path below "/" ("home/ann/a.txt"), folders first, by name;
  // "toDelete" as a boolean.
  static std::vector<Value> tree(const std::vector<VersionRow>& rows, const std::string& path);
  // One page (from 1) of `entries`: {"pagesCount", "page", "data"}. There is
  // always at least one page; a page past the last holds no data.
  static Value page(const std::vector<Value>& entries, int64_t page, int64_t pageSize);
};

}  // namespace palvero::service
