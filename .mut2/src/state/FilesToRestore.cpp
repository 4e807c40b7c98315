#include "state/FilesToRestore.h"

#include <unordered_set>

#include "base/NumberCast.h"
#include "base/SharedInstance.h"

namespace palvero {
namespace {

SharedInstance<FilesToRestore>& holder() {
  static auto* instance = new SharedInstance<FilesToRestore>();
  return *instance;
}

std::string textOf(const Value& record, const char* key, const char* other) {
  for (const char* name : {key, other}) {
    if (name && record.contains(name) && record[name].is_string()) return record[name].get<std::string>();
  }
  return {};
}

int64_t numberOf(const Value& record, const char* key, int64_t fallback) {
  if (!record.contains(key)) return fallback;
  const Value& value = record[key];
  if (value.is_number()) return saturatingInteger<int64_t>(value);
  if (value.is_string()) {
    try {
      return std::stoll(value.get<std::string>());
    } catch (...) {
      return fallback;
    }
  }
  return fallback;
}

}  // namespace

Value RestoreEntry::toValue() const {
  return Value{{"path", path}, {"revision", revision}, {"deviceID", deviceID}, {"size", size}};
}

RestoreEntry RestoreEntry::fromValue(const Value& record) {
  RestoreEntry entry;
  if (!record.is_object()) return entry;
  entry.path = textOf(record, "path", "name");
  entry.revision = numberOf(record, "revision", -1);
  entry.deviceID = textOf(record, "deviceID", "deviceId");
  entry.size = numberOf(record, "size", 0);
  return entry;
}

FilesToRestore& FilesToRestore::sharedFilesToRestore() {
  return holder().get([] { return std::make_unique<FilesToRestore>(); });
}

void FilesToRestore::resetForTesting() { holder().reset(); }

std::vector<RestoreEntry> FilesToRestore::files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

void FilesToRestore::setFiles(std::vector<RestoreEntry> files) {
  std::lock_guard lock(mutex_);
  files_ = std::move(files);
}

std::optional<RestoreEntry> FilesToRestore::fileAtIndex(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= files_.size()) return std::nullopt;
  return files_[index];
}

size_t FilesToRestore::count() const {
  std::lock_guard lock(mutex_);
  return files_.size();
}

std::vector<RestoreEntry> FilesToRestore::restoredFiles() const {
  std::lock_guard lock(mutex_);
  return restoredFiles_;
}

void FilesToRestore::addRestoredFile(const RestoreEntry& entry) {
  std::lock_guard lock(mutex_);
  restoredFiles_.push_back(entry);
}

std::vector<RestoreEntry> FilesToRestore::takeRestoredFiles() {
  std::lock_guard lock(mutex_);
  std::unordered_set<std::string> done;
  for (const auto& entry : restoredFiles_) done.insert(entry.path);
  std::erase_if(files_, [&](const RestoreEntry& entry) { return done.count(entry.path) > 0; });
  std::vector<RestoreEntry> taken;
  taken.swap(restoredFiles_);
  return taken;
}

void FilesToRestore::clear() {
  std::lock_guard lock(mutex_);
  files_.clear();
  restoredFiles_.clear();
}

}  // namespace palvero
