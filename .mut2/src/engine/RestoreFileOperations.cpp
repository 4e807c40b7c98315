#include "engine/RestoreFileOperations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>

#include "base/Date.h"
#include "base/Hex.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace {

// A local file changed after the revision (by a whole second or more) holds
// work the revision lacks: it is never replaced silently.
bool isNewerThan(const struct stat& st, const std::string& changeTime) {
  if (!S_ISREG(st.st_mode)) return false;
  std::optional<Date> revision = Date::parse(changeTime, Date::kSettingsPattern);
  if (!revision) return false;
  return static_cast<double>(st.st_mtim.tv_sec) >= revision->timeIntervalSince1970() + 1;
}

}  // namespace

bool RestoreFileOperations::writeDataToFile(const Bytes& data, const std::string& File) {
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(File, O_WRONLY | O_APPEND | O_CLOEXEC));
  if (!fd) return false;
  if (!fs.writeAll(fd.get(), data.data(), data.size())) return false;
  return fs.close(fd.release()) == 0;
}

Bytes RestoreFileOperations::getDataFromHexString(const std::string& text) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text) {
    if (c != ' ') digits.push_back(c);
  }
  Bytes out;
  out.reserve(digits.size() / 2);
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    int high = hexDigitValue(digits[i]);
    int low = hexDigitValue(digits[i + 1]);
    // Like strtol over the pair: the valid leading digits count, the rest not.
    int value = high < 0 ? 0 : (low < 0 ? high : high * 16 + low);
    out.push_back(static_cast<uint8_t>(value));
  }
  return out;
}

std::pair<std::string, std::string> RestoreFileOperations::splitExtension(const std::string& target) {
  size_t nameStart = target.rfind('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  size_t dot = target.rfind('.');
  // A dot that begins the name, or none inside the name, starts no extension;
  // neither does a trailing dot.
  if (dot == std::string::npos || dot <= nameStart || dot + 1 == target.size()) return {target, ""};
  return {target.substr(0, dot), target.substr(dot + 1)};
}

bool RestoreFileOperations::isInsideBundle(const std::string& target) {
  std::string stem = splitExtension(target).first;
  std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* suffix : {".app", ".dmg", ".ipa", ".lpdf"}) {
    if (stem.find(suffix) != std::string::npos) return true;
  }
  return false;
}

std::string RestoreFileOperations::fileToWrite(const std::string& target, const std::string& changeTime,
                                               bool replaceFiles, bool keepNewerLocal) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || isInsideBundle(target)) return target;
  if (replaceFiles && !(keepNewerLocal && isNewerThan(st, changeTime))) return target;
  auto [stem, extension] = splitExtension(target);
  if (extension.empty()) return stem + "(" + changeTime + ")";
  return stem + "(" + changeTime + ")." + extension;
}

}  // namespace palvero
