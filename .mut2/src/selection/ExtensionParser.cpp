#include "selection/ExtensionParser.h"

#include "selection/ExtensionList.h"

namespace palvero {

const std::array<const char*, ExtensionParser::kPictureSlots> ExtensionParser::kPictureExtensions = {
    ".jpeg", ".jpg", ".tiff", ".tif", ".jpg", ".raw", ".bmp", ".png", ".gif", ".arw", ".psd", ".dng", ".pxm"};

std::array<bool, ExtensionParser::kPictureSlots> ExtensionParser::getPicturesExtensionsFromSettings(
    const std::string& list) {
  std::array<bool, kPictureSlots> slots{};
  const ExtensionList entries(list);
  for (const auto& entry : entries.entries()) {
    // The first slot with the entry's name takes it, so the repeated ".jpg"
    // slot stays clear.
    for (size_t i = 0; i < kPictureSlots; ++i) {
      if (entry == kPictureExtensions[i]) {
        slots[i] = true;
        break;
      }
    }
  }
  return slots;
}

std::string ExtensionParser::getPicturesExtensionsWithList(const std::array<bool, kPictureSlots>& slots) {
  std::string list;
  for (size_t i = 0; i < kPictureSlots; ++i) {
    if (!slots[i]) continue;
    std::string entry = std::string(kPictureExtensions[i]) + ";";
    if (list.find(entry) == std::string::npos) list += entry;
  }
  return list;
}

bool ExtensionParser::excludeDotPath(const std::string& path) { return path.find("/.") == std::string::npos; }

}  // namespace palvero
