#include "app/FileTypeSelection.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "selection/ExtensionList.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

using CE = CommonExtensions;

constexpr int64_t kMegabyte = int64_t{1} << 20;
constexpr int64_t kGigabyte = int64_t{1} << 30;

std::string upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

const std::vector<FileTypeSelection::Category>& FileTypeSelection::categories() {
  static const std::vector<Category> table = {
      {"picture", "pictureValues",
       {".JPEG", ".JPG", ".TIFF", ".TIF", ".RAW", ".BMP", ".PNG", ".GIF", ".ARW", ".RW2", ".CR2", ".SRF", ".NEF",
        ".DNG", ".PSD", ".PXM"},
       &CE::pictureValues, &CE::setPictureValues, &CE::picture, &CE::setPicture},
      {"video", "videoValues",
       {".AVI", ".MP4", ".QTM", ".MOV", ".M4V", ".MPG", ".QT", ".WMV", ".MKV"},
       &CE::videoValues, &CE::setVideoValues, &CE::video, &CE::setVideo},
      {"music", "musicValues",
       {".MP3", ".AAC", ".WMA", ".MPA", ".M3U", ".WAV", ".MID", ".RA", ".M4A"},
       &CE::musicValues, &CE::setMusicValues, &CE::music, &CE::setMusic},
      {"email", "emailValues", {".PST", ".MSG", ".EML", ".MHT", ".HTML"}, &CE::emailValues, &CE::setEmailValues,
       &CE::email, &CE::setEmail},
      {"diskImages", "diskImagesValues", {".ISO", ".BIN", ".CUE", ".DMG"}, &CE::diskImagesValues,
       &CE::setDiskImagesValues, &CE::diskImages, &CE::setDiskImages},
      {"compressedFiles", "compressedFilesValues", {".ZIP", ".7Z", ".TAR.GZ", ".ARJ", ".ZIPX", ".RAR", ".GZ"},
       &CE::compressedFilesValues, &CE::setCompressedFilesValues, &CE::compressedFiles, &CE::setCompressedFiles},
      {"complexFiles", "complexValues", {".APP", ".IPA", ".DMG", ".LPDF"}, &CE::complexValues,
       &CE::setComplexValues, &CE::complexFiles, &CE::setComplexFiles},
      {"backup", "backupValues", {".BAK", ".001", ".BKP", ".FBW", ".GH0"}, &CE::backupValues, &CE::setBackupValues,
       &CE::backup, &CE::setBackup},
      {"temporarily", "temporarilyValues",
       {".$$$", ".SWP", ".TMP", ".CRDOWNLOAD", ".OPDOWNLOAD", ".LOG", ".TEMP", ".PARTIAL", ".PART", ".DOWNLOAD"},
       &CE::temporarilyValues, &CE::setTemporarilyValues, &CE::temporarily, &CE::setTemporarily},
      {"binary", "binaryValues", {".EXE", ".MSI", ".DLL"}, &CE::binaryValues, &CE::setBinaryValues, &CE::binary,
       &CE::setBinary},
  };
  return table;
}

const FileTypeSelection::Category* FileTypeSelection::category(const std::string& valuesKey) {
  for (const auto& each : categories()) {
    if (valuesKey == each.valuesKey) return &each;
  }
  return nullptr;
}

bool FileTypeSelection::isChecked(const Category& category, const std::string& extension) {
  Value values = (CommonExtensions::sharedExtensionsManager().*category.values)();
  auto it = values.is_object() ? values.find(upper(extension)) : values.end();
  return values.is_object() && it != values.end() && LocalSettings::booleanReading(*it);
}

void FileTypeSelection::setChecked(const Category& category, const std::string& extension, bool checked) {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  std::string key = upper(extension);
  Value values = (extensions.*category.values)();
  if (!values.is_object()) values = Value::object();
  values[key] = checked;
  (extensions.*category.setValues)(values);

  // The list keeps what has no box, then the checked boxes in table order.
  std::string list;
  ExtensionList stored((extensions.*category.list)().value_or(""));
  for (const auto& entry : stored.entries()) {
    bool hasBox = false;
    for (const char* box : category.extensions) hasBox = hasBox || ExtensionList::asciiLowercase(box) == entry;
    if (!hasBox) list += upper(entry) + ";";
  }
  for (const char* box : category.extensions) {
    auto it = values.find(box);
    if (it != values.end() && LocalSettings::booleanReading(*it)) list += std::string(box) + ";";
  }
  (extensions.*category.setList)(list.empty() ? std::nullopt : std::optional<std::string>(list));
  extensions.saveExtensions();
}

int64_t FileTypeSelection::sizeLimitBytes(const std::string& text, bool gigabytes) {
  const char* begin = text.c_str();
  char* end = nullptr;
  double number = std::strtod(begin, &end);
  while (end && *end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (end == begin || (end && *end != '\0') || !(number > 0)) return -1;
  double bytes = number * static_cast<double>(gigabytes ? kGigabyte : kMegabyte);
  // Beyond any file: no limit rather than an overflow.
  if (bytes >= 9.0e18) return -1;
  return static_cast<int64_t>(bytes);
}

int64_t FileTypeSelection::storeSizeLimit(const std::string& text, bool gigabytes) {
  int64_t bytes = sizeLimitBytes(text, gigabytes);
  CommonExtensions::sharedExtensionsManager().saveParameter("maxSize", bytes);
  if (bytes > 0) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       "Max filesize changed: " + std::to_string(bytes), kLogEvent);
  }
  return bytes;
}

std::pair<std::string, bool> FileTypeSelection::sizeLimitForDisplay() {
  int64_t bytes = CommonExtensions::sharedExtensionsManager().selection()->maxSizeBytes();
  if (bytes <= 0) return {std::string(), false};
  if (bytes % kGigabyte == 0) return {std::to_string(bytes / kGigabyte), true};
  if (bytes % kMegabyte == 0) return {std::to_string(bytes / kMegabyte), false};
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(bytes) / kMegabyte);
  return {text, false};
}

}  // namespace palvero
