// Where things live on this machine and the constants of the build.
//
// Folders follow the XDG base directories: the support folder (database, logs,
// updater) is $XDG_DATA_HOME/<bundle id>, the caches folder $XDG_CACHE_HOME,
// the config folder (preferences) $XDG_CONFIG_HOME/<bundle id>. Every call
// reads the environment afresh, so a test may point HOME elsewhere.
//
// Thread contract: safe from any thread (as long as nobody changes the
// environment at the same time).
#pragma once

#include <string>

namespace palvero {

class Env {
 public:
  static std::string homeDirectory();
  // The per-user application-support folder: $XDG_DATA_HOME (default
  // ~/.local/share) / bundle identifier. Not created here.
  static std::string supportDirectory();
  // The per-user caches folder: $XDG_CACHE_HOME (default ~/.cache).
  static std::string cachesDirectory();
  // $XDG_CONFIG_HOME (default ~/.config) / bundle identifier.
  static std::string configDirectory();
  // $XDG_CONFIG_HOME (default ~/.config) itself.
  static std::string userConfigRoot();

  static std::string bundleIdentifier();
  // The running build's short version string, four numbers ("2.1.0.0").
  static std::string applicationVersion();

  // The address of the service's script: $PALVERO_SERVER_URL when set, else
  // the build's constant. A bare origin gets "/server.php" appended.
  static std::string serverURL();
  static std::string normalizeServerURL(const std::string& url);
  // Whether `url` is plain http:// to a host other than this computer
  // (127.0.0.0/8, ::1, localhost): the password and the session cookie
  // would cross the network unencrypted.
  static bool isUnencryptedRemoteURL(const std::string& url);
};

}  // namespace palvero
