#include "support/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "base/NotificationCenter.h"
#include "platform/PreferencesStore.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero::testing {
namespace fs = std::filesystem;

namespace {
const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
}

TempHome::TempHome() {
  std::string pattern = (fs::temp_directory_path() / "palvero-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
  for (const char* name : kVariables) {
    const char* old = std::getenv(name);
    savedEnv_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  setenv("HOME", path_.c_str(), 1);
  setenv("XDG_DATA_HOME", (path_ + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (path_ + "/.cache").c_str(), 1);
  resetSingletons();
}

TempHome::~TempHome() {
  resetSingletons();
  for (const auto& [name, value] : savedEnv_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void TempHome::resetSingletons() {
  NotificationCenter::defaultCenter().resetForTesting();
  FilesToBackup::resetForTesting();
  DBManager::resetForTesting();
  LogWriter::resetForTesting();
  LocalSettings::resetForTesting();
  PreferencesStore::resetForTesting();
}

void writeFile(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace palvero::testing
