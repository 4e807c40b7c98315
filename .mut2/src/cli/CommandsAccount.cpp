// login and logs send: the commands that need the account requests.
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "app/LoginFlow.h"
#include "app/ProcessStartup.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "platform/Env.h"
#include "platform/LoginItem.h"
#include "platform/Process.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"

namespace palvero::cli {

int Commands::login() {
  if (!lockInstance()) return kExitUsage;
  if (!request_.passwordStdin && !::isatty(STDIN_FILENO)) {
    err_ << "palvero: no terminal to ask for the password; use --password-stdin\n";
    return kExitUsage;
  }
  warnIfUnencrypted();
  auto password = readSecretLine(!request_.passwordStdin, "Password: ", err_);
  if (!password || password->empty()) {
    err_ << "palvero: no password given\n";
    return kExitUsage;
  }
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  LoginFlow::Options options;
  options.user = request_.user;
  options.password = *password;
  if (!request_.newDevice.empty()) options.newDevice = request_.newDevice;
  if (!request_.device.empty()) options.device = request_.device;
  LoginFlow::Result result = LoginFlow::run(*loop, options);
  switch (result.outcome) {
    case LoginFlow::Outcome::kLoggedIn:
      break;
    case LoginFlow::Outcome::kChooseDevice:
    case LoginFlow::Outcome::kNoSuchDevice:
      err_ << "palvero: " << result.message << "\n";
      for (const auto& device : result.devices) {
        err_ << "  " << device.value("Name", std::string("?")) << "  (id " << device.value("DeviceID", std::string("?"))
             << ")\n";
      }
      return kExitUsage;
    case LoginFlow::Outcome::kUnreachable:
    case LoginFlow::Outcome::kTimedOut:
      err_ << "palvero: " << result.message << "\n";
      return kExitUnreachable;
    default:
      err_ << "palvero: " << result.message << "\n";
      return kExitNotLoggedIn;
  }
  if (request_.autostart) {
    std::string self = Process::executablePath();
    if (self.empty() || !LoginItem::enable(self, {"daemon"}, "Palvero")) {
      err_ << "palvero: the autostart entry could not be written\n";
    }
  }
  if (!request_.quiet) {
    out_ << "Logged in as " << request_.user << " on device " << result.deviceName
         << "\nNext: \"palvero scan\" to queue the backup folder, then \"palvero backup\" (or, for continuous "
            "backups, \"palvero settings set BackupTimingType 1\" and \"palvero daemon\")\n";
  }
  return kExitSuccess;
}

std::optional<std::string> Commands::readSecretLine(bool echoOff, const char* prompt, std::ostream& promptOut) {
  bool terminal = ::isatty(STDIN_FILENO);
  termios saved{};
  if (echoOff && terminal) {
    promptOut << prompt << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool read = static_cast<bool>(std::getline(std::cin, line));
  if (echoOff && terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    promptOut << "\n";
  }
  if (!read && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void Commands::warnIfUnencrypted() {
  std::string url = Env::serverURL();
  if (Env::isUnencryptedRemoteURL(url)) {
    err_ << "palvero: warning: " << url
         << " is plain http to another computer: the password and the session travel unencrypted; use https\n";
  }
}

int Commands::logsSend() {
  if (!requireLogin()) return kExitNotLoggedIn;
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  loop->runPending();
  auto server = CommunicationServer::create();
  if (!server->syncAuthorise()) {
    err_ << "palvero: the service refused this computer's credentials (or does not answer)\n";
    return server->syncPing() == CommunicationServer::kConnectionOffline ? kExitUnreachable : kExitNotLoggedIn;
  }
  std::optional<bool> sent;
  auto& center = NotificationCenter::defaultCenter();
  auto ok = center.addObserver("LogsSentOK", server.get(), [&](const Notification&) { sent = true; });
  auto fail = center.addObserver("LogsSentFail", server.get(), [&](const Notification&) { sent = false; });
  server->sendLogsWithMessage(request_.message, false);
  loop->runUntil([&] { return sent.has_value(); }, std::chrono::minutes(5));
  center.removeObserver(ok);
  center.removeObserver(fail);
  if (!sent || !*sent) {
    err_ << "palvero: the logs could not be sent\n";
    return kExitUnreachable;
  }
  out_ << "Logs sent to support\n";
  return kExitSuccess;
}

}  // namespace palvero::cli
