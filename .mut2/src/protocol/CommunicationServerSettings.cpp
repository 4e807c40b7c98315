#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <set>
#include <stdexcept>

#include "base/JsonText.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/HardwareId.h"
#include "platform/UserFolders.h"
#include "protocol/CommunicationServer.h"
#include "protocol/ExtensionCatalogue.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

struct Category {
  const char* replyKey;
  const char* storeKey;
  bool hasSelection;
};

// In the order the reply is read.
constexpr std::array<Category, 10> kCategories = {{
    {"additional", "additional", false},
    {"backup", "backup", true},
    {"binary", "binary", true},
    {"compressedfiles", "compressedFiles", true},
    {"diskimages", "diskImages", true},
    {"email", "email", true},
    {"music", "music", true},
    {"picture", "picture", true},
    {"temporary", "temporarily", true},
    {"video", "video", true},
}};

std::vector<std::string> textsOf(const Value& array) {
  std::vector<std::string> out;
  if (!array.is_array()) return out;
  for (const Value& item : array) {
    if (item.is_string()) out.push_back(item.get<std::string>());
  }
  return out;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::optional<std::string> resolvePlaceholder(const std::string& placeholder) {
  if (placeholder == "<Documents>") return UserFolders::documentsDirectory();
  if (placeholder == "<Desktop>") return UserFolders::desktopDirectory();
  if (placeholder == "<userprofile>") return Env::homeDirectory();
  return std::nullopt;
}

std::string textOf(const Value& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

Value booleanValue(const Value& value) { return Value(LocalSettings::booleanReading(value)); }

}  // namespace

bool CommunicationServer::saveSettings(const std::string& type) {
  try {
    auto catalogue = ExtensionCatalogue::current();
    if (catalogue) catalogue->checkFoldersForInterceptions();
    auto& settings = LocalSettings::sharedManager();
    std::string body;
    if (type == "backup") {
      body = settings.backupToJSON();
    } else if (type == "clientfull") {
      body = settings.toJSON(true);
    } else if (type == "client") {
      body = settings.clientToJSON();
    } else if (type == "exclusions") {
      if (!catalogue) throw std::runtime_error("no extension catalogue is installed");
      body = catalogue->exclusionsToJSON();
    } else {
      throw std::invalid_argument("unknown settings type " + type);
    }
    HttpResponse response = sendForm(getStringForRequest(RequestKind::kSaveSettings, type, formValue(body)));
    if (response.completed() && response.status == 200 && response.body == "ok") {
      updateCookies(response);
      return true;
    }
    logFailure(stringWithFormat("saveSettings FAIL. Type: %s. Response: %s with status code: %ld", type.c_str(),
                                bodyForLog(response).c_str(), response.status));
    return false;
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method SaveSettings: ") + e.what());
    return false;
  }
}

void CommunicationServer::loadSettings(const std::string& type) {
  try {
    std::string form = getStringForRequest(RequestKind::kLoadSettings, type);
    sendAsyncRenewing(
        "loadSettings", [form](CommunicationServer& self) { return self.sendForm(form); },
        [type](CommunicationServer& self, const HttpResponse& response) { self.didLoadSettings(type, response); },
        nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method LoadSettings: ") + e.what());
  }
}

void CommunicationServer::didLoadSettings(const std::string& type, const HttpResponse& response) {
  auto failLine = [&] {
    logFailure(stringWithFormat("loadSettings FAIL. Type: %s. Response: %s with status code: %ld", type.c_str(),
                                bodyForLog(response).c_str(), response.status));
  };
  try {
    if (!response.completed() || response.status != 200) {
      postNotification("LoadSettingsFail");
      failLine();
      return;
    }
    updateCookies(response);
    Value values = parseJson(response.body);
    if (!values.is_object()) {
      postNotification("LoadSettingsFail");
      failLine();
      return;
    }
    if (values.contains("BackupTimingTime")) {
      // A time of day: today at that time, local time.
      const Value& time = values["BackupTimingTime"];
      std::optional<Date> today;
      if (time.is_string()) {
        today = Date::parse(Date::now().format("yyyyMMdd") + " " + time.get<std::string>(), Date::kSettingsPattern);
      }
      if (today) {
        values["BackupTimingTime"] = today->toValue();
      } else {
        // Left out rather than stored: the other values still apply.
        logFailure(stringWithFormat("loadSettings FAIL. Type: %s. BackupTimingTime %s is not a time of day",
                                    type.c_str(), textOf(time).c_str()));
        values.erase("BackupTimingTime");
      }
    }
    auto catalogue = ExtensionCatalogue::current();
    auto storeInCatalogue = [&](const char* replyKey, const char* storeKey) {
      if (!values.contains(replyKey)) return;
      if (!catalogue) {
        logFailure(stringWithFormat("loadSettings FAIL. Type: %s. %s not stored: no extension catalogue", type.c_str(),
                                    replyKey));
        return;
      }
      catalogue->saveParameter(storeKey, booleanValue(values[replyKey]));
    };
    storeInCatalogue("NeedFullBackup", "NeedFullBackup");
    if (values.contains("OrderLogs")) sendLogsWithMessage("Logs requested from service", true);
    if (values.contains("TARQDetailsRequired") && LocalSettings::booleanReading(values["TARQDetailsRequired"])) {
      sendSerialNumbers(HardwareId::serialNumber().value_or(""), HardwareId::computerUUID().value_or(""));
    }
    storeInCatalogue("BackupHiddenFiles", "backupHiddenFiles");
    if (LocalSettings::sharedManager().saveJSONValues(values)) {
      postNotification("LoadSettingsOK");
    } else {
      postNotification("LoadSettingsFail");
      failLine();
    }
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method LoadSettings: ") + e.what());
    postNotification("LoadSettingsFail");
  }
}

void CommunicationServer::loadExclusions() {
  try {
    std::string form = getStringForRequest(RequestKind::kLoadSettings, "exclusions");
    sendAsyncRenewing(
        "loadExclusions", [form](CommunicationServer& self) { return self.sendForm(form); },
        [](CommunicationServer& self, const HttpResponse& response) { self.didLoadExclusions(response); }, nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in LoadExclusions: ") + e.what());
    postNotification("LoadExclusionsFail");
  }
}

void CommunicationServer::didLoadExclusions(const HttpResponse& response) {
  try {
    if (!response.completed() || response.status != 200) {
      logFailure(stringWithFormat("loadExclusions FAIL. Response: %s with status code: %ld",
                                  bodyForLog(response).c_str(), response.status));
      return;
    }
    updateCookies(response);
    Value reply = parseJson(response.body);
    Value exclusions = reply.is_object() && reply.contains("Exclusions") ? reply["Exclusions"] : Value();
    if (!exclusions.is_object() || exclusions.empty()) {
      postNotification("LoadExclusionsFail");
      return;
    }
    auto catalogue = ExtensionCatalogue::current();
    if (!catalogue) throw std::runtime_error("no extension catalogue is installed");
    for (const char* key : {"includefolders", "excludefolders"}) {
      if (exclusions.contains(key)) catalogue->saveParameter(key, Value(foldersForList(key, exclusions[key])));
    }

    Value items = exclusions.value("items", Value());
    if (items.is_object()) {
      if (items.contains("size")) catalogue->saveParameter("maxSize", items["size"]);
      if (items.contains("emptyextension")) {
        catalogue->saveParameter("emptyExtension", booleanValue(items["emptyextension"]));
      }
      if (items.contains("emptyfiles")) catalogue->saveParameter("emptyfiles", booleanValue(items["emptyfiles"]));
      if (items.contains("externalhd")) catalogue->saveParameter("externalhd", booleanValue(items["externalhd"]));
      if (items.contains("externalhdid")) catalogue->saveParameter("externalhdid", Value(false));
      Value extensions = items.value("extensions", Value());
      if (extensions.is_object()) {
        for (const Category& category : kCategories) {
          if (!extensions.contains(category.replyKey)) continue;
          std::vector<std::string> list = textsOf(extensions[category.replyKey]);
          if (list.empty()) {
            catalogue->saveParameter(category.storeKey, Value());
            // An emptied category must not keep its old selection, or the
            // next save would send the old extensions back.
            if (category.hasSelection) catalogue->setSelectionValues(category.storeKey, Value::object());
            continue;
          }
          std::string text;
          for (const auto& extension : list) text += extension + ";";
          catalogue->saveParameter(category.storeKey, Value(text));
          if (category.hasSelection) catalogue->setSelectionValues(category.storeKey, setValuesForExtention(list));
        }
      }
    }
    catalogue->saveExtensions();
    postNotification("LoadExclusionsOK");
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in LoadExclusions: ") + e.what());
    postNotification("LoadExclusionsFail");
  }
}

std::vector<std::string> CommunicationServer::foldersForList(const std::string& key, const Value& entries) const {
  std::vector<std::string> given = textsOf(entries);
  std::vector<std::string> list = given;
  for (auto& folder : checkAdminFolders(given, key)) list.push_back(std::move(folder));
  std::set<std::string> seen;
  list.erase(std::remove_if(list.begin(), list.end(), [&seen](const std::string& p) { return !seen.insert(p).second; }),
             list.end());
  removeNonOSXExtensions(list);
  return list;
}

std::vector<std::string> CommunicationServer::checkAdminFolders(const std::vector<std::string>& entries,
                                                                const std::string& forList) const {
  std::vector<std::string> result;
  try {
    auto catalogue = ExtensionCatalogue::current();
    if (!catalogue) return result;
    std::vector<std::string> excluded = catalogue->foldersToBeExcludedFromBackup();
    std::vector<std::string> included = catalogue->foldersToBeIncludedToBackupSeparately();
    if (forList == "includefolders") excluded.clear();
    if (forList == "excludefolders") included.clear();
    for (const auto& placeholder : catalogue->adminFolders()) {
      if (!contains(entries, placeholder)) continue;
      auto folder = resolvePlaceholder(placeholder);
      if (!folder || contains(excluded, *folder) || contains(included, *folder) || contains(result, *folder)) continue;
      result.push_back(*folder);
    }
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method checkAdminFolders: ") + e.what());
  }
  return result;
}

void CommunicationServer::removeNonOSXExtensions(std::vector<std::string>& paths) {
  paths.erase(std::remove_if(paths.begin(), paths.end(),
                             [](const std::string& path) {
                               struct stat st {};
                               return path.empty() || path.front() != '/' || ::stat(path.c_str(), &st) != 0;
                             }),
              paths.end());
}

Value CommunicationServer::setValuesForExtention(const std::vector<std::string>& extensions) {
  Value selection = Value::object();
  for (const auto& extension : extensions) {
    std::string upper = extension;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
    selection[upper] = true;
  }
  return selection;
}

}  // namespace palvero
