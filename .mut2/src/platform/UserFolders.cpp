#include "platform/UserFolders.h"

#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/Env.h"

namespace palvero {
namespace {

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string userFolder(const std::string& key, const char* fallbackName) {
  std::string home = withoutTrailingSlash(Env::homeDirectory());
  std::string text;
  if (AtomicFile::read(Env::userConfigRoot() + "/user-dirs.dirs", text)) {
    std::string folder = UserFolders::folderFromUserDirs(text, key, home);
    if (!folder.empty()) return folder;
  }
  return home + "/" + fallbackName;
}

}  // namespace

std::string UserFolders::folderFromUserDirs(const std::string& text, const std::string& key, const std::string& home) {
  std::istringstream lines(text);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(start + key.size() + 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
    // The format allows only "$HOME/..." or an absolute path, in double quotes.
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    std::string path;
    if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
      path = home + value.substr(5);
    } else if (!value.empty() && value.front() == '/') {
      path = value;
    } else {
      continue;
    }
    found = withoutTrailingSlash(path);  // the last assignment wins, as in a shell
  }
  return found == withoutTrailingSlash(home) ? std::string() : found;
}

std::string UserFolders::documentsDirectory() { return userFolder("XDG_DOCUMENTS_DIR", "Documents"); }

std::string UserFolders::desktopDirectory() { return userFolder("XDG_DESKTOP_DIR", "Desktop"); }

}  // namespace palvero
