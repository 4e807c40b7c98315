// The life of the application process, with or without a window: the
// objects made at launch in their fixed order, the choice between the
// first-run path (not logged in) and the normal path, the change watcher,
// sleep and wake, quit, logout and the wrong-password reset.
//
// Front ends (the daemon, the tray app) give it what differs between them
// through Options: the view, how the process ends and how it starts again.
//
// Thread contract: everything runs on the main thread (RunLoop::main())
// except the sleep monitor's reports, which are moved there, and the
// ChangeWatcherDelegate calls, which come from the watcher's background
// queue and are forwarded to the main window controller.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/ApplicationHooks.h"
#include "app/DesktopAlerts.h"
#include "app/MainView.h"
#include "app/MainViewController.h"
#include "app/RestoreQueueControl.h"
#include "app/ServerLink.h"
#include "platform/SleepMonitor.h"
#include "selection/ChangeWatcher.h"
#include "selection/ChangeWatcherDelegate.h"
#include "selection/WatcherBuffer.h"

namespace palvero {

class AppDelegate : public ApplicationHooks, public ChangeWatcherDelegate {
 public:
  enum class LaunchState { kWizard, kMainWindow };
  // The desktop app's flag to start with its window hidden, in the tray;
  // the login item written at the wizard's hand-over passes it.
  static constexpr const char* kStartMinimizedFlag = "--minimized";

  struct Options {
    MainView* view = nullptr;
    // The controller's server client; a CommunicationServerLink when null.
    std::function<std::shared_ptr<ServerLink>()> makeServerLink;
    // One engine per worker; DeltaHandler when null.
    MainViewController::EngineFactory engineFactory;
    MainViewController::Options controllerOptions;
    // Start the change watcher's event stream and the sleep monitor.
    bool watchChanges = true;
    bool watchSleep = true;
    // Ends the process (the run loop stops); called by closeApp().
    std::function<void()> terminate;
    // Asked before quitting; quits when it returns true.
    std::function<bool()> confirmQuit;
    // The wrong-password reset: start again (tray app) or stop with a
    // message (daemon). Default: relaunch this program after 3 seconds
    // with `relaunchArguments`, then terminate.
    std::function<void()> relaunch;
    std::vector<std::string> relaunchArguments;
    // The arguments of the login item written at the wizard's hand-over.
    std::vector<std::string> loginItemArguments{kStartMinimizedFlag};
    // Desktop notifications while "showAlerts" is on (DesktopAlerts); the
    // sender is a test seam (the session bus's notification service when
    // null).
    bool desktopAlerts = true;
    std::function<bool(const DesktopNotifier::Message&)> alertSender;
    // Test seam: the sleep source.
    std::function<std::unique_ptr<SleepMonitor>()> makeSleepMonitor;
  };

  explicit AppDelegate(Options options);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // The launch sequence. kWizard when the client is not logged in (the
  // first-run defaults are stored), kMainWindow when the controller runs.
  LaunchState applicationDidFinishLaunching();
  // The wizard's hand-over (after login): the normal path's objects, the
  // login item when `registerLoginItem`, the watcher.
  void setMainVC(bool registerLoginItem);
  // Blocks until the change watcher's event stream has its watches set (a
  // change made after that is seen), or `timeout` passed; false then, or
  // when nothing watches.
  bool waitUntilWatching(std::chrono::milliseconds timeout);
  // The shutdown sequence: the watcher's records flushed, the run stopped
  // and the batch written, the catalogue and settings saved (unless logged
  // out). Safe to call twice.
  void applicationWillTerminate();
  // Removes the support leftovers of a self-update.
  static void deleteUpdater();
  // Removes the preferences and the database, then asks to quit.
  void logout();
  static bool deleteSettings();
  static bool deleteDatabase();
  // Asks (confirmQuit) and terminates.
  void closeApp();

  void addSleepNotificationHanlders();
  void receiveSleepNote(const std::string& name);
  void receiveWakeNote(const std::string& name);

  // ApplicationHooks.
  bool isInSleep() const override { return isInSleep_.load(); }
  void setIsInSleep(bool inSleep) override { isInSleep_.store(inSleep); }
  void relaunchAfterDelay() override;

  // ChangeWatcherDelegate: forwarded to the controller while there is one.
  bool isBackupRunning() override;
  void stopBackup() override;
  void restartBackup() override;
  void setScanning(bool scanning) override;
  bool saveExclusionsToServer() override;

  MainViewController* mainViewController() const { return mainViewController_.get(); }
  ChangeWatcher* changeWatcher() const { return changeWatcher_.get(); }
  RestoreQueueControl* restoreControl() const { return restoreControl_.get(); }
  bool loggedOut() const { return loggedOut_.load(); }

 private:
  void startNormalPath(bool handOver, bool registerLoginItem);
  void sendClientSettingsIfNewVersion();
  void startWatcher();

  Options options_;
  std::unique_ptr<WatcherBuffer> buffer_;
  std::unique_ptr<ChangeWatcher> changeWatcher_;
  // Outlives the controller, which holds it as its RestoreControl.
  std::unique_ptr<RestoreQueueControl> restoreControl_;
  std::unique_ptr<MainViewController> mainViewController_;
  std::unique_ptr<SleepMonitor> sleepMonitor_;
  std::unique_ptr<DesktopAlerts> alerts_;
  std::atomic<bool> isInSleep_{false};
  std::atomic<bool> loggedOut_{false};
  std::atomic<bool> terminated_{false};
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace palvero
