// The texts shown to the user, by key ("appCloseTitle", "filesToBackup",
// ...). The English table is compiled in from resources/en.json; a table of
// the same form can be loaded instead (another language, tests).
//
// Thread contract: every member is safe from any thread; the table is
// replaced whole.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "base/Value.h"

namespace palvero {

class Localization {
 public:
  static Localization& shared();

  Localization();
  // The text for `key`; the key itself when the table lacks it.
  std::string text(const std::string& key) const;
  // Replaces the table with the JSON object `json`; false (table kept) when
  // it is not an object of texts.
  bool loadJSON(const std::string& json);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Value> table_;  // guarded by mutex_
};

// Shorthand for Localization::shared().text(key).
std::string L(const std::string& key);

}  // namespace palvero
