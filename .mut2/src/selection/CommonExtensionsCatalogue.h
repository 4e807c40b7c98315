// The request layer's view of the backup selection (ExtensionCatalogue,
// declared in src/protocol) over CommonExtensions: what loadExclusions and
// loadSettings store, and the exclusions body saveSettings sends. Every call
// goes to the current shared CommonExtensions, so a reset in a test is
// followed.
//
// The application installs it once at start (install()), before the first
// settings request.
//
// Thread contract: as CommonExtensions: every member is safe from any thread.
#pragma once

#include "protocol/ExtensionCatalogue.h"

namespace palvero {

class CommonExtensionsCatalogue : public ExtensionCatalogue {
 public:
  // Makes this the catalogue of the request layer.
  static void install();

  std::string exclusionsToJSON() const override;
  void checkFoldersForInterceptions() override;
  std::vector<std::string> adminFolders() const override;
  std::vector<std::string> foldersToBeExcludedFromBackup() const override;
  std::vector<std::string> foldersToBeIncludedToBackupSeparately() const override;
  bool saveParameter(const std::string& key, const Value& value) override;
  void setSelectionValues(const std::string& storeKey, const Value& selection) override;
  bool saveExtensions() override;
};

}  // namespace palvero
