#include "ui/main/MainWindow.h"

#include <QHBoxLayout>
#include <QStackedWidget>

#include "app/MainViewController.h"
#include "app/SupportLog.h"
#include "protocol/CommunicationServer.h"
#include "app/UsageModel.h"
#include "ui/Alerts.h"
#include "ui/Text.h"
#include "ui/main/BackupPage.h"
#include "ui/main/FailedFilesDialog.h"
#include "ui/main/LargestFilesDialog.h"
#include "ui/main/LeftBar.h"
#include "ui/main/RestorePage.h"
#include "ui/main/SendLogsDialog.h"
#include "ui/main/SettingsPage.h"

namespace palvero::ui {

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("mainWindow"));
  leftBar_ = new LeftBar(this);
  pages_ = new QStackedWidget(this);
  backupPage_ = new BackupPage(pages_);
  restorePage_ = new RestorePage(pages_);
  settingsPage_ = new SettingsPage(pages_);
  pages_->addWidget(backupPage_);
  pages_->addWidget(restorePage_);
  pages_->addWidget(settingsPage_);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(leftBar_);
  layout->addWidget(pages_, 1);

  connect(leftBar_, &LeftBar::pageChosen, this, &MainWindow::showPage);
  connect(backupPage_, &BackupPage::statusButtonClicked, this, [this] {
    if (controller_) controller_->statusButton();
  });
  connect(backupPage_, &BackupPage::checkStatusRequested, this, &MainWindow::checkStatusPressed);
  connect(backupPage_, &BackupPage::failedFilesRequested, this, &MainWindow::openFailedFiles);
  connect(backupPage_, &BackupPage::largestFilesRequested, this, &MainWindow::openLargestFiles);
  connect(backupPage_, &BackupPage::sendLogsRequested, this, &MainWindow::openSendLogs);
  connect(backupPage_, &BackupPage::sendSettingsRequested, this, &MainWindow::sendSettingsPressed);
}

MainWindow::~MainWindow() = default;

void MainWindow::setController(MainViewController* controller) {
  controller_ = controller;
  if (!controller_) return;
  controller_->setStatisticsWanted(isVisible());
  statusChanged(controller_->statusModel());
  checkStatusChanged(controller_->checkStatusModel());
}

void MainWindow::setPagesCore(RestoreQueueControl* restore, ChangeWatcher* watcher,
                              std::shared_ptr<CommunicationServer> server) {
  restorePage_->setRestoreControl(restore, server);
  settingsPage_->setCore(controller_, watcher, std::move(server));
}

void MainWindow::showPage(int page) {
  if (openDialog_) openDialog_->close();
  // The settings page shows the stores as they are now.
  if (pages_->widget(page) == settingsPage_) settingsPage_->setSettingsValues();
  leftBar_->setCurrentPage(page);
  pages_->setCurrentIndex(page);
}

void MainWindow::statusChanged(const StatusModel& model) { backupPage_->showStatus(model); }

void MainWindow::checkStatusChanged(const CheckStatusModel& model) { backupPage_->showCheckStatus(model); }

void MainWindow::failedFilesChanged(const std::vector<FailedFile>& files) {
  if (failedFiles_) failedFiles_->showFiles(files);
}

void MainWindow::statisticsChanged(const Value& statistics) {
  backupPage_->showUsage(UsageModel::fromStatistics(statistics));
}

void MainWindow::showAlert(const std::string& title, const std::string& text) {
  Alerts::inform(this, Q(title), Q(text));
}

void MainWindow::updateDownloaded(const std::string& version) {
  // The hourly check finds the same version again: one question at a time.
  if (auto* asked = findChild<QMessageBox*>(QStringLiteral("updateQuestion")); asked && asked->isVisible()) return;
  QString text = version.empty() ? T("updateReadyInfo") : T("updateReadyVersionInfo").arg(Q(version));
  QMessageBox* box = Alerts::confirm(this, T("updateReady"), text, [this](bool install) {
    if (install && controller_) controller_->installUpdate();
  });
  box->setObjectName(QStringLiteral("updateQuestion"));
}

void MainWindow::checkStatusPressed() {
  backupPage_->setCheckStatusShown(true);
  if (!controller_) return;
  backupPage_->showCheckStatus(controller_->checkStatusModel());
  controller_->checkStatus();
}

void MainWindow::openFailedFiles() {
  if (!failedFiles_) {
    failedFiles_ = new FailedFilesDialog(this);
    connect(failedFiles_, &FailedFilesDialog::deleteRequested, this, [this](const QString& path) {
      if (controller_) controller_->deleteFailedFile(path.toStdString());
    });
  }
  present(failedFiles_);
  if (controller_) controller_->failedFiles();
}

void MainWindow::openLargestFiles(const QString& category) {
  if (!largestFiles_) largestFiles_ = new LargestFilesDialog(this);
  present(largestFiles_);
  largestFiles_->showCategory(category);
}

void MainWindow::openSendLogs() {
  if (!sendLogs_) {
    sendLogs_ = new SendLogsDialog(this);
    connect(sendLogs_, &SendLogsDialog::sendRequested, this, [this](const QString& message) {
      if (controller_) controller_->sendLogs(message.toStdString());
    });
  }
  present(sendLogs_);
}

void MainWindow::sendSettingsPressed() {
  SupportLog::logFolderSettings();
  openSendLogs();
}

void MainWindow::present(QDialog* dialog) {
  if (openDialog_ && openDialog_ != dialog) openDialog_->close();
  openDialog_ = dialog;
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
  dialog->raise();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!controller_) return;
  bool wasWanted = controller_->statisticsWanted();
  controller_->setStatisticsWanted(true);
  // Shown again: fresh figures now rather than at the next tick.
  if (!wasWanted) controller_->updateStatistic();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (controller_) controller_->setStatisticsWanted(false);
}

}  // namespace palvero::ui
