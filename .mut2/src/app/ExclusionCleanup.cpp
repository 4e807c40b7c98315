#include "app/ExclusionCleanup.h"

#include <algorithm>
#include <cctype>

#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"

namespace palvero {
namespace {

// The selection maps that leave files out, in the order of the tabs.
#define PALVERO_EXCLUDING_SELECTIONS(X)             \
  X(pictureValues, "pictureValues")                 \
  X(videoValues, "videoValues")                     \
  X(musicValues, "musicValues")                     \
  X(emailValues, "emailValues")                     \
  X(diskImagesValues, "diskImagesValues")           \
  X(compressedFilesValues, "compressedFilesValues") \
  X(backupValues, "backupValues")                   \
  X(temporarilyValues, "temporarilyValues")         \
  X(binaryValues, "binaryValues")

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

ExclusionCleanup::FileTypes ExclusionCleanup::currentFileTypes() {
  auto selection = CommonExtensions::sharedExtensionsManager().selection();
  FileTypes types;
  auto add = [&types](const char* key, const Value& values) {
    auto& set = types[key];
    if (!values.is_object()) return;
    for (const auto& [extension, chosen] : values.items()) {
      if (chosen.is_boolean() ? chosen.get<bool>() : (chosen.is_number() && chosen.get<double>() != 0)) {
        set.insert(upper(extension));
      }
    }
  };
#define PALVERO_ADD(name, key) add(key, selection->name);
  PALVERO_EXCLUDING_SELECTIONS(PALVERO_ADD)
#undef PALVERO_ADD
  return types;
}

std::string ExclusionCleanup::newlyExcluded(const FileTypes& before, const FileTypes& after) {
  std::string list;
  std::set<std::string> listed;
  auto visit = [&](const char* key) {
    auto now = after.find(key);
    if (now == after.end()) return;
    auto was = before.find(key);
    for (const std::string& extension : now->second) {
      if (was != before.end() && was->second.count(extension)) continue;
      // One extension may sit in two categories; it is deleted once.
      if (!listed.insert(extension).second) continue;
      list += extension + ";";
    }
  };
#define PALVERO_VISIT(name, key) visit(key);
  PALVERO_EXCLUDING_SELECTIONS(PALVERO_VISIT)
#undef PALVERO_VISIT
  return list;
}

std::string ExclusionCleanup::deletionList(const std::string& listText) {
  std::string items;
  size_t start = 0;
  while (start < listText.size()) {
    size_t end = listText.find(';', start);
    if (end == std::string::npos) end = listText.size();
    std::string extension = listText.substr(start, end - start);
    start = end + 1;
    if (extension.empty() || extension == ".") continue;
    // A quote or a backslash would break out of the JSON string.
    if (extension.find_first_of("\"\\") != std::string::npos) continue;
    if (!items.empty()) items += ",";
    items += "\"" + lower(extension) + "\"";
  }
  return items.empty() ? std::string() : "[" + items + "]";
}

ExclusionCleanup::ExclusionCleanup(std::shared_ptr<CommunicationServer> server) : server_(std::move(server)) {}

bool ExclusionCleanup::deleteFilesWithExtensions(const std::string& listText) {
  std::string list = deletionList(listText);
  if (list.empty() || !server_ || !server_->syncAuthorise()) return false;
  auto encoded = Functions::UrlEncode(list);
  if (!encoded) return false;
  return server_->syncDeleteVerFile(std::nullopt, 0, *encoded, false);
}

bool ExclusionCleanup::deleteFilesAboveSize(int64_t bytes) {
  if (bytes <= 0 || !server_ || !server_->syncAuthorise()) return false;
  return server_->syncDeleteVerFile(std::nullopt, bytes, std::nullopt, false);
}

}  // namespace palvero
