#include "ui/DesktopApp.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QProgressDialog>
#include <QSystemTrayIcon>
#include <QThread>
#include <QUrl>
#include <chrono>

#include "app/InstanceTakeover.h"
#include "app/ProcessStartup.h"
#include "base/RunLoop.h"
#include "protocol/CommunicationServer.h"
#include "state/LogWriter.h"
#include "ui/Alerts.h"
#include "ui/AppWindow.h"
#include "ui/Background.h"
#include "ui/QtRunLoop.h"
#include "ui/SingleInstance.h"
#include "ui/StatusItem.h"
#include "ui/Text.h"
#include "ui/main/LeftBar.h"
#include "ui/main/MainWindow.h"
#include "ui/wizard/WizardView.h"

namespace palvero::ui {
namespace {

// The daemon writes its batch and settings on the way out; a worker in the
// middle of a large file is given up to a minute to let go.
constexpr auto kDaemonStopTimeout = std::chrono::seconds(90);
// Two launches at once: the first may not listen yet when the second asks.
constexpr int kReopenAttempts = 5;
constexpr unsigned long kReopenPauseMs = 300;

}  // namespace

DesktopApp::DesktopApp(Options options) : options_(std::move(options)) {
  // The one start-up of every front end, with Qt's loop as the main loop.
  ProcessStartup::start(dynamic_cast<QtRunLoop*>(&RunLoop::main()) ? nullptr : std::make_shared<QtRunLoop>());
  window_ = new AppWindow();
  window_->setOnWizardClosed([this] { closeApp(); });

  AppDelegate::Options core = options_.core;
  core.view = window_->mainWindow();
  // exit(), not quit(): quit() first closes the windows, and closing this
  // window hides it or, in the wizard, asks to quit once more.
  core.terminate = [] { QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection); };
  if (!core.confirmQuit) {
    core.confirmQuit = [this] { return Alerts::confirmNow(window_, T("appCloseTitle"), T("appCloseInfo")); };
  }
  delegate_ = std::make_unique<AppDelegate>(core);
}

DesktopApp::~DesktopApp() {
  shutdown();
  delete statusItem_;
  delete window_;
}

bool DesktopApp::acquireInstance() {
  if (!options_.singleInstance) return true;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    if (SingleInstance::askRunningToReopen()) return false;
    lock_ = std::make_unique<InstanceLock>();
    if (lock_->acquired()) break;
    lock_.reset();
    if (InstanceTakeover::holder(InstanceLock::holderPid()) != InstanceTakeover::Holder::kDesktop) break;
    // The other app holds the lock but may not answer yet: it is starting.
    QThread::msleep(kReopenPauseMs);
  }
  if (!lock_ && !takeOverFromHolder()) return false;
  singleInstance_ = new SingleInstance(this);
  singleInstance_->listen([this] { openApp(); });
  return true;
}

bool DesktopApp::takeOverFromHolder() {
  std::optional<long> pid = InstanceLock::holderPid();
  auto holder = InstanceTakeover::holder(pid);
  QString process = pid ? QString::number(*pid) : QStringLiteral("?");
  if (holder != InstanceTakeover::Holder::kDaemon) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Palvero"), T("anotherPalveroRunning").arg(process));
    box.setInformativeText(T("anotherPalveroRunningInfo"));
    box.addButton(T("ok"), QMessageBox::AcceptRole);
    box.exec();
    return false;
  }
  QMessageBox ask(QMessageBox::Question, QStringLiteral("Palvero"), T("daemonRunning").arg(process));
  ask.setObjectName(QStringLiteral("takeOverQuestion"));
  ask.setInformativeText(T("daemonRunningInfo"));
  QPushButton* take = ask.addButton(T("takeOver"), QMessageBox::AcceptRole);
  take->setObjectName(QStringLiteral("takeOverButton"));
  QPushButton* cancel = ask.addButton(T("cancel"), QMessageBox::RejectRole);
  ask.setDefaultButton(take);
  ask.setEscapeButton(cancel);
  ask.exec();
  if (ask.clickedButton() != take) return false;

  QProgressDialog progress(T("stoppingDaemon"), QString(), 0, 0);
  progress.setObjectName(QStringLiteral("takeOverProgress"));
  progress.setWindowTitle(QStringLiteral("Palvero"));
  progress.setMinimumDuration(0);
  progress.show();
  // The daemon takes its time to write its queue; the dialog stays live.
  QEventLoop wait;
  long holderPid = *pid;
  runInBackground(
      &progress,
      [holderPid] {
        return std::shared_ptr<InstanceLock>(InstanceTakeover::stopDaemonAndLock(
            holderPid, std::chrono::duration_cast<std::chrono::milliseconds>(kDaemonStopTimeout)));
      },
      [this, &wait](std::shared_ptr<InstanceLock> lock) {
        lock_ = std::move(lock);
        wait.quit();
      });
  wait.exec();
  progress.close();
  if (lock_) return true;
  QMessageBox failed(QMessageBox::Warning, QStringLiteral("Palvero"), T("takeOverFailed"));
  failed.addButton(T("ok"), QMessageBox::AcceptRole);
  failed.exec();
  return false;
}

void DesktopApp::start() {
  if (delegate_->applicationDidFinishLaunching() == AppDelegate::LaunchState::kWizard) {
    wizard_ = new WizardView();
    connect(wizard_, &WizardView::finished, this, &DesktopApp::handOver);
    window_->showWizard(wizard_);
    window_->bringForward();
    return;
  }
  attachMainWindow();
  window_->showMainWindow();
  buildStatusItem();
  bool hidden = options_.minimized && statusItem_ && statusItem_->trayIcon()->isVisible();
  if (!hidden) window_->bringForward();
  emit mainWindowShown();
}

void DesktopApp::handOver() {
  if (!delegate_) return;
  delegate_->setMainVC(true);
  attachMainWindow();
  window_->showMainWindow();
  buildStatusItem();
  window_->bringForward();
  emit mainWindowShown();
}

void DesktopApp::attachMainWindow() {
  MainWindow* main = window_->mainWindow();
  main->setController(delegate_->mainViewController());
  main->setPagesCore(delegate_->restoreControl(), delegate_->changeWatcher(), CommunicationServer::create());
}

void DesktopApp::buildStatusItem() {
  StatusItem::Actions actions{[this] { openApp(); }, [this] { openHelp(); }, [this] { logout(); },
                              [this] { closeApp(); }};
  if (!statusItem_) {
    statusItem_ = new StatusItem(actions);
    statusItem_->show();
  }
  auto* menu = new QMenu(window_);
  menu->setObjectName(QStringLiteral("windowMenu"));
  StatusItem::fillMenu(menu, actions, false);
  window_->mainWindow()->leftBar()->setMenu(menu);
}

int DesktopApp::exec() {
  start();
  int code = QApplication::exec();
  shutdown();
  return code;
}

void DesktopApp::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  window_->mainWindow()->setController(nullptr);
  window_->mainWindow()->setPagesCore(nullptr, nullptr, nullptr);
  delegate_->applicationWillTerminate();
  delegate_.reset();
}

void DesktopApp::openApp() { window_->bringForward(); }

void DesktopApp::openHelp() { QDesktopServices::openUrl(QUrl(QStringLiteral(PALVERO_HELP_URL))); }

// After the shutdown a menu entry still queued finds no core.
void DesktopApp::logout() {
  if (delegate_) delegate_->logout();
}

void DesktopApp::closeApp() {
  if (delegate_) delegate_->closeApp();
}

}  // namespace palvero::ui
