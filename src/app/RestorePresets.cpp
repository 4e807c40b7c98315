#include "app/RestorePresets.h"

#include "base/Date.h"
#include "engine/PathRules.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

bool flag(const Value& presets, const char* key, bool fallback) {
  auto it = presets.find(key);
  if (it == presets.end() || it->is_null()) return fallback;
  return LocalSettings::booleanReading(*it);
}

std::optional<double> secondsOf(const Value& value) {
  if (value.is_number()) return value.get<double>();
  if (auto date = Date::fromValue(value)) return date->timeIntervalSince1970();
  if (value.is_string()) {
    if (auto date = Date::parse(value.get<std::string>(), Date::kSettingsPattern)) return date->timeIntervalSince1970();
  }
  return std::nullopt;
}

}  // namespace

void RestorePresets::store(const Value& presets, const Value& filesAndFolders) {
  auto& settings = LocalSettings::sharedManager();
  settings.setPresetsForRestore(presets.is_object() ? presets : Value::object());
  settings.setFilesAndFoldersForRestore(filesAndFolders.is_object() ? filesAndFolders : Value::object());
  settings.save();
}

std::optional<RestoreChoice> RestorePresets::take() {
  auto& settings = LocalSettings::sharedManager();
  Value presets = settings.presetsForRestore();
  if (!presets.is_object() || presets.empty()) return std::nullopt;
  Value items = settings.filesAndFoldersForRestore();
  settings.setPresetsForRestore(Value::object());
  settings.setFilesAndFoldersForRestore(Value::object());
  settings.save();
  return choiceFrom(presets, items);
}

std::optional<RestoreChoice> RestorePresets::choiceFrom(const Value& presets, const Value& filesAndFolders) {
  if (!presets.is_object()) return std::nullopt;
  RestoreChoice choice;
  choice.restoreAllData = flag(presets, "restoreAllData", false);
  choice.restoreLatest = flag(presets, "restoreLatest", true);
  choice.restoreToOriginalPath = flag(presets, "restoreToOriginalPath", true);
  if (auto it = presets.find("restoreDestinationPath"); it != presets.end() && it->is_string()) {
    choice.restoreDestinationPath = PathRules::withoutTrailingSlashes(it->get<std::string>());
  }
  if (auto it = presets.find("dateValue"); it != presets.end()) {
    if (auto seconds = secondsOf(*it)) choice.restoreDate = *seconds;
  }
  // A dated restore without a date, or a restore elsewhere without a folder,
  // cannot be done as chosen: the safer reading is taken.
  if (!choice.restoreLatest && choice.restoreDate <= 0) choice.restoreLatest = true;
  if (!choice.restoreToOriginalPath && choice.restoreDestinationPath.empty()) return std::nullopt;
  if (choice.restoreAllData) return choice;

  Value items = filesAndFolders.is_object() ? filesAndFolders : Value::object();
  if (items.empty()) return std::nullopt;
  // A stored single file carries no revisions: as of a date it goes through
  // the item list, which lists them, or it would come back at its latest.
  if (flag(presets, "restoreSingleFile", false) && items.size() == 1 && choice.restoreLatest) {
    auto only = items.begin();
    const Value& description = only.value();
    BackupedFile file;
    file.name = only.key();
    if (description.is_array() && description.size() > 1 && description[1].is_string()) {
      file.deviceId = description[1].get<std::string>();
    }
    choice.restoreSingleFile = true;
    choice.singleFileForRestore = file;
    return choice;
  }
  choice.filesAndFoldersForRestore = items;
  if (auto it = presets.find("filesAndFoldersRemovedFromRestore"); it != presets.end() && it->is_object()) {
    choice.filesAndFoldersRemovedFromRestore = *it;
  }
  return choice;
}

}  // namespace palvero
