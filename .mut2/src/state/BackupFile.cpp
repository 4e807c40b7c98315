#include "state/BackupFile.h"

namespace palvero {
namespace {

template <class T>
T fieldOr(const Value& object, const char* key, T fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if constexpr (std::is_same_v<T, std::string>) {
    return it->is_string() ? it->template get<std::string>() : fallback;
  } else {
    return it->is_number() ? it->template get<T>() : fallback;
  }
}

}  // namespace

Value BackupFile::toValue() const {
  return Value{{"path", path}, {"status", status}, {"date", date}, {"size", size}, {"error", error}};
}

std::optional<BackupFile> BackupFile::fromValue(const Value& value) {
  if (!value.is_object()) return std::nullopt;
  auto path = value.find("path");
  if (path == value.end() || !path->is_string()) return std::nullopt;
  BackupFile file;
  file.path = path->get<std::string>();
  file.status = fieldOr<int32_t>(value, "status", kQueueWaiting);
  file.date = fieldOr<std::string>(value, "date", "");
  file.size = fieldOr<int64_t>(value, "size", 0);
  file.error = fieldOr<std::string>(value, "error", "");
  return file;
}

}  // namespace palvero
