#include "selection/CommonExtensions.h"

#include <cstdlib>
#include <exception>
#include <utility>

#include "base/NumberCast.h"
#include "base/SharedInstance.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/PreferencesStore.h"
#include "protocol/ExtensionCatalogue.h"
#include "selection/CommonExtensionsCatalogue.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

SharedInstance<CommonExtensions>& holder() {
  static auto* instance = new SharedInstance<CommonExtensions>();
  return *instance;
}

std::optional<std::string> textValue(const Value& value) {
  if (value.is_null()) return std::nullopt;
  if (value.is_string()) return value.get<std::string>();
  return value.dump(-1, ' ', false, Value::error_handler_t::replace);
}

std::vector<std::string> pathList(const Value& value) {
  std::vector<std::string> paths;
  if (!value.is_array()) return paths;
  for (const auto& item : value) {
    if (item.is_string()) paths.push_back(item.get<std::string>());
  }
  return paths;
}

double doubleValue(const Value& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
  if (value.is_string()) return std::strtod(value.get<std::string>().c_str(), nullptr);
  return 0;
}

std::string quotedList(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += ",";
    out += "\"" + jsonEscaped(item) + "\"";
  }
  return out;
}

const char* literal(bool value) { return value ? "true" : "false"; }

// Every program that has the catalogue offers it to the request layer, so
// that no front end can leave the settings sync without it.
[[maybe_unused]] const bool kOfferedToRequests = [] {
  ExtensionCatalogue::setDefaultMaker([] { return std::make_shared<CommonExtensionsCatalogue>(); });
  return true;
}();

}  // namespace

const char* const CommonExtensions::kDefaultDiskImages = ".ISO;.CUE;.BIN;.DMG;";
const char* const CommonExtensions::kDefaultBinary = ".EXE;.MSI;.DLL;";
const char* const CommonExtensions::kDefaultAdditional =
    ".wab~;.vmc;.vhd;.vo1;.vo2;.vsv;.vud;.sparseimage;.sys;.cab;.dl_;.wim;.ost;.o;.qtch;.ithmb;.vmdk;.vmem;.vmsd;"
    ".vmsn;.vmx;.vmxf;.menudata;.appicon;.appinfo;.pva;.pvs;.pvi;.pvm;.fdd;.hds;.drk;.mem;.nvram;.hdd;";

int64_t CommonExtensions::Selection::maxSizeBytes() const {
  if (!maxSize) return 0;
  const Value& value = *maxSize;
  if (value.is_number()) return saturatingInteger<int64_t>(value);
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_string()) return std::strtoll(value.get<std::string>().c_str(), nullptr, 10);
  return 0;
}

void CommonExtensions::Selection::uniteLists() {
  refusedList = defaultExclusionsList;
  for (const ExtensionList* list :
       {&pictureList, &videoList, &emailList, &musicList, &diskImagesList, &compressedFilesList, &backupList,
        &temporarilyList, &binaryList, &additionalList}) {
    refusedList = refusedList.unitedWith(*list);
  }
}

CommonExtensions& CommonExtensions::sharedExtensionsManager() {
  return holder().get([] { return std::make_unique<CommonExtensions>(); });
}

void CommonExtensions::resetForTesting() { holder().reset(); }

CommonExtensions::CommonExtensions() { load(); }

std::shared_ptr<const CommonExtensions::Selection> CommonExtensions::selection() const {
  std::lock_guard lock(mutex_);
  return selection_;
}

template <class Change>
void CommonExtensions::update(Change&& change) {
  std::lock_guard lock(mutex_);
  auto next = std::make_shared<Selection>(*selection_);
  change(*next);
  next->uniteLists();
  selection_ = std::move(next);
}

#define PALVERO_DEFINE_LIST(name, Name, key)                                              \
  std::optional<std::string> CommonExtensions::name() const { return selection()->name; } \
  void CommonExtensions::set##Name(std::optional<std::string> value) {                    \
    update([&](Selection& s) {                                                            \
      s.name##List = ExtensionList(value.value_or(""));                                   \
      s.name = std::move(value);                                                          \
    });                                                                                   \
  }
#define PALVERO_DEFINE_PLAIN(Type, name, Name)                      \
  Type CommonExtensions::name() const { return selection()->name; } \
  void CommonExtensions::set##Name(Type value) {                    \
    update([&](Selection& s) { s.name = std::move(value); });       \
  }
#define PALVERO_DEFINE_SELECTION(name, Name, key) PALVERO_DEFINE_PLAIN(Value, name, Name)
#define PALVERO_DEFINE_SWITCH(name, Name, key, param, fallback) PALVERO_DEFINE_PLAIN(bool, name, Name)
#define PALVERO_DEFINE_FOLDERS(name, Name, key) PALVERO_DEFINE_PLAIN(std::vector<std::string>, name, Name)
PALVERO_EXTENSION_LISTS(PALVERO_DEFINE_LIST)
PALVERO_EXTENSION_SELECTIONS(PALVERO_DEFINE_SELECTION)
PALVERO_EXTENSION_SWITCHES(PALVERO_DEFINE_SWITCH)
PALVERO_FOLDER_LISTS(PALVERO_DEFINE_FOLDERS)
PALVERO_DEFINE_PLAIN(std::optional<Value>, maxSize, MaxSize)
PALVERO_DEFINE_PLAIN(std::optional<Value>, lastFullBackup, LastFullBackup)
PALVERO_DEFINE_PLAIN(std::optional<std::string>, restoreDestinationPath, RestoreDestinationPath)
PALVERO_DEFINE_PLAIN(double, restoreDateTimeInterval, RestoreDateTimeInterval)
PALVERO_DEFINE_PLAIN(std::string, defaultBackupFolder, DefaultBackupFolder)
#undef PALVERO_DEFINE_LIST
#undef PALVERO_DEFINE_PLAIN
#undef PALVERO_DEFINE_SELECTION
#undef PALVERO_DEFINE_SWITCH
#undef PALVERO_DEFINE_FOLDERS

void CommonExtensions::load() {
  auto& store = PreferencesStore::sharedStore();
  const std::string home = Env::homeDirectory();
  auto s = std::make_shared<Selection>();

  s->adminFolders = {"<Desktop>", "<Documents>", "<Userprofiles>", "<Appdata>", "<Public>", "<userprofile>"};

  auto listWithDefault = [&](const char* key, const char* fallback) -> std::optional<std::string> {
    auto stored = store.stringForKey(key);
    if (fallback && (!stored || stored->empty())) return std::string(fallback);
    return stored;
  };
  s->picture = listWithDefault("picture", nullptr);
  s->video = listWithDefault("video", nullptr);
  s->email = listWithDefault("email", nullptr);
  s->music = listWithDefault("music", nullptr);
  s->diskImages = listWithDefault("diskImages", kDefaultDiskImages);
  s->compressedFiles = listWithDefault("compressedFiles", nullptr);
  s->backup = listWithDefault("backup", nullptr);
  s->temporarily = listWithDefault("temporarily", nullptr);
  s->binary = listWithDefault("binary", kDefaultBinary);
  s->additional = listWithDefault("additional", kDefaultAdditional);
  s->complexFiles = listWithDefault("complexFiles", nullptr);
  s->defaultExclusions = listWithDefault("defaultExclusions", nullptr);
#define PALVERO_PARSE_LIST(name, Name, key) s->name##List = ExtensionList(s->name.value_or(""));
  PALVERO_EXTENSION_LISTS(PALVERO_PARSE_LIST)
#undef PALVERO_PARSE_LIST
  s->uniteLists();

#define PALVERO_LOAD_SELECTION(name, Name, key) \
  if (auto stored = store.objectForKey(key); stored && stored->is_object()) s->name = *stored;
  PALVERO_EXTENSION_SELECTIONS(PALVERO_LOAD_SELECTION)
#undef PALVERO_LOAD_SELECTION
  if (!store.objectForKey("diskImagesValues")) {
    s->diskImagesValues = {{".ISO", true}, {".BIN", true}, {".CUE", true}, {".DMG", true}};
  }
  if (!store.objectForKey("binaryValues")) s->binaryValues = {{".EXE", true}, {".MSI", true}, {".DLL", true}};

  s->defaultBackupFolder = home;
  s->additionalBackupFolders = {"/Users/Shared"};

#define PALVERO_LOAD_SWITCH(name, Name, key, param, fallback) \
  s->name = store.objectForKey(key) ? store.boolForKey(key) : (fallback);
  PALVERO_EXTENSION_SWITCHES(PALVERO_LOAD_SWITCH)
#undef PALVERO_LOAD_SWITCH
  s->maxSize = store.objectForKey("maxSize");
  s->lastFullBackup = store.objectForKey("lastFullBackup");

  auto foldersWithDefault = [&](const char* key, std::vector<std::string> fallback) {
    auto stored = pathList(store.arrayForKey(key));
    return stored.empty() ? fallback : stored;
  };
  s->foldersToBeExcludedFromBackup = foldersWithDefault("includefolders", {home + "/Applications", home + "/.Trash"});
  s->foldersToBeIncludedToBackupSeparately = foldersWithDefault("excludefolders", {home + "/Library"});
  s->filesToBeExcludedFromBackup = foldersWithDefault("includefiles", {});
  s->forbiddenFolders =
      foldersWithDefault("forbiddenFolders", {home + "/Applications", home + "/Library", home + "/.Trash"});
  s->forbiddenFoldersExceptions = {home + "/Library/Application Support",
                                   home + "/Library/Calendars",
                                   home + "/Library/FontCollections",
                                   home + "/Library/Fonts",
                                   home + "/Library/Mail",
                                   home + "/Library/Messages",
                                   home + "/Library/Safari"};

  s->restoreDestinationPath = store.stringForKey("restoreDestinationPath");
  if (auto interval = store.objectForKey("restoreDateTimeInterval")) s->restoreDateTimeInterval = doubleValue(*interval);

  std::lock_guard lock(mutex_);
  selection_ = std::move(s);
}

bool CommonExtensions::saveExtensions() {
  try {
    auto s = selection();
    auto& store = PreferencesStore::sharedStore();
    auto setOrRemove = [&](const char* key, const auto& value) {
      if (value) {
        store.setObject(key, Value(*value));
      } else {
        store.removeObjectForKey(key);
      }
    };
#define PALVERO_SAVE_LIST(name, Name, key) setOrRemove(key, s->name);
#define PALVERO_SAVE_SELECTION(name, Name, key) store.setObject(key, s->name);
#define PALVERO_SAVE_SWITCH(name, Name, key, param, fallback) store.setObject(key, s->name);
    PALVERO_EXTENSION_LISTS(PALVERO_SAVE_LIST)
    PALVERO_EXTENSION_SELECTIONS(PALVERO_SAVE_SELECTION)
    PALVERO_EXTENSION_SWITCHES(PALVERO_SAVE_SWITCH)
#undef PALVERO_SAVE_LIST
#undef PALVERO_SAVE_SELECTION
#undef PALVERO_SAVE_SWITCH
    setOrRemove("maxSize", s->maxSize);
    setOrRemove("lastFullBackup", s->lastFullBackup);
    setOrRemove("restoreDestinationPath", s->restoreDestinationPath);
    store.setObject("restoreDateTimeInterval", s->restoreDateTimeInterval);
    // An emptied list leaves the stored one in place (an empty list would load
    // the defaults anyway).
    if (!s->foldersToBeExcludedFromBackup.empty()) store.setObject("includefolders", s->foldersToBeExcludedFromBackup);
    if (!s->foldersToBeIncludedToBackupSeparately.empty()) {
      store.setObject("excludefolders", s->foldersToBeIncludedToBackupSeparately);
    }
    if (!s->filesToBeExcludedFromBackup.empty()) store.setObject("includefiles", s->filesToBeExcludedFromBackup);
    return store.synchronize();
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       stringWithFormat("Exception in saveExtensions: %s", e.what()), kLogFailure);
    return false;
  }
}

bool CommonExtensions::saveParameter(const std::string& key, const Value& withValue) {
  const Value& value = withValue;
  bool applied = false;
#define PALVERO_PARAM_LIST(name, Name, storedKey) \
  if (!applied && key == storedKey) {             \
    set##Name(textValue(value));                  \
    applied = true;                               \
  }
#define PALVERO_PARAM_SWITCH(name, Name, storedKey, param, fallback) \
  if (!applied && key == param) {                                    \
    set##Name(LocalSettings::integerReading(value) != 0);            \
    applied = true;                                                  \
  }
  PALVERO_EXTENSION_LISTS(PALVERO_PARAM_LIST)
  PALVERO_EXTENSION_SWITCHES(PALVERO_PARAM_SWITCH)
#undef PALVERO_PARAM_LIST
#undef PALVERO_PARAM_SWITCH
  if (!applied) {
    auto given = value.is_null() ? std::nullopt : std::optional<Value>(value);
    if (key == "lastFullBackup") {
      setLastFullBackup(given);
    } else if (key == "maxSize") {
      setMaxSize(given);
    } else if (key == "includefolders") {
      setFoldersToBeExcludedFromBackup(pathList(value));
    } else if (key == "excludefolders") {
      setFoldersToBeIncludedToBackupSeparately(pathList(value));
    } else if (key == "includefiles") {
      setFilesToBeExcludedFromBackup(pathList(value));
    } else if (key == "restoreDestinationPath") {
      setRestoreDestinationPath(textValue(value));
    } else if (key == "restoreDateTimeInterval") {
      setRestoreDateTimeInterval(doubleValue(value));
    }
  }
  return saveExtensions();
}

std::string CommonExtensions::extensionsStringFor(const Value& selection) {
  std::string out;
  if (!selection.is_object()) return out;
  for (const auto& [extension, chosen] : selection.items()) {
    if (!LocalSettings::booleanReading(chosen)) continue;
    if (!out.empty()) out += ",";
    out += "\"" + jsonEscaped(ExtensionList::asciiLowercase(extension)) + "\"";
  }
  return out;
}

std::string CommonExtensions::extentions() const {
  auto s = selection();
  // ".vmc;.vhd;" → "\".vmc\",\".vhd\""
  std::string additional;
  for (char c : s->additional.value_or("")) {
    if (c == '.') {
      additional += "\".";
    } else if (c == ';') {
      additional += "\",";
    } else {
      additional += c;
    }
  }
  if (!additional.empty() && additional.back() == ',') additional.pop_back();
  return stringWithFormat(
      "\"picture\":[%s],\"music\":[%s],\"video\":[%s],\"email\":[%s],\"diskimages\":[%s],\"compressedfiles\":[%s],"
      "\"backup\":[%s],\"temporary\":[%s],\"binary\":[%s],\"complexFiles\":[%s],\"additional\":[%s]",
      extensionsStringFor(s->pictureValues).c_str(), extensionsStringFor(s->musicValues).c_str(),
      extensionsStringFor(s->videoValues).c_str(), extensionsStringFor(s->emailValues).c_str(),
      extensionsStringFor(s->diskImagesValues).c_str(), extensionsStringFor(s->compressedFilesValues).c_str(),
      extensionsStringFor(s->backupValues).c_str(), extensionsStringFor(s->temporarilyValues).c_str(),
      extensionsStringFor(s->binaryValues).c_str(), extensionsStringFor(s->complexValues).c_str(), additional.c_str());
}

std::string CommonExtensions::getFoldersToBeExcludedFromBackup() const {
  return quotedList(selection()->foldersToBeExcludedFromBackup);
}

std::string CommonExtensions::getFoldersToBeIncludedToBackupSeparately() const {
  return quotedList(selection()->foldersToBeIncludedToBackupSeparately);
}

std::string CommonExtensions::exclusionsToJSON() const {
  auto s = selection();
  // The size is written as its integer reading, so a text value from the
  // server cannot break the document.
  std::string size = s->maxSize ? std::to_string(s->maxSizeBytes()) : "(null)";
  return stringWithFormat(
      "{\"Exclusions\":{\"items\":{\"extensions\":{%s},\"externalhd\":%s,\"externalhdid\":%s,\"size\":%s,"
      "\"emptyfiles\":%s,\"emptyextension\":%s},\"excludefolders\":[%s], \"includefolders\":[%s], "
      "\"BackupHiddenFiles\":%s}}",
      extentions().c_str(), literal(s->externalhd), literal(s->externalhdid), size.c_str(), literal(s->emptyfiles),
      literal(s->emptyExtension), quotedList(s->foldersToBeIncludedToBackupSeparately).c_str(),
      quotedList(s->foldersToBeExcludedFromBackup).c_str(), literal(s->backupHiddenFiles));
}

void CommonExtensions::checkFoldersForInterceptions() {
  try {
    update([](Selection& s) {
      std::erase_if(s.foldersToBeIncludedToBackupSeparately, [&](const std::string& path) {
        return std::find(s.foldersToBeExcludedFromBackup.begin(), s.foldersToBeExcludedFromBackup.end(), path) !=
               s.foldersToBeExcludedFromBackup.end();
      });
    });
    saveExtensions();
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(
        kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception in checkFoldersForInterceptions with reason: %s", e.what()), kLogFailure);
  }
}

}  // namespace palvero
