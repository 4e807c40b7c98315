// Helpers of the exclusions page: the picture category's list text as 13
// check-box slots and back, and the test that hides hidden folders in the
// folder tree.
//
// Stateless; safe from any thread.
#pragma once

#include <array>
#include <string>

namespace palvero {

class ExtensionParser {
 public:
  static constexpr size_t kPictureSlots = 13;
  // Slot order of the page. Slot 4 repeats ".jpg" and is never set from a list.
  static const std::array<const char*, kPictureSlots> kPictureExtensions;

  // Which slots the list text (".JPG;.PNG;") names, ignoring case.
  static std::array<bool, kPictureSlots> getPicturesExtensionsFromSettings(const std::string& list);
  // The list text of the set slots (".jpeg;.png;"); empty when none is set.
  static std::string getPicturesExtensionsWithList(const std::array<bool, kPictureSlots>& slots);
  // True when `path` has no hidden component ("/." nowhere in it).
  static bool excludeDotPath(const std::string& path);
};

}  // namespace palvero
