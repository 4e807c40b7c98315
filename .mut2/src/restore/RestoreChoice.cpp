#include "restore/RestoreChoice.h"

namespace palvero {
namespace {

Value versionValue(const BackupFileVersion& version) {
  Value out = {{"number", version.number}, {"size", version.size}};
  if (version.date) out["date"] = version.date->toValue();
  return out;
}

BackupFileVersion versionFrom(const Value& value) {
  BackupFileVersion version;
  version.number = value.value("number", int64_t{0});
  version.size = value.value("size", int64_t{0});
  if (value.contains("date")) version.date = Date::fromValue(value["date"]);
  return version;
}

}  // namespace

Value RestoreChoice::toValue() const {
  Value out = {{"restoreAllData", restoreAllData},
               {"restoreSingleFile", restoreSingleFile},
               {"restoreLatest", restoreLatest},
               {"restoreToOriginalPath", restoreToOriginalPath},
               {"restoreDestinationPath", restoreDestinationPath},
               {"filesAndFoldersForRestore", filesAndFoldersForRestore},
               {"filesAndFoldersRemovedFromRestore", filesAndFoldersRemovedFromRestore},
               {"restoreDate", restoreDate},
               {"showDeletedFiles", showDeletedFiles},
               {"keepExisting", keepExisting}};
  if (singleFileForRestore) {
    Value versions = Value::array();
    for (const auto& version : singleFileForRestore->versions) versions.push_back(versionValue(version));
    out["singleFileForRestore"] = {{"name", singleFileForRestore->name},
                                   {"size", singleFileForRestore->size},
                                   {"deviceId", singleFileForRestore->deviceId},
                                   {"versions", versions}};
  }
  if (backupFileVersion) out["backupFileVersion"] = versionValue(*backupFileVersion);
  return out;
}

std::optional<RestoreChoice> RestoreChoice::fromValue(const Value& value) {
  try {
    if (!value.is_object()) return std::nullopt;
    RestoreChoice c;
    c.restoreAllData = value.at("restoreAllData").get<bool>();
    c.restoreSingleFile = value.at("restoreSingleFile").get<bool>();
    c.restoreLatest = value.at("restoreLatest").get<bool>();
    c.restoreToOriginalPath = value.at("restoreToOriginalPath").get<bool>();
    c.restoreDestinationPath = value.at("restoreDestinationPath").get<std::string>();
    c.filesAndFoldersForRestore = value.at("filesAndFoldersForRestore");
    c.filesAndFoldersRemovedFromRestore = value.at("filesAndFoldersRemovedFromRestore");
    c.restoreDate = value.at("restoreDate").get<double>();
    c.showDeletedFiles = value.at("showDeletedFiles").get<bool>();
    c.keepExisting = value.at("keepExisting").get<bool>();
    if (value.contains("singleFileForRestore")) {
      const Value& file = value["singleFileForRestore"];
      BackupedFile single;
      single.name = file.at("name").get<std::string>();
      single.size = file.at("size").get<int64_t>();
      single.deviceId = file.at("deviceId").get<std::string>();
      for (const Value& version : file.at("versions")) single.versions.push_back(versionFrom(version));
      c.singleFileForRestore = single;
    }
    if (value.contains("backupFileVersion")) c.backupFileVersion = versionFrom(value["backupFileVersion"]);
    return c;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace palvero
