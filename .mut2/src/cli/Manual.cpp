#include "cli/Manual.h"

#include "cli/ExitCode.h"

namespace palvero::cli {
namespace {

constexpr const char* kExampleHeading = "Example:\n  ";

}  // namespace

const std::vector<Manual::Entry>& Manual::exitCodes() {
  static const std::vector<Entry> kCodes = {
      {std::to_string(kExitSuccess), "success"},
      {std::to_string(kExitUsage),
       "usage error, or the command cannot run here (another Palvero holds the instance lock, backups are held back "
       "by the status check, a restore item or revision the service lacks)"},
      {std::to_string(kExitNotLoggedIn), "not logged in, or the service refused the credentials"},
      {std::to_string(kExitFilesFailed),
       "some files failed: a backup or restore left failures, or verify found files that cannot be restored"},
      {std::to_string(kExitUnreachable), "the service does not answer"},
      {std::to_string(kExitInterrupted), "interrupted by SIGINT or SIGTERM; the rest stays queued"},
  };
  return kCodes;
}

const std::vector<Manual::Entry>& Manual::files() {
  static const std::vector<Entry> kFiles = {
      {"$XDG_CONFIG_HOME/com.palvero.desktop/preferences.json",
       "settings, exclusions and the login (mode 0600; default ~/.config)"},
      {"$XDG_DATA_HOME/com.palvero.desktop/",
       "the support folder (default ~/.local/share): the queue database palverofiles.db, the logs log<N>.log, the "
       "instance lock palvero.lock and palvero.pid"},
      {"$XDG_CACHE_HOME/PalveroCaches/", "per-worker scratch folders (default ~/.cache)"},
      {"$XDG_CONFIG_HOME/autostart/com.palvero.desktop.desktop",
       "the login item written by \"login --autostart\" or by the desktop app's first run"},
      {"/usr/lib/systemd/user/palvero.service",
       "the systemd user unit that runs \"palvero daemon\" (systemctl --user enable --now palvero.service)"},
  };
  return kFiles;
}

const std::vector<Manual::Entry>& Manual::environment() {
  static const std::vector<Entry> kVariables = {
      {"PALVERO_SERVER_URL",
       "address of the service: the script (http://HOST:PORT/server.php) or a bare origin; --server overrides it"},
      {"HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME", "where the files above live"},
      {"https_proxy, http_proxy, no_proxy", "the system proxy, used when the proxy setting asks for it"},
      {"NOTIFY_SOCKET", "set by systemd: \"palvero daemon\" reports there when it is ready and when it stops"},
      {"DBUS_SESSION_BUS_ADDRESS",
       "the session bus on which desktop notifications are sent when the setting showAlerts is on"},
  };
  return kVariables;
}

std::string Manual::description() {
  return "Palvero backs up the files of this computer to the Palvero online backup service and restores them. "
         "\"palvero login\" registers the computer as a device of an account; \"palvero scan\" queues the backup "
         "folder; \"palvero backup\" sends the queued files, cut into blocks named by their SHA-256 and encrypted, "
         "sending only the blocks the service lacks; \"palvero daemon\" does this continuously or daily, as the "
         "settings say, and is what the systemd user unit palvero.service runs. \"palvero restore\" brings back the "
         "latest state, the state at a date, chosen items or one revision; \"palvero verify\" checks that what is "
         "stored can be restored, without writing anything.";
}

std::string Manual::exitCodeFooter() {
  std::string text = "Exit codes:";
  for (const auto& code : exitCodes()) text += "\n  " + code.term + std::string(5 - code.term.size(), ' ') + code.text;
  return text + "\n\"palvero help COMMAND\" shows the options of a command and an example.";
}

std::string Manual::exampleFooter(const std::string& example) { return kExampleHeading + example; }

std::string Manual::exampleOf(const std::string& footer) {
  const std::string heading = kExampleHeading;
  size_t at = footer.find(heading);
  if (at == std::string::npos) return "";
  std::string example = footer.substr(at + heading.size());
  size_t end = example.find('\n');
  return end == std::string::npos ? example : example.substr(0, end);
}

}  // namespace palvero::cli
