// file:// URLs for local paths, percent-escaped as UTF-8 bytes.
#pragma once

#include <optional>
#include <string>

namespace palvero {

class FileURL {
 public:
  // "/a b/c" → "file:///a%20b/c". Unreserved characters and "/" stay.
  static std::string fromPath(const std::string& path);
  // The path of a file URL; nothing when `url` is not one.
  static std::optional<std::string> toPath(const std::string& url);
};

}  // namespace palvero
