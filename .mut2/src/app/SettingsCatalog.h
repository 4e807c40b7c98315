// The settings a user may read and change from outside the window (the
// CLI's "settings" command): which store holds each key, how its text is
// read, and which settings body goes to the service after a change.
//
// Thread contract: stateless; the stores it writes are thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero {

class SettingsCatalog {
 public:
  enum class Store { kSettings, kSelection };
  enum class Kind { kBool, kInteger, kText, kTimeOfDay, kThreads, kTiming, kPercent };

  struct Entry {
    const char* key;         // the saveParameter key
    const char* storedKey;   // the preferences key it is kept under
    Store store;
    Kind kind;
    const char* serverType;  // "backup", "exclusions" or nullptr
    const char* help;
  };

  static const std::vector<Entry>& entries();
  static const Entry* find(const std::string& key);

  // The value `text` stands for, or nothing (with `error` set) when it does
  // not fit the key.
  static std::optional<Value> parse(const Entry& entry, const std::string& text, std::string& error);
  // Stores the value through the store's saveParameter; false when the
  // store refused it.
  static bool apply(const Entry& entry, const Value& value);

  // Every stored preference, with secrets replaced by "********".
  static Value snapshot();
  // One stored preference by its saveParameter key or stored key.
  static std::optional<Value> get(const std::string& key);
  static bool isSecret(const std::string& storedKey);
};

}  // namespace palvero
