// The desktop application around the core: one per user (a second launch
// brings the window forward; a running `palvero daemon` may be stopped and
// taken over), the Qt run loop installed as the core's main loop, the
// launch sequence of AppDelegate with this window as its view, the wizard or
// the main window, the status item and its menu, and the shutdown sequence
// when the event loop ends.
//
// Thread contract: GUI thread only, after QApplication exists.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "app/AppDelegate.h"
#include "app/InstanceLock.h"

namespace palvero::ui {

class AppWindow;
class SingleInstance;
class StatusItem;
class WizardView;

class DesktopApp : public QObject {
  Q_OBJECT

 public:
  struct Options {
    // The instance lock and the reopen socket; off in tests that run several
    // apps in one process.
    bool singleInstance = true;
    // Keep the window hidden at a normal start when a tray can show the
    // status item (the login item's start).
    bool minimized = false;
    // Passed to the core: the controller's server client, engines, timers;
    // the quit question unless given.
    AppDelegate::Options core;
  };

  explicit DesktopApp(Options options);
  ~DesktopApp() override;

  // The instance lock, asking the user when another Palvero holds it; false
  // when this process must end (the running one was brought forward, or the
  // user declined).
  bool acquireInstance();
  // The launch sequence: the wizard or the main window.
  void start();
  // start() and the event loop; the shutdown sequence after it.
  int exec();
  // The shutdown sequence of the core; safe to call twice.
  void shutdown();

  // The wizard's hand-over: status item, main window, login item.
  void handOver();
  // The status menu's entries.
  void openApp();
  void openHelp();
  void logout();
  void closeApp();

  AppWindow* window() const { return window_; }
  WizardView* wizard() const { return wizard_; }
  AppDelegate* delegate() const { return delegate_.get(); }
  StatusItem* statusItem() const { return statusItem_; }

 signals:
  void mainWindowShown();

 private:
  bool takeOverFromHolder();
  // The main window bound to the core: controller, restore, watcher.
  void attachMainWindow();
  void buildStatusItem();

  Options options_;
  std::shared_ptr<InstanceLock> lock_;
  SingleInstance* singleInstance_ = nullptr;
  AppWindow* window_ = nullptr;
  WizardView* wizard_ = nullptr;
  StatusItem* statusItem_ = nullptr;
  std::unique_ptr<AppDelegate> delegate_;
  bool shutDown_ = false;
};

}  // namespace palvero::ui
