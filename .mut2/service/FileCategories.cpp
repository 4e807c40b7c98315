#include "FileCategories.h"

#include <algorithm>
#include <map>

namespace palvero::service {
namespace {

const std::map<std::string, std::string>& table() {
  static const auto* map = [] {
    auto* m = new std::map<std::string, std::string>();
    auto add = [m](const char* category, std::initializer_list<const char*> extensions) {
      for (const char* e : extensions) (*m)[e] = category;
    };
    add("documents", {"doc", "docx", "odt", "ods", "odp", "pdf", "txt", "rtf", "xls", "xlsx", "ppt", "pptx", "md",
                      "csv", "pages", "numbers", "key", "tex", "epub"});
    add("pictures",
        {"jpg", "jpeg", "png", "gif", "bmp", "tif", "tiff", "raw", "arw", "dng", "psd", "heic", "svg", "webp", "pxm"});
    add("music", {"mp3", "wav", "flac", "aac", "m4a", "ogg", "oga", "wma", "aiff", "opus"});
    add("video", {"mp4", "mov", "avi", "mkv", "wmv", "m4v", "mpg", "mpeg", "webm", "3gp"});
    add("email", {"eml", "emlx", "msg", "pst", "mbox"});
    return m;
  }();
  return *map;
}

}  // namespace

std::string FileCategories::categoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "other";
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  auto it = table().find(extension);
  return it == table().end() ? "other" : it->second;
}

}  // namespace palvero::service
