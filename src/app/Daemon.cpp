#include "app/Daemon.h"

#include <chrono>

#include "platform/ServiceManager.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

constexpr std::chrono::seconds kWatchesBound{60};

}  // namespace

Daemon::Daemon(StdRunLoop& loop, AppDelegate::Options options) : loop_(loop), options_(std::move(options)) {}

void Daemon::requestStop() { loop_.stop(); }

int Daemon::run(std::string& message) {
  loop_.runPending();  // binds the loop to this thread
  AppDelegate::Options options = options_;
  options.terminate = [this] { loop_.stop(); };
  options.confirmQuit = nullptr;
  // Without a window there is no login page to come back to: the daemon
  // stops and says so.
  options.relaunch = [this] {
    exitCode_.store(kExitNotLoggedIn);
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       "The service refused the password; the daemon stops", kLogFailure);
    loop_.stop();
  };
  AppDelegate app(options);
  if (app.applicationDidFinishLaunching() == AppDelegate::LaunchState::kWizard) {
    app.applicationWillTerminate();
    message = "this computer is not logged in; run \"palvero login --user NAME\" first";
    return kExitNotLoggedIn;
  }
  // Under systemd (Type=notify) the unit counts as started only now, once a
  // change made from here on is seen (a very large tree may take longer
  // than the bound; it is then reported ready while its watches are set).
  app.waitUntilWatching(kWatchesBound);
  ServiceManager::notifyReady("Watching for changes");
  loop_.run();
  ServiceManager::notifyStopping();
  app.applicationWillTerminate();
  if (exitCode_.load() == kExitNotLoggedIn) {
    message = "the service refused this computer's password; run \"palvero login\" again";
  }
  return exitCode_.load();
}

}  // namespace palvero
