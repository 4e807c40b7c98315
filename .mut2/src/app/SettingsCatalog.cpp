#include "app/SettingsCatalog.h"

#include <cerrno>
#include <cstdlib>

#include "base/Date.h"
#include "platform/PreferencesStore.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

using Kind = SettingsCatalog::Kind;
using Store = SettingsCatalog::Store;

std::optional<int64_t> integerOf(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

const std::vector<SettingsCatalog::Entry>& SettingsCatalog::entries() {
  static const std::vector<Entry> kEntries = {
      {"BackupTimingType", "BackupTimingType", Store::kSettings, Kind::kTiming, "backup",
       "0 manual, 1 continuous, 3 daily"},
      {"BackupTimingTime", "BackupTimingTime", Store::kSettings, Kind::kTimeOfDay, "backup",
       "daily backup time, HH:MM"},
      {"BackupOnSetTime", "BackupOnSetTime", Store::kSettings, Kind::kBool, "backup",
       "daily backups only at the set time"},
      {"numberOfThreads", "numberOfThreads", Store::kSettings, Kind::kThreads, nullptr,
       "backup workers: 1, 2, 4, 5 or 10"},
      {"showAlerts", "showAlerts", Store::kSettings, Kind::kBool, nullptr, "show alerts"},
      {LocalSettings::kBandwidthLimitKey, LocalSettings::kBandwidthLimitKey, Store::kSettings, Kind::kPercent, nullptr,
       "upload limit, percent of the measured upload peak, 1-100 (100: no limit)"},
      {"proxyType", "proxyType", Store::kSettings, Kind::kInteger, nullptr, "0 none, 1 system, 2 HTTP, 3 SOCKS"},
      {"proxyServer", "proxyServer", Store::kSettings, Kind::kText, nullptr, "proxy host"},
      {"proxyPort", "proxyPort", Store::kSettings, Kind::kText, nullptr, "proxy port"},
      {"proxyUsername", "proxyUsername", Store::kSettings, Kind::kText, nullptr, "proxy user"},
      {"proxyPassword", "proxyPassword", Store::kSettings, Kind::kText, nullptr, "proxy password"},
      {"LogDetailLevel", "LogDetailLevel", Store::kSettings, Kind::kInteger, nullptr, "log detail level 1-3"},
      {"maxSize", "maxSize", Store::kSelection, Kind::kInteger, "exclusions",
       "largest file backed up, bytes (-1 no limit)"},
      {"externalhd", "externalhd", Store::kSelection, Kind::kBool, "exclusions", "back up external USB drives"},
      {"emptyfiles", "emptyfiles", Store::kSelection, Kind::kBool, "exclusions", "back up empty files"},
      {"emptyExtension", "emptyExtension", Store::kSelection, Kind::kBool, "exclusions",
       "back up files without an extension"},
      {"backupHiddenFiles", "backupHiddenFiles", Store::kSelection, Kind::kBool, "exclusions",
       "back up hidden files"},
      {"additional", "additional", Store::kSelection, Kind::kText, "exclusions",
       "more excluded extensions, \".ext1;.ext2;\""},
  };
  return kEntries;
}

const SettingsCatalog::Entry* SettingsCatalog::find(const std::string& key) {
  for (const auto& entry : entries()) {
    if (key == entry.key || key == entry.storedKey) return &entry;
  }
  return nullptr;
}

std::optional<Value> SettingsCatalog::parse(const Entry& entry, const std::string& text, std::string& error) {
  switch (entry.kind) {
    case Kind::kBool:
      if (text == "true" || text == "1" || text == "yes" || text == "on") return Value(true);
      if (text == "false" || text == "0" || text == "no" || text == "off") return Value(false);
      error = "expected true or false";
      return std::nullopt;
    case Kind::kInteger:
      if (auto number = integerOf(text)) return Value(*number);
      error = "expected a whole number";
      return std::nullopt;
    case Kind::kThreads: {
      auto number = integerOf(text);
      if (number && (*number == 1 || *number == 2 || *number == 4 || *number == 5 || *number == 10)) {
        return Value(*number);
      }
      error = "expected 1, 2, 4, 5 or 10";
      return std::nullopt;
    }
    case Kind::kPercent: {
      auto number = integerOf(text);
      if (number && *number >= 1 && *number <= LocalSettings::kUnlimitedBandwidth) return Value(*number);
      error = "expected a percentage from 1 to 100 (100: no limit)";
      return std::nullopt;
    }
    case Kind::kTiming: {
      auto number = integerOf(text);
      if (number && (*number == 0 || *number == 1 || *number == 3)) return Value(*number);
      error = "expected 0 (manual), 1 (continuous) or 3 (daily)";
      return std::nullopt;
    }
    case Kind::kTimeOfDay: {
      auto time = Date::parse(text, "HH:mm");
      if (!time) time = Date::parse(text, "HH:mm:ss");
      if (!time) {
        error = "expected a time of day, HH:MM";
        return std::nullopt;
      }
      time_t seconds = static_cast<time_t>(Date::now().timeIntervalSince1970());
      std::tm today{};
      localtime_r(&seconds, &today);
      time_t picked = static_cast<time_t>(time->timeIntervalSince1970());
      std::tm clock{};
      localtime_r(&picked, &clock);
      return Date::fromLocalComponents(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, clock.tm_hour,
                                       clock.tm_min, clock.tm_sec)
          .toValue();
    }
    case Kind::kText:
      return Value(text);
  }
  return std::nullopt;
}

bool SettingsCatalog::apply(const Entry& entry, const Value& value) {
  if (entry.store == Store::kSettings) return LocalSettings::sharedManager().saveParameter(entry.key, value);
  return CommonExtensions::sharedExtensionsManager().saveParameter(entry.key, value);
}

bool SettingsCatalog::isSecret(const std::string& storedKey) {
  return storedKey == "Password" || storedKey == "UserCipher" || storedKey == "AccountCipher" ||
         storedKey == "proxyPassword";
}

Value SettingsCatalog::snapshot() {
  Value all = Value::object();
  for (const auto& entry : entries()) {
    if (auto value = PreferencesStore::sharedStore().objectForKey(entry.storedKey)) {
      all[entry.storedKey] = isSecret(entry.storedKey) ? Value("********") : *value;
    }
  }
  for (const char* key : {"ClientId", "Username", "Email", "LicenseSpace", "initialized", "dateBackupStarted",
                          "dateLastScan", "localAppVersion"}) {
    if (auto value = PreferencesStore::sharedStore().objectForKey(key)) all[key] = *value;
  }
  return all;
}

std::optional<Value> SettingsCatalog::get(const std::string& key) {
  std::string storedKey = key;
  if (const Entry* entry = find(key)) storedKey = entry->storedKey;
  auto value = PreferencesStore::sharedStore().objectForKey(storedKey);
  if (value && isSecret(storedKey)) return Value("********");
  return value;
}

}  // namespace palvero
