#include "platform/PreferencesStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "base/NumberCast.h"
#include "platform/AtomicFile.h"
#include "platform/Env.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"

namespace palvero {
namespace {

std::mutex gSharedMutex;
std::unique_ptr<PreferencesStore>& sharedInstance() {  // guarded by gSharedMutex
  static auto* instance = new std::unique_ptr<PreferencesStore>();
  return *instance;
}

// Retired instances stay allocated: callers may still hold references.
std::vector<std::unique_ptr<PreferencesStore>>& retiredInstances() {  // guarded by gSharedMutex
  static auto* retired = new std::vector<std::unique_ptr<PreferencesStore>>();
  return *retired;
}

}  // namespace

PreferencesStore& PreferencesStore::sharedStore() {
  std::lock_guard lock(gSharedMutex);
  auto& instance = sharedInstance();
  if (!instance) instance = std::make_unique<PreferencesStore>(Env::configDirectory() + "/preferences.json");
  return *instance;
}

void PreferencesStore::resetForTesting() {
  std::lock_guard lock(gSharedMutex);
  if (sharedInstance()) retiredInstances().push_back(std::move(sharedInstance()));
}

PreferencesStore::PreferencesStore(std::string path) : path_(std::move(path)) {
  Value loaded;
  values_ = loadFromDisk(loaded) ? std::move(loaded) : Value::object();
}

bool PreferencesStore::loadFromDisk(Value& out) const {
  std::string text;
  if (!AtomicFile::read(path_, text)) return false;
  Value parsed = Value::parse(text, nullptr, false);
  if (!parsed.is_object()) return false;
  out = std::move(parsed);
  return true;
}

std::optional<Value> PreferencesStore::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> PreferencesStore::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

int64_t PreferencesStore::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value) return 0;
  if (value->is_number()) return saturatingInteger<int64_t>(*value);
  if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
  if (value->is_string()) return std::strtoll(value->get<std::string>().c_str(), nullptr, 10);
  return 0;
}

bool PreferencesStore::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value) return false;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0;
  if (value->is_string()) {
    const std::string text = value->get<std::string>();
    if (text.empty()) return false;
    char c = text[0];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return false;
}

Value PreferencesStore::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->is_object() ? *value : Value::object();
}

Value PreferencesStore::arrayForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->is_array() ? *value : Value::array();
}

void PreferencesStore::setObject(const std::string& key, Value value) {
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  dirty_.insert(key);
}

void PreferencesStore::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  dirty_.insert(key);
}

bool PreferencesStore::fileIsMissing() const {
  struct stat st {};
  return FileSystem::current().status(path_, st, true) != 0 && errno == ENOENT;
}

bool PreferencesStore::synchronize(std::string* error) {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  FileLock fileLock(path_ + ".lock", FileLock::Mode::kWait);
  if (!fileLock.locked()) {
    if (error) *error = "cannot lock " + path_ + ".lock: " + std::strerror(errno);
    return false;
  }

  // Another process may have written keys since we loaded: start from the
  // file and lay our own changes over it. A file that is there but cannot be
  // read or parsed must not turn into one holding only the changed keys:
  // then what this process holds is the base.
  Value merged;
  if (!loadFromDisk(merged)) merged = fileIsMissing() ? Value::object() : values_;
  for (const auto& key : dirty_) {
    auto it = values_.find(key);
    if (it == values_.end()) {
      merged.erase(key);
    } else {
      merged[key] = *it;
    }
  }
  if (!AtomicFile::write(path_, merged.dump(2, ' ', false, Value::error_handler_t::replace), 0600, error)) {
    return false;
  }
  values_ = std::move(merged);
  dirty_.clear();
  return true;
}

bool PreferencesStore::removePersistentDomain() {
  std::lock_guard lock(mutex_);
  FileLock fileLock(path_ + ".lock", FileLock::Mode::kWait);
  values_ = Value::object();
  dirty_.clear();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  return !ec;
}

}  // namespace palvero
