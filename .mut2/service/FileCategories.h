// The category of a stored file by its extension, as the statistics and
// the largest-files list group them: "documents", "pictures", "music",
// "video", "email" or "other".
//
// Stateless; safe from any thread.
#pragma once

#include <array>
#include <string>

namespace palvero::service {

class FileCategories {
 public:
  static constexpr std::array<const char*, 6> kNames = {"documents", "pictures", "music", "video", "email", "other"};
  // The category of the path's extension (case ignored); "other" for none.
  static std::string categoryOf(const std::string& path);
};

}  // namespace palvero::service
