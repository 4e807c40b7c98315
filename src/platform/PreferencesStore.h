// The per-user preferences domain: a flat key/value store of texts, integers,
// booleans, dictionaries and arrays, kept in one JSON file
// (<config folder>/preferences.json, mode 0600).
//
// Values live in memory; synchronize() writes the file whole to a temporary
// file, flushes it and renames it over the old one, so a crash never leaves a
// torn or empty file. Writers in several processes serialise on a lock file,
// and each merges only the keys it changed into what is on disk, so neither
// loses the other's keys.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "base/Value.h"

namespace palvero {

class PreferencesStore {
 public:
  // The application's domain, loaded on first use.
  static PreferencesStore& sharedStore();
  // Forgets the shared instance so that the next call loads afresh (tests).
  static void resetForTesting();

  explicit PreferencesStore(std::string path);

  // The stored value, or nothing when the key is absent.
  std::optional<Value> objectForKey(const std::string& key) const;
  // Text values only; numbers are not converted.
  std::optional<std::string> stringForKey(const std::string& key) const;
  // 0 when absent; booleans read as 0/1, text as a decimal integer.
  int64_t integerForKey(const std::string& key) const;
  // false when absent; numbers are true when non-zero, text by its first
  // letter ("YES", "true", "1").
  bool boolForKey(const std::string& key) const;
  // An empty object / array when absent or of another type.
  Value dictionaryForKey(const std::string& key) const;
  Value arrayForKey(const std::string& key) const;

  void setObject(const std::string& key, Value value);
  void removeObjectForKey(const std::string& key);

  // Writes the changed keys to disk; false when the file cannot be written
  // (the file on disk is then unchanged, the changes are kept for the next
  // call and `*error`, when given, says why).
  bool synchronize(std::string* error = nullptr);
  // Removes every key and the file.
  bool removePersistentDomain();

  const std::string& path() const { return path_; }

 private:
  bool loadFromDisk(Value& out) const;
  bool fileIsMissing() const;

  const std::string path_;
  mutable std::mutex mutex_;
  Value values_;                  // guarded by mutex_
  std::set<std::string> dirty_;   // guarded by mutex_; keys set or removed since the last write
};

}  // namespace palvero
