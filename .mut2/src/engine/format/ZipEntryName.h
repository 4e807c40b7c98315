// Entry names of zip archives as paths: backslashes read as "/", empty and
// "." components dropped. A name is safe to extract when it is relative and
// has no ".." component, so that it cannot reach outside the target folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace palvero {

class ZipEntryName {
 public:
  static std::vector<std::string> components(std::string_view name);
  static bool isSafeToExtract(std::string_view name);
};

}  // namespace palvero
