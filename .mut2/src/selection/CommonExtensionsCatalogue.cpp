#include "selection/CommonExtensionsCatalogue.h"

#include <memory>

#include "selection/CommonExtensions.h"

namespace palvero {
namespace {

CommonExtensions& extensions() { return CommonExtensions::sharedExtensionsManager(); }

}  // namespace

void CommonExtensionsCatalogue::install() {
  ExtensionCatalogue::setCurrent(std::make_shared<CommonExtensionsCatalogue>());
}

std::string CommonExtensionsCatalogue::exclusionsToJSON() const { return extensions().exclusionsToJSON(); }

void CommonExtensionsCatalogue::checkFoldersForInterceptions() { extensions().checkFoldersForInterceptions(); }

std::vector<std::string> CommonExtensionsCatalogue::adminFolders() const { return extensions().adminFolders(); }

std::vector<std::string> CommonExtensionsCatalogue::foldersToBeExcludedFromBackup() const {
  return extensions().foldersToBeExcludedFromBackup();
}

std::vector<std::string> CommonExtensionsCatalogue::foldersToBeIncludedToBackupSeparately() const {
  return extensions().foldersToBeIncludedToBackupSeparately();
}

bool CommonExtensionsCatalogue::saveParameter(const std::string& key, const Value& value) {
  return extensions().saveParameter(key, value);
}

void CommonExtensionsCatalogue::setSelectionValues(const std::string& storeKey, const Value& selection) {
  // Each category's selection is stored under its list key + "Values".
  const std::string key = storeKey + "Values";
#define PALVERO_SET_SELECTION(name, Name, selectionKey) \
  if (key == selectionKey) {                            \
    extensions().set##Name(selection);                  \
    return;                                             \
  }
  PALVERO_EXTENSION_SELECTIONS(PALVERO_SET_SELECTION)
#undef PALVERO_SET_SELECTION
}

bool CommonExtensionsCatalogue::saveExtensions() { return extensions().saveExtensions(); }

}  // namespace palvero
