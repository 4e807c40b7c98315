// What the settings requests need from the backup selection (the extension
// catalogue, which lives in src/selection above this layer): the exclusions
// body to send, and a place to store what the service sends back.
//
// The selection layer implements it (CommonExtensionsCatalogue) and
// registers that as the default of every program that links it, so a front
// end that forgot to install one still syncs its exclusions; the start-up
// function installs it all the same, and tests install their own. In a
// program without the selection layer none is there, and the operations
// that need one fail with a log line instead of dropping the service's
// values.
//
// Thread contract: current() and setCurrent() are safe from any thread; an
// implementation's members are called on the main thread (the load
// completions) and on background queues (saveSettings).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero {

class ExtensionCatalogue {
 public:
  virtual ~ExtensionCatalogue() = default;

  // The exclusions document sent with "save_settings" type "exclusions".
  virtual std::string exclusionsToJSON() const = 0;
  // Drops separately included folders that are also excluded, and saves.
  virtual void checkFoldersForInterceptions() = 0;

  // The placeholders that administrator folder paths may hold.
  virtual std::vector<std::string> adminFolders() const = 0;
  // The excluded folders (stored under "includefolders").
  virtual std::vector<std::string> foldersToBeExcludedFromBackup() const = 0;
  // The folders backed up inside excluded ones (stored under "excludefolders").
  virtual std::vector<std::string> foldersToBeIncludedToBackupSeparately() const = 0;

  // Sets one value by its store key and saves ("picture", "maxSize",
  // "includefolders", "NeedFullBackup", ...); booleans are given as JSON
  // booleans, an unset value as null.
  virtual bool saveParameter(const std::string& key, const Value& value) = 0;
  // Replaces the selection dictionary of the category stored under
  // `storeKey` ("picture", "compressedFiles", "temporarily", ...) in memory;
  // saveExtensions() writes it.
  virtual void setSelectionValues(const std::string& storeKey, const Value& selection) = 0;
  virtual bool saveExtensions() = 0;

  // The installed catalogue; when none is, the registered default (made
  // once, then kept as installed); nullptr when there is neither.
  static std::shared_ptr<ExtensionCatalogue> current();
  // Installs `catalogue`; nullptr goes back to the default.
  static void setCurrent(std::shared_ptr<ExtensionCatalogue> catalogue);
  // Registers the maker of the default (the layer that implements it does,
  // at program start).
  static void setDefaultMaker(std::function<std::shared_ptr<ExtensionCatalogue>()> maker);
};

}  // namespace palvero
