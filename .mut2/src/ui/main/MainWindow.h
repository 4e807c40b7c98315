// The main window's content: the left bar and its three pages, and the
// dialogs of the backup page (at most one open at a time). It is the core's
// MainView: the main window controller hands it plain models on the main
// thread, and each button is forwarded to the controller.
//
// Thread contract: GUI thread only (the core's main thread is the GUI
// thread under QtRunLoop).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/MainView.h"

class QDialog;
class QMenu;
class QStackedWidget;

namespace palvero {
class ChangeWatcher;
class CommunicationServer;
class MainViewController;
class RestoreQueueControl;
}  // namespace palvero

namespace palvero::ui {

class BackupPage;
class FailedFilesDialog;
class LargestFilesDialog;
class LeftBar;
class RestorePage;
class SendLogsDialog;
class SettingsPage;

class MainWindow : public QWidget, public MainView {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The controller the buttons drive; null until the core has one.
  void setController(MainViewController* controller);
  MainViewController* controller() const { return controller_; }
  // What the restore and settings pages drive besides the controller.
  void setPagesCore(RestoreQueueControl* restore, ChangeWatcher* watcher, std::shared_ptr<CommunicationServer> server);

  // MainView, on the main thread.
  void statusChanged(const StatusModel& model) override;
  void checkStatusChanged(const CheckStatusModel& model) override;
  void failedFilesChanged(const std::vector<FailedFile>& files) override;
  void statisticsChanged(const Value& statistics) override;
  void showAlert(const std::string& title, const std::string& text) override;
  // A new version is ready: installed only when the user says so.
  void updateDownloaded(const std::string& version) override;

  void showPage(int page);
  LeftBar* leftBar() const { return leftBar_; }
  BackupPage* backupPage() const { return backupPage_; }
  RestorePage* restorePage() const { return restorePage_; }
  SettingsPage* settingsPage() const { return settingsPage_; }
  QDialog* openDialog() const { return openDialog_; }

  // The backup page's actions, as its buttons run them.
  void checkStatusPressed();
  void openFailedFiles();
  void openLargestFiles(const QString& category);
  void openSendLogs();
  void sendSettingsPressed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Closes the dialog that is open and shows `dialog` window-modal.
  void present(QDialog* dialog);

  MainViewController* controller_ = nullptr;
  LeftBar* leftBar_;
  QStackedWidget* pages_;
  BackupPage* backupPage_;
  RestorePage* restorePage_;
  SettingsPage* settingsPage_;
  FailedFilesDialog* failedFiles_ = nullptr;
  LargestFilesDialog* largestFiles_ = nullptr;
  SendLogsDialog* sendLogs_ = nullptr;
  QPointer<QDialog> openDialog_;
};

}  // namespace palvero::ui
