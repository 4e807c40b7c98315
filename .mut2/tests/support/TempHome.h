// Gives a test its own home: a fresh temporary folder set as HOME and as the
// XDG data, config and cache folders, with the process-wide singletons of the
// lower layers reset so that they load from it. Restores the environment and
// removes the folder at the end.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace palvero::testing {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the home folder.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Resets the singletons of base, platform and state (preferences, settings,
  // database, log writer, notification observers).
  static void resetSingletons();

 private:
  std::string path_;
  std::map<std::string, std::optional<std::string>> savedEnv_;
};

// Writes `data` to `path`, creating parent folders.
void writeFile(const std::string& path, const std::string& data);
// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace palvero::testing
